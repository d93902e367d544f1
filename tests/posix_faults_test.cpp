// The POSIX platform with system calls of the test's own in its table:
// short and interrupted transfers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix_platform.h"
#include "platform/posix_platform_test_helper.h"
#include "platform/posix_system_calls.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

constexpr std::uint32_t kBlockBytes = PosixPlatform::kBlockBytes;
constexpr std::uint32_t kStreamChunk = 128;  // what the text streams move

// Bytes that differ from position to position, so a lost, doubled or
// reordered piece shows.
std::string Pattern(std::size_t size, std::size_t seed = 0) {
  std::string bytes(size, '\0');
  for (std::size_t index = 0; index < size; ++index) {
    bytes[index] = static_cast<char>((index * 131 + index / 256 + seed) & 0xFF);
  }
  return bytes;
}

// Every write() takes at most this many bytes.
std::size_t most_per_write = std::numeric_limits<std::size_t>::max();
int write_calls = 0;

ssize_t ShortWrite(int descriptor, const void* bytes, std::size_t size) {
  ++write_calls;
  return ::write(descriptor, bytes, std::min(size, most_per_write));
}

// Every odd call of read() and write() together is interrupted before it
// moves a byte.
int interruptible_calls = 0;

ssize_t InterruptedRead(int descriptor, void* buffer, std::size_t size) {
  if (++interruptible_calls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return ::read(descriptor, buffer, size);
}

ssize_t InterruptedWrite(int descriptor, const void* bytes, std::size_t size) {
  if (++interruptible_calls % 2 == 1) {
    errno = EINTR;
    return -1;
  }
  return ::write(descriptor, bytes, size);
}

class PosixFaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_dir_.path().empty());
    PosixPlatformTestHelper::UseSystemCalls(platform_, calls_);
  }

  std::string PathOf(std::string_view name) const {
    return temp_dir_.Join(std::string(name));
  }

  // Writes `bytes` in calls of `chunk` bytes, the last one shorter; false as
  // soon as one fails.
  bool WriteInChunks(Handle handle, std::string_view bytes,
                     std::uint32_t chunk = kStreamChunk) {
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      const auto size = static_cast<std::uint32_t>(
          std::min<std::size_t>(chunk, bytes.size() - at));
      std::uint32_t written = 0;
      if (!platform_.WriteFile(handle, bytes.data() + at, size, &written)) {
        return false;
      }
    }
    return true;
  }

  ScopedTempDirectory temp_dir_;
  PosixSystemCalls calls_;
  PosixPlatform platform_{0, nullptr};
};

using PosixFaultsTransferTest = PosixFaultsTest;

TEST_F(PosixFaultsTransferTest, ShortWritesArriveIntactAndInOrder) {
  calls_.write = &ShortWrite;
  most_per_write = 1000;
  write_calls = 0;
  const std::string data = Pattern(3 * kBlockBytes + 777);
  const std::string path = PathOf("short.srt");
  const Handle writer = platform_.OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  // Gathered blocks, then one call larger than a block, which goes to the
  // kernel by itself.
  const std::string_view all(data);
  ASSERT_TRUE(WriteInChunks(writer, all.substr(0, data.size() / 2)));
  ASSERT_TRUE(
      WriteInChunks(writer, all.substr(data.size() / 2), 2 * kBlockBytes));
  ASSERT_TRUE(platform_.CloseHandle(writer));
  EXPECT_GT(write_calls, 3 * kBlockBytes / 1000);
  EXPECT_TRUE(ReadFileBytes(path) == data);
}

TEST_F(PosixFaultsTransferTest, InterruptedReadsAndWritesAreRetried) {
  calls_.read = &InterruptedRead;
  calls_.write = &InterruptedWrite;
  interruptible_calls = 0;
  const std::string data = Pattern(2 * kBlockBytes + 300);
  const std::string path = PathOf("interrupted.srt");
  const Handle writer = platform_.OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  ASSERT_TRUE(WriteInChunks(writer, data)) << platform_.GetLastError();
  ASSERT_TRUE(platform_.CloseHandle(writer)) << platform_.GetLastError();
  EXPECT_TRUE(ReadFileBytes(path) == data);

  const Handle reader = platform_.OpenForReading(path.c_str());
  ASSERT_NE(reader, kInvalidHandle);
  std::string received;
  std::vector<char> buffer(kStreamChunk);
  std::uint32_t got = 0;
  while (platform_.ReadFile(reader, buffer.data(), kStreamChunk, &got) &&
         got > 0) {
    received.append(buffer.data(), got);
  }
  EXPECT_EQ(platform_.GetLastError(), 0u);
  EXPECT_TRUE(platform_.CloseHandle(reader));
  EXPECT_TRUE(received == data);
  EXPECT_EQ(interruptible_calls, 14);  // 3 writes and 4 reads, each twice
}

}  // namespace
}  // namespace mlfsort

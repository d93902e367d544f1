// The POSIX platform with system calls of the test's own in its table:
// short and interrupted transfers, a full disk or a file-size limit met
// after the kernel took part of a block, and a fault walk of whole sort runs
// on real files that makes each write() in turn short and the next one fail.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/posix_platform.h"
#include "platform/posix_platform_test_helper.h"
#include "platform/posix_system_calls.h"
#include "process/process_frame.h"
#include "run/sort_run.h"
#include "support/run_in_child.h"
#include "support/sort_model.h"
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

// What the replaced write() does, call by call, counted from 1. It lives in
// memory shared with forked children, so that a walk learns how many calls
// a child's run made.
struct WriteScript {
  int calls = 0;
  std::size_t most_per_call = std::numeric_limits<std::size_t>::max();
  // This call takes a little under half of what it is offered, which ends
  // inside a 128-byte piece of a block made of them.
  int short_call = 0;
  // This call takes nothing and fails with `failure`.
  int failing_call = 0;
  int failure = ENOSPC;
};

WriteScript* write_script = nullptr;

ssize_t ScriptedWrite(int descriptor, const void* bytes, std::size_t size) {
  WriteScript& script = *write_script;
  const int call = ++script.calls;
  if (call == script.failing_call) {
    errno = script.failure;
    return -1;
  }
  std::size_t offered = std::min(size, script.most_per_call);
  if (call == script.short_call) {
    offered = std::max<std::size_t>(size / 2, 2) - 1;
  }
  return ::write(descriptor, bytes, offered);
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

int FailingFtruncate(int, off_t) {
  errno = EIO;
  return -1;
}

class PosixFaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_dir_.path().empty());
    void* const shared =
        ::mmap(nullptr, sizeof(WriteScript), PROT_READ | PROT_WRITE,
               MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    write_script = new (shared) WriteScript();
    calls_.write = &ScriptedWrite;
    PosixPlatformTestHelper::UseSystemCalls(platform_, calls_);
  }

  void TearDown() override {
    if (write_script != nullptr) ::munmap(write_script, sizeof(WriteScript));
    write_script = nullptr;
  }

  // The write() call `short_call` takes part of its block and the next one
  // fails with `failure`.
  static void FailAfterPartialWrite(int short_call, int failure = ENOSPC) {
    *write_script = WriteScript();
    write_script->short_call = short_call;
    write_script->failing_call = short_call + 1;
    write_script->failure = failure;
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
  write_script->most_per_call = 1000;
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
  EXPECT_GT(write_script->calls, 3 * kBlockBytes / 1000);
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

using PosixFaultsCutBackTest = PosixFaultsTest;

// A failure after the kernel took part of a block leaves the file ending at
// the last call it took whole, and reports the write's own code: for blocks
// sent when full or at the close, of calls that fill a block exactly, that
// do not (a block never holds part of one) and that are too many for one.
TEST_F(PosixFaultsCutBackTest, FileEndsAtTheLastCallTakenWhole) {
  struct Case {
    const char* where;
    std::size_t data_bytes;
    std::uint32_t chunk;  // the size of each call
    int short_call;       // the write() that takes part of its block
    bool fails_at_close;
    std::size_t kept;
  };
  const Case cases[] = {
      // The second block: 32767 bytes taken, 255 calls whole.
      {"a full block", 3 * kBlockBytes + 300, 128, 2, false,
       kBlockBytes + 255 * 128},
      // 1000 bytes left for the close: 499 taken, 3 calls whole.
      {"the rest at close", 1000, 128, 1, true, 3 * 128},
      // Blocks of 65 calls; the second: 32499 bytes taken, 32 calls whole.
      {"calls that do not fill a block", 3 * kBlockBytes, 1000, 2, false,
       65000 + 32000},
      // Blocks of 512 calls; the second: 25599 bytes taken, 255 calls whole.
      {"more calls than a block holds", 2 * kBlockBytes, 100, 2, false,
       51200 + 25500},
  };
  const std::string path = PathOf("cut.srt");
  for (const Case& c : cases) {
    for (const auto& [failure, code] :
         {std::pair{ENOSPC, 112u}, {EFBIG, 223u}}) {
      SCOPED_TRACE(std::string(c.where) + ", errno " + std::to_string(failure));
      FailAfterPartialWrite(c.short_call, failure);
      const std::string data = Pattern(c.data_bytes);
      const Handle writer = platform_.OpenForWriting(path.c_str());
      ASSERT_NE(writer, kInvalidHandle);
      ASSERT_TRUE(platform_.EmptyFile(writer));
      EXPECT_EQ(WriteInChunks(writer, data, c.chunk), c.fails_at_close);
      EXPECT_EQ(platform_.CloseHandle(writer), !c.fails_at_close);
      EXPECT_EQ(platform_.GetLastError(), code);
      const std::string file = ReadFileBytes(path).value_or("<none>");
      EXPECT_EQ(file.size(), c.kept);
      EXPECT_TRUE(file == data.substr(0, file.size()));
    }
  }
}

// The cut is measured from where the kernel put the block, not from the
// start of the file, which a shell's >> fills with earlier bytes.
TEST_F(PosixFaultsCutBackTest, FileOpenedForAppendingKeepsItsEarlierBytes) {
  const std::string path = PathOf("log");
  const std::string earlier = Pattern(1001, 7);
  ASSERT_TRUE(WriteFileBytes(path, earlier));
  const int appender = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_NE(appender, -1);
  FailAfterPartialWrite(1);
  const std::string data = Pattern(1000);
  EXPECT_TRUE(WriteInChunks(appender, data));
  EXPECT_FALSE(platform_.CloseHandle(appender));
  EXPECT_EQ(platform_.GetLastError(), 112u);
  EXPECT_TRUE(ReadFileBytes(path) == earlier + data.substr(0, 3 * 128));
}

TEST_F(PosixFaultsCutBackTest, FailedCutLeavesTheFileAndReportsTheWrite) {
  calls_.ftruncate = &FailingFtruncate;
  const std::string path = PathOf("uncut.srt");
  const Handle writer = platform_.OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  FailAfterPartialWrite(1);
  EXPECT_TRUE(WriteInChunks(writer, Pattern(1000)));
  EXPECT_FALSE(platform_.CloseHandle(writer));
  EXPECT_EQ(platform_.GetLastError(), 112u);  // not the cut's 1117
  EXPECT_EQ(ReadFileBytes(path).value_or("").size(), 499u);
}

// A label file of a few hundred KiB, sortable lines in scattered order and
// some pass-through lines, so that its sorted copy takes several blocks.
std::string WalkInput() {
  std::string input = "#!MLF!#\r\n";
  for (int i = 0; i < 6000; ++i) {
    input += "\"*/utt" + std::to_string(i * 7919 % 6000) +
             ".lab\" speaker turn " + std::to_string(i) + "\r\n";
    if (i % 1000 == 0) input += "# part " + std::to_string(i) + "\r\n";
  }
  return input;
}

using PosixFaultWalkTest = PosixFaultsTest;

// Whole runs of the tool on real files (mlfsort FILE), each with write()
// call n short and call n + 1 failing with ENOSPC, for n = 1, 2, ... until a
// run makes fewer than n calls. Standard output is a file too, so its
// write-out at the end takes part in the walk.
TEST_F(PosixFaultWalkTest, EveryWriteShortThenTheDiskFull) {
  const std::string input = WalkInput();
  const std::string expected = ModelSortedOutput(input);
  ASSERT_GT(expected.size(), 3 * kBlockBytes);
  const std::string input_path = PathOf("train.mlf");
  const std::string output_path = PathOf("train.srt");
  const std::string stdout_path = PathOf("stdout");
  ASSERT_TRUE(WriteFileBytes(input_path, input));
  for (int n = 1;; ++n) {
    ASSERT_LT(n, 100) << "the walk does not end";
    SCOPED_TRACE("write " + std::to_string(n));
    ::unlink(output_path.c_str());
    FailAfterPartialWrite(n);
    const int status = RunInChild([&] {
      const int out = ::open(stdout_path.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (out == -1 || ::dup2(out, STDOUT_FILENO) == -1) return 90;
      std::string program = "mlfsort";
      std::string name = input_path;
      char* argv[] = {program.data(), name.data(), nullptr};
      PosixPlatform platform(2, argv);
      PosixPlatformTestHelper::UseSystemCalls(platform, calls_);
      RunProcess(platform, SystemModules(), &RunSort);
      return 91;  // RunProcess ends the process
    });
    const std::string standard_output =
        ReadFileBytes(stdout_path).value_or("<none>");
    const std::string written = ReadFileBytes(output_path).value_or("<none>");
    EXPECT_TRUE(ReadFileBytes(input_path) == input) << "the input was changed";
    if (write_script->calls < n) {
      EXPECT_EQ(status, 0);
      EXPECT_TRUE(written == expected);
      EXPECT_EQ(standard_output, "\r\n\r\n");
      EXPECT_GT(n, 4) << "too few writes for several blocks";
      break;
    }
    if (status == 0) {
      // Only standard output's write-out at the end met the faults.
      EXPECT_TRUE(written == expected);
      EXPECT_TRUE(std::string_view("\r\n\r\n").starts_with(standard_output))
          << standard_output;
      continue;
    }
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(standard_output.ends_with("\nI/O error 112.\r\n"))
        << standard_output;
    EXPECT_EQ(standard_output.find("Exception EInOutError"),
              standard_output.rfind("Exception "));
    EXPECT_EQ(written.size() % 128, 0u) << written.size();
    EXPECT_TRUE(written == expected.substr(0, written.size()));
  }
}

}  // namespace
}  // namespace mlfsort

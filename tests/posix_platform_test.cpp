#include "platform/posix_platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix_error.h"
#include "support/run_in_child.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kStreamChunk = 128;  // what the text streams move

// Bytes that differ from position to position, so a lost, doubled or
// reordered block shows.
std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t index = 0; index < size; ++index) {
    bytes[index] = static_cast<char>((index * 131 + index / 256) & 0xFF);
  }
  return bytes;
}

class PosixPlatformTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(temp_dir_.path().empty()); }

  std::string PathOf(std::string_view name) const {
    return temp_dir_.path() + "/" + std::string(name);
  }

  bool WriteInChunks(Handle handle, std::string_view bytes,
                     std::uint32_t chunk) {
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
      const auto size = static_cast<std::uint32_t>(
          std::min<std::size_t>(chunk, bytes.size() - at));
      std::uint32_t written = 0;
      if (!platform_->WriteFile(handle, bytes.data() + at, size, &written) ||
          written != size) {
        return false;
      }
    }
    return true;
  }

  // Everything up to the end of the data, read `chunk` bytes at a time.
  std::string ReadInChunks(Handle handle, std::uint32_t chunk) {
    std::string received;
    std::vector<char> buffer(chunk);
    std::uint32_t got = 0;
    while (platform_->ReadFile(handle, buffer.data(), chunk, &got) && got > 0) {
      received.append(buffer.data(), got);
    }
    return received;
  }

  ScopedTempDirectory temp_dir_;
  std::unique_ptr<PosixPlatform> platform_ =
      std::make_unique<PosixPlatform>(0, nullptr);
};

TEST(PosixErrorTest, ListedErrnoValuesMapToPlatformCodes) {
  const std::pair<int, std::uint32_t> expected[] = {
      {ENOTDIR, 3},        {EACCES, 5},   {EPERM, 5},    {EROFS, 5},
      {EISDIR, 5},         {EMFILE, 4},   {ENFILE, 4},   {EWOULDBLOCK, 32},
      {ENAMETOOLONG, 206}, {ENOSPC, 112}, {EDQUOT, 112}, {EPIPE, 232},
      {EBADF, 6},          {EIO, 1117},   {EINVAL, 87},  {ENOENT, 2},
      {ENOMEM, 8},         {EFBIG, 223},
  };
  for (const auto& [errno_value, code] : expected) {
    EXPECT_EQ(PlatformErrorFromErrno(errno_value, nullptr), code)
        << "errno " << errno_value;
  }
}

TEST(PosixErrorTest, UnlistedErrnoValuesStayClearOfWordedCodes) {
  const int listed[] = {ENOENT, ENOTDIR, EACCES, EPERM,       EROFS,
                        EISDIR, EMFILE,  ENFILE, EWOULDBLOCK, ENAMETOOLONG,
                        ENOSPC, EDQUOT,  EPIPE,  EBADF,       EIO,
                        EINVAL, ENOMEM,  EFBIG};
  for (int errno_value = 1; errno_value < 134; ++errno_value) {
    if (std::find(std::begin(listed), std::end(listed), errno_value) !=
        std::end(listed)) {
      continue;
    }
    const std::uint32_t code = PlatformErrorFromErrno(errno_value, nullptr);
    EXPECT_EQ(code, kUnmappedErrnoBase + errno_value)
        << "errno " << errno_value;
    EXPECT_FALSE(code >= 2 && code <= 5) << "errno " << errno_value;
    EXPECT_FALSE(code >= 100 && code <= 106) << "errno " << errno_value;
  }
}

// Names with a directory part go through the platform in the open tests.
TEST(PosixErrorTest, MissingNameWithoutDirectoryPartIsAMissingFile) {
  EXPECT_EQ(PlatformErrorFromErrno(ENOENT, "absent-in-working-dir"), 2u);
  EXPECT_EQ(PlatformErrorFromErrno(ENOENT, "/absent-in-root"), 2u);
  EXPECT_EQ(PlatformErrorFromErrno(ENOENT, "/absent-dir/absent"), 3u);
}

using PosixPlatformOpenTest = PosixPlatformTest;

TEST_F(PosixPlatformOpenTest, FailedOpensLeaveThePlatformCode) {
  ASSERT_TRUE(WriteFileBytes(PathOf("file"), "x"));
  const std::string too_long =
      PathOf(std::string(4096 - temp_dir_.path().size() - 1, 'n'));
  ASSERT_EQ(too_long.size(), 4096u);
  const std::pair<std::string, std::uint32_t> reading[] = {
      {PathOf("absent"), 2}, {PathOf("no/absent"), 3}, {PathOf("file/x"), 3},
      {temp_dir_.path(), 5}, {too_long, 206},
  };
  for (const auto& [name, code] : reading) {
    EXPECT_EQ(platform_->OpenForReading(name.c_str()), kInvalidHandle);
    EXPECT_EQ(platform_->GetLastError(), code) << name;
  }
  const std::pair<std::string, std::uint32_t> writing[] = {
      {PathOf("no/absent"), 3},
      {temp_dir_.path(), 5},
      {too_long, 206},
  };
  for (const auto& [name, code] : writing) {
    EXPECT_EQ(platform_->OpenForWriting(name.c_str()), kInvalidHandle);
    EXPECT_EQ(platform_->GetLastError(), code) << name;
  }
}

TEST_F(PosixPlatformOpenTest, UnreadableAndReadOnlyFilesAreDenied) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "running as root, which may read and write any file";
  }
  ASSERT_TRUE(WriteFileBytes(PathOf("locked"), "kept"));
  ASSERT_EQ(::chmod(PathOf("locked").c_str(), 0444), 0);
  EXPECT_EQ(platform_->OpenForWriting(PathOf("locked").c_str()),
            kInvalidHandle);
  EXPECT_EQ(platform_->GetLastError(), 5u);
  EXPECT_EQ(ReadFileBytes(PathOf("locked")), "kept");
  ASSERT_EQ(::chmod(PathOf("locked").c_str(), 0), 0);
  EXPECT_EQ(platform_->OpenForReading(PathOf("locked").c_str()),
            kInvalidHandle);
  EXPECT_EQ(platform_->GetLastError(), 5u);
}

TEST_F(PosixPlatformOpenTest, ReaderKeepsWritersOffAndTheFileIntact) {
  const std::string path = PathOf("shared.mlf");
  ASSERT_TRUE(WriteFileBytes(path, "#!MLF!#\r\n"));
  const Handle reader = platform_->OpenForReading(path.c_str());
  ASSERT_NE(reader, kInvalidHandle);
  const Handle second_reader = platform_->OpenForReading(path.c_str());
  EXPECT_NE(second_reader, kInvalidHandle);
  EXPECT_EQ(platform_->OpenForWriting(path.c_str()), kInvalidHandle);
  EXPECT_EQ(platform_->GetLastError(), 32u);
  EXPECT_EQ(ReadFileBytes(path), "#!MLF!#\r\n");
  EXPECT_TRUE(platform_->CloseHandle(reader));
  EXPECT_TRUE(platform_->CloseHandle(second_reader));

  // Opening keeps the contents; only EmptyFile, with the lock held, cuts
  // them.
  const Handle writer = platform_->OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(ReadFileBytes(path), "#!MLF!#\r\n");
  EXPECT_TRUE(platform_->EmptyFile(writer));
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_TRUE(platform_->CloseHandle(writer));
}

TEST_F(PosixPlatformOpenTest, WriterKeepsEveryOtherOpenOff) {
  const std::string path = PathOf("out.srt");
  const Handle writer = platform_->OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(platform_->OpenForWriting(path.c_str()), kInvalidHandle);
  EXPECT_EQ(platform_->GetLastError(), 32u);
  EXPECT_EQ(platform_->OpenForReading(path.c_str()), kInvalidHandle);
  EXPECT_EQ(platform_->GetLastError(), 32u);
  EXPECT_TRUE(platform_->CloseHandle(writer));
}

TEST_F(PosixPlatformOpenTest, DevicesAndFifosAreOpenedWithoutTruncation) {
  const Handle null_device = platform_->OpenForWriting("/dev/null");
  ASSERT_NE(null_device, kInvalidHandle);
  EXPECT_EQ(platform_->GetFileType(null_device), FileType::kCharacter);
  EXPECT_TRUE(platform_->EmptyFile(null_device));
  EXPECT_TRUE(WriteInChunks(null_device, "discarded", kStreamChunk));
  EXPECT_TRUE(platform_->CloseHandle(null_device));

  const std::string fifo = PathOf("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFileBytes(fifo).value_or(""); });
  const Handle writer = platform_->OpenForWriting(fifo.c_str());
  EXPECT_NE(writer, kInvalidHandle) << platform_->GetLastError();
  if (writer == kInvalidHandle) ::close(::open(fifo.c_str(), O_WRONLY));
  EXPECT_EQ(platform_->GetFileType(writer), FileType::kPipe);
  EXPECT_TRUE(platform_->EmptyFile(writer));
  EXPECT_TRUE(WriteInChunks(writer, "through the fifo", kStreamChunk));
  EXPECT_TRUE(platform_->CloseHandle(writer));
  reader.join();
  EXPECT_EQ(received, "through the fifo");
}

using PosixPlatformTransferTest = PosixPlatformTest;

TEST_F(PosixPlatformTransferTest, GatheredBytesReachTheFileAtClose) {
  const std::string path = PathOf("small.srt");
  const Handle writer = platform_->OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(platform_->GetFileType(writer), FileType::kDisk);
  ASSERT_TRUE(WriteInChunks(writer, "line\r\n", kStreamChunk));
  EXPECT_EQ(ReadFileBytes(path), "");  // one system call per block, not now
  EXPECT_TRUE(platform_->CloseHandle(writer));
  EXPECT_EQ(ReadFileBytes(path), "line\r\n");
}

TEST_F(PosixPlatformTransferTest, ManyBlocksTravelIntactBothWays) {
  const std::string path = PathOf("large.srt");
  const std::string data = Pattern(3 * PosixPlatform::kBlockBytes + 1234);
  const Handle writer = platform_->OpenForWriting(path.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  const std::size_t half = data.size() / 2;
  // Stream-sized pieces, then one call larger than a block.
  ASSERT_TRUE(WriteInChunks(writer, std::string_view(data).substr(0, half),
                            kStreamChunk));
  ASSERT_TRUE(WriteInChunks(writer, std::string_view(data).substr(half),
                            2 * PosixPlatform::kBlockBytes));
  EXPECT_TRUE(platform_->CloseHandle(writer));
  EXPECT_EQ(ReadFileBytes(path), data);

  const Handle reader = platform_->OpenForReading(path.c_str());
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(ReadInChunks(reader, kStreamChunk), data);
  std::uint32_t got = 99;
  char byte;
  EXPECT_TRUE(platform_->ReadFile(reader, &byte, 1, &got));
  EXPECT_EQ(got, 0u);  // the end stays the end
  EXPECT_TRUE(platform_->CloseHandle(reader));
}

// A parent may leave many descriptors open; the system then hands out high
// ones, and every one must work as a low one does.
TEST_F(PosixPlatformTransferTest, HighDescriptorsWorkAsLowOnesDo) {
  constexpr int kHighest = 1100;
  rlimit limit;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlimit saved = limit;
  if (limit.rlim_cur < kHighest + 16) {
    if (limit.rlim_max < kHighest + 16) GTEST_SKIP() << "descriptor limit";
    limit.rlim_cur = kHighest + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  }
  std::vector<int> held;
  for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
       fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
    held.push_back(fd);
    if (fd >= kHighest) break;
  }
  const std::string path = PathOf("high.srt");
  const std::string data = Pattern(PosixPlatform::kBlockBytes + 300);
  const Handle writer = platform_->OpenForWriting(path.c_str());
  EXPECT_GT(writer, kHighest);
  EXPECT_TRUE(WriteInChunks(writer, data, kStreamChunk));
  EXPECT_TRUE(platform_->CloseHandle(writer));
  const Handle reader = platform_->OpenForReading(path.c_str());
  EXPECT_EQ(ReadInChunks(reader, kStreamChunk), data);
  EXPECT_TRUE(platform_->CloseHandle(reader));
  for (const int fd : held) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
}

TEST_F(PosixPlatformTransferTest, HandlesThatAreNotOpenFailWith6) {
  const Handle writer = platform_->OpenForWriting(PathOf("x").c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_TRUE(platform_->CloseHandle(writer));
  EXPECT_FALSE(platform_->CloseHandle(writer));
  EXPECT_EQ(platform_->GetLastError(), 6u);
  char byte;
  std::uint32_t count = 0;
  EXPECT_FALSE(platform_->ReadFile(writer, &byte, 1, &count));
  EXPECT_EQ(platform_->GetLastError(), 6u);
  EXPECT_FALSE(platform_->WriteFile(kInvalidHandle, "x", 1, &count));
  EXPECT_EQ(platform_->GetLastError(), 6u);
  EXPECT_FALSE(platform_->CloseHandle(Handle{1} << 30));
  EXPECT_EQ(platform_->GetLastError(), 6u);
  EXPECT_EQ(platform_->GetFileType(writer), FileType::kUnknown);
}

TEST_F(PosixPlatformTransferTest, CharacterDevicesFailAtOnce) {
  const Handle full_device = platform_->OpenForWriting("/dev/full");
  ASSERT_NE(full_device, kInvalidHandle);
  std::uint32_t written = 99;
  EXPECT_FALSE(platform_->WriteFile(full_device, "x", 1, &written));
  EXPECT_EQ(platform_->GetLastError(), 112u);
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(platform_->CloseHandle(full_device));
}

TEST_F(PosixPlatformTransferTest, ShortWritesAreContinuedInOrder) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  // A small, non-blocking pipe takes a block only in pieces, with EAGAIN
  // between them.
  ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
  ASSERT_EQ(::fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
  const std::string data = Pattern(5 * PosixPlatform::kBlockBytes / 2);
  std::string received;
  std::thread slow_reader([&] {
    char chunk[1000];
    ssize_t got;
    while ((got = ::read(ends[0], chunk, sizeof chunk)) > 0) {
      received.append(chunk, static_cast<std::size_t>(got));
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    ::close(ends[0]);
  });
  std::uint32_t written = 0;
  EXPECT_TRUE(platform_->WriteFile(
      ends[1], data.data(), static_cast<std::uint32_t>(data.size()), &written));
  EXPECT_EQ(written, data.size());
  EXPECT_TRUE(platform_->CloseHandle(ends[1]));
  slow_reader.join();
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST_F(PosixPlatformTransferTest, PipeReadsHandOverWhatHasArrived) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  int sockets[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  EXPECT_EQ(platform_->GetFileType(sockets[0]), FileType::kPipe);
  EXPECT_TRUE(platform_->CloseHandle(sockets[0]));
  EXPECT_TRUE(platform_->CloseHandle(sockets[1]));
  EXPECT_EQ(platform_->GetFileType(ends[0]), FileType::kPipe);
  ASSERT_EQ(::write(ends[1], "abc", 3), 3);
  char buffer[kStreamChunk];
  std::uint32_t got = 0;
  // The writer stays open: waiting for a full block would hang here.
  ASSERT_TRUE(platform_->ReadFile(ends[0], buffer, kStreamChunk, &got));
  EXPECT_EQ(std::string(buffer, got), "abc");

  // A read end left non-blocking waits for data instead of failing.
  ASSERT_EQ(::fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
  std::thread late_writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(::write(ends[1], "late", 4), 4);
    ::close(ends[1]);
  });
  EXPECT_EQ(ReadInChunks(ends[0], kStreamChunk), "late");
  EXPECT_EQ(platform_->GetLastError(), 0u);
  late_writer.join();
  EXPECT_TRUE(platform_->CloseHandle(ends[0]));
}

TEST_F(PosixPlatformTransferTest, TerminalLineFeedsArriveAsCrLf) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master == -1) GTEST_SKIP() << "no pseudo-terminal available";
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const Handle terminal = platform_->OpenForReading(::ptsname(master));
  ASSERT_NE(terminal, kInvalidHandle) << platform_->GetLastError();
  EXPECT_EQ(platform_->GetFileType(terminal), FileType::kCharacter);
  ASSERT_EQ(::write(master, "ab\ncd\nef\n", 9), 9);
  std::string received;
  // One-byte reads meet the second LF without room for CR LF; the third
  // line stays unread, so a missing CR shows instead of a wait.
  for (std::uint32_t size : {kStreamChunk, 1u, 1u, 1u, 1u}) {
    char buffer[kStreamChunk];
    std::uint32_t got = 0;
    ASSERT_TRUE(platform_->ReadFile(terminal, buffer, size, &got));
    received.append(buffer, got);
  }
  EXPECT_EQ(received, "ab\r\ncd\r\n");
  EXPECT_TRUE(platform_->CloseHandle(terminal));
  ::close(master);
}

TEST_F(PosixPlatformTest, BulkMemoryStartsLargeBlocksOnALargePage) {
  GrowableMemory& memory = platform_->BulkMemory();
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  // Each block is written whole and handed back with the alignment it was
  // taken with, which the address sanitizer checks.
  for (const std::size_t bytes : {std::size_t{100}, kLargePage + 100}) {
    void* const block = memory.allocate(bytes, alignof(std::max_align_t));
    if (bytes >= kLargePage) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kLargePage, 0u);
    }
    std::memset(block, 0x5A, bytes);
    memory.deallocate(block, bytes, alignof(std::max_align_t));
  }
}

TEST_F(PosixPlatformTest, BulkMemoryBlocksGrowKeepingTheirBytes) {
  GrowableMemory& memory = platform_->BulkMemory();
  constexpr std::size_t kLargePage = std::size_t{2} << 20;
  constexpr std::size_t kAlign = alignof(std::max_align_t);
  // Small to large (a copy), then large to larger (the pages move, or are
  // copied where the system cannot move them).
  std::size_t size = 1000;
  auto* block = static_cast<unsigned char*>(memory.allocate(size, kAlign));
  for (std::size_t at = 0; at < size; ++at) block[at] = at % 251;
  for (const std::size_t grown : {kLargePage + 100, 3 * kLargePage + 5}) {
    block = static_cast<unsigned char*>(
        memory.Resize(block, size, 1000, grown, kAlign));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kLargePage, 0u);
    for (std::size_t at = 0; at < 1000; ++at) {
      ASSERT_EQ(block[at], at % 251) << "byte " << at << " of " << grown;
    }
    std::memset(block + 1000, 0x5A, grown - 1000);
    size = grown;
  }
  memory.deallocate(block, size, kAlign);
}

using PosixPlatformProcessTest = PosixPlatformTest;

TEST_F(PosixPlatformProcessTest, ExitProcessHandsOverGatheredBytes) {
  const std::string path = PathOf("left-open.srt");
  const int status = RunInChild([&] {
    PosixPlatform child_platform(0, nullptr);
    const Handle writer = child_platform.OpenForWriting(path.c_str());
    std::uint32_t written = 0;
    if (writer == kInvalidHandle ||
        !child_platform.WriteFile(writer, "never closed", 12, &written)) {
      return 90;
    }
    child_platform.ExitProcess(7);
    return 91;
  });
  EXPECT_EQ(status, 7);
  EXPECT_EQ(ReadFileBytes(path), "never closed");
}

TEST_F(PosixPlatformProcessTest, SystemPlatformTurnsBrokenPipesInto232) {
  const int status = RunInChild([] {
    std::signal(SIGPIPE, SIG_DFL);
    Platform& platform = SystemPlatform(0, nullptr);
    int ends[2];
    std::uint32_t written = 0;
    if (::pipe(ends) != 0) return 90;
    ::close(ends[0]);
    // Gathered bytes fail when they are handed over, at close.
    if (!platform.WriteFile(ends[1], "x", 1, &written)) return 91;
    if (platform.CloseHandle(ends[1]) || platform.GetLastError() != 232) {
      return 92;
    }
    if (::pipe(ends) != 0) return 93;
    ::close(ends[0]);
    // A full block is handed over by the WriteFile itself.
    const std::string block(PosixPlatform::kBlockBytes, 'x');
    if (platform.WriteFile(ends[1], block.data(), PosixPlatform::kBlockBytes,
                           &written) ||
        platform.GetLastError() != 232) {
      return 94;
    }
    platform.CloseHandle(ends[1]);
    return 0;
  });
  EXPECT_EQ(status, 0) << "-1: SIGPIPE ended the process";
}

TEST_F(PosixPlatformProcessTest, ClosedStandardHandleFailsWith6) {
  const int status = RunInChild([&] {
    ::close(STDIN_FILENO);
    if (platform_->GetStdHandle(StandardHandle::kInput) != kInvalidHandle ||
        platform_->GetLastError() != 6) {
      return 90;
    }
    const int null_device = ::open("/dev/null", O_WRONLY);
    if (::dup2(null_device, STDOUT_FILENO) != STDOUT_FILENO) return 91;
    if (platform_->GetStdHandle(StandardHandle::kOutput) != STDOUT_FILENO) {
      return 92;
    }
    return 0;
  });
  EXPECT_EQ(status, 0);
}

TEST_F(PosixPlatformProcessTest, LocateCodeNamesTheModuleFile) {
  CodeLocation where;
  const auto* own_code = reinterpret_cast<const void*>(&Pattern);
  ASSERT_TRUE(platform_->LocateCode(own_code, &where));
  EXPECT_EQ(std::string(where.module_name),
            fs::read_symlink("/proc/self/exe").filename().string());
  EXPECT_NE(where.module_base, 0u);
  EXPECT_LE(where.module_base, reinterpret_cast<std::uintptr_t>(own_code));

  const void* library_code = ::dlsym(RTLD_DEFAULT, "getpid");
  ASSERT_NE(library_code, nullptr);
  ASSERT_TRUE(platform_->LocateCode(library_code, &where));
  EXPECT_EQ(std::string_view(where.module_name).substr(0, 4), "libc");

  int on_the_stack = 0;
  EXPECT_FALSE(platform_->LocateCode(&on_the_stack, &where));
  EXPECT_EQ(where.module_base, 0u);
  EXPECT_STREQ(where.module_name, "");
}

}  // namespace
}  // namespace mlfsort

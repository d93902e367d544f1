#include "platform/windows_platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "order/collation_key_order.h"
#include "process/command_line.h"
#include "support/binary_runner.h"
#include "support/temp_files.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h maps the name to GetCommandLineA, which would rename the
// Platform method called below.
#undef GetCommandLine

namespace mlfsort {
namespace {

using namespace std::string_literals;

constexpr char kBinary[] = MLFSORT_BINARY;

class WindowsPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty()) << "cannot make a temporary directory";
  }

  std::string PathOf(const std::string& name) const { return temp_.Join(name); }

  // Opens `name` in the temporary directory, expecting failure, and returns
  // the code left.
  std::uint32_t ReadFailure(const std::string& name) {
    EXPECT_EQ(platform_.OpenForReading(PathOf(name).c_str()), kInvalidHandle);
    return platform_.GetLastError();
  }

  ScopedTempDirectory temp_;
  WindowsPlatform platform_;
};

class WindowsPlatformOpenTest : public WindowsPlatformTest {};
class WindowsPlatformTransferTest : public WindowsPlatformTest {};
class WindowsPlatformProcessTest : public WindowsPlatformTest {};

TEST_F(WindowsPlatformOpenTest, FailedOpensLeaveTheSystemCode) {
  ASSERT_TRUE(CreateDirectoryA(PathOf("folder").c_str(), nullptr));
  EXPECT_EQ(ReadFailure("missing.mlf"), platform_error::kFileNotFound);
  EXPECT_EQ(ReadFailure("nodir\\x.mlf"), platform_error::kPathNotFound);
  EXPECT_EQ(ReadFailure("folder"), platform_error::kAccessDenied);
  EXPECT_EQ(platform_.OpenForWriting(PathOf("nodir\\x.srt").c_str()),
            kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kPathNotFound);
  EXPECT_EQ(platform_.OpenForWriting(PathOf("folder").c_str()), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kAccessDenied);
}

TEST_F(WindowsPlatformOpenTest, ReaderAndWriterKeepEachOtherOff) {
  const std::string name = PathOf("x.mlf");
  ASSERT_TRUE(WriteFileBytes(name, "kept"));
  const Handle reader = platform_.OpenForReading(name.c_str());
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(platform_.OpenForWriting(name.c_str()), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kSharingViolation);
  // A second reader is welcome.
  const Handle second_reader = platform_.OpenForReading(name.c_str());
  EXPECT_NE(second_reader, kInvalidHandle);
  EXPECT_TRUE(platform_.CloseHandle(second_reader));
  EXPECT_TRUE(platform_.CloseHandle(reader));
  EXPECT_EQ(ReadFileBytes(name), "kept");

  const Handle writer = platform_.OpenForWriting(name.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(ReadFailure("x.mlf"), platform_error::kSharingViolation);
  EXPECT_EQ(platform_.OpenForWriting(name.c_str()), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kSharingViolation);
  EXPECT_TRUE(platform_.CloseHandle(writer));
}

TEST_F(WindowsPlatformOpenTest, OpeningKeepsAnExistingFileUntilEmptied) {
  const std::string name = PathOf("x.srt");
  ASSERT_TRUE(WriteFileBytes(name, "old contents"));
  const Handle writer = platform_.OpenForWriting(name.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(ReadFileBytes(name), "old contents");
  EXPECT_TRUE(platform_.EmptyFile(writer));
  EXPECT_EQ(ReadFileBytes(name), "");
  EXPECT_TRUE(platform_.CloseHandle(writer));
}

TEST_F(WindowsPlatformOpenTest, SameFileIsFoundUnderEveryName) {
  const std::string name = PathOf("x.mlf");
  ASSERT_TRUE(WriteFileBytes(name, "kept"));
  ASSERT_TRUE(WriteFileBytes(PathOf("x.srt"), "other"));
  ASSERT_TRUE(
      CreateHardLinkA(PathOf("link.srt").c_str(), name.c_str(), nullptr));
  EXPECT_TRUE(platform_.IsSameFile(name.c_str(), name.c_str()));
  EXPECT_TRUE(platform_.IsSameFile(name.c_str(), PathOf("X.MLF").c_str()));
  EXPECT_TRUE(platform_.IsSameFile(name.c_str(), PathOf("link.srt").c_str()));
  EXPECT_FALSE(platform_.IsSameFile(name.c_str(), PathOf("x.srt").c_str()));
  EXPECT_FALSE(platform_.IsSameFile(name.c_str(), PathOf("none").c_str()));
  EXPECT_FALSE(
      platform_.IsSameFile(PathOf("none").c_str(), PathOf("none").c_str()));
  // Asking opened nothing that stays: the file can be emptied at once.
  const Handle writer = platform_.OpenForWriting(name.c_str());
  EXPECT_NE(writer, kInvalidHandle);
  EXPECT_TRUE(platform_.CloseHandle(writer));
}

TEST_F(WindowsPlatformOpenTest, FileTypesTellDisksDevicesAndPipes) {
  const std::string name = PathOf("x.srt");
  const Handle writer = platform_.OpenForWriting(name.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(platform_.GetFileType(writer), FileType::kDisk);
  EXPECT_TRUE(platform_.CloseHandle(writer));

  const Handle device = platform_.OpenForWriting("NUL");
  ASSERT_NE(device, kInvalidHandle);
  EXPECT_EQ(platform_.GetFileType(device), FileType::kCharacter);
  EXPECT_TRUE(platform_.CloseHandle(device));

  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  EXPECT_EQ(platform_.GetFileType(reinterpret_cast<Handle>(read_end)),
            FileType::kPipe);
  CloseHandle(read_end);
  CloseHandle(write_end);
}

TEST_F(WindowsPlatformOpenTest, LongNamesAreTheSystemLimit) {
  EXPECT_EQ(platform_.MaxNameBytes(), 259u);
}

TEST_F(WindowsPlatformTransferTest, BytesTravelIntactInStreamSizedReads) {
  std::string bytes(300, '\0');
  for (std::size_t index = 0; index < bytes.size(); ++index) {
    bytes[index] = static_cast<char>(index * 131 & 0xFF);
  }
  const std::string name = PathOf("x.srt");
  const Handle writer = platform_.OpenForWriting(name.c_str());
  ASSERT_NE(writer, kInvalidHandle);
  std::uint32_t written = 0;
  EXPECT_TRUE(platform_.WriteFile(writer, bytes.data(), 300, &written));
  EXPECT_EQ(written, 300u);
  EXPECT_TRUE(platform_.CloseHandle(writer));

  const Handle reader = platform_.OpenForReading(name.c_str());
  ASSERT_NE(reader, kInvalidHandle);
  char buffer[128];
  std::string read_back;
  for (const std::uint32_t expected : {128u, 128u, 44u, 0u}) {
    std::uint32_t got = 1000;
    EXPECT_TRUE(platform_.ReadFile(reader, buffer, sizeof buffer, &got));
    EXPECT_EQ(got, expected);
    read_back.append(buffer, got);
  }
  EXPECT_EQ(read_back, bytes);
  EXPECT_TRUE(platform_.CloseHandle(reader));
}

TEST_F(WindowsPlatformTransferTest, PipesWhoseOtherEndIsGoneFail) {
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  ASSERT_TRUE(CloseHandle(write_end));
  char buffer[128];
  std::uint32_t count = 0;
  EXPECT_FALSE(platform_.ReadFile(reinterpret_cast<Handle>(read_end), buffer,
                                  sizeof buffer, &count));
  EXPECT_EQ(platform_.GetLastError(), platform_error::kBrokenPipe);
  CloseHandle(read_end);

  ASSERT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
  ASSERT_TRUE(CloseHandle(read_end));
  EXPECT_FALSE(
      platform_.WriteFile(reinterpret_cast<Handle>(write_end), "x", 1, &count));
  EXPECT_EQ(platform_.GetLastError(), platform_error::kNoData);
  CloseHandle(write_end);
}

TEST_F(WindowsPlatformTransferTest, ClosingAClosedHandleFails) {
  const Handle writer = platform_.OpenForWriting(PathOf("x.srt").c_str());
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_TRUE(platform_.CloseHandle(writer));
  EXPECT_FALSE(platform_.CloseHandle(writer));
  EXPECT_EQ(platform_.GetLastError(), platform_error::kInvalidHandle);
}

TEST_F(WindowsPlatformProcessTest, MissingStandardHandleFailsWith6) {
  const HANDLE saved = GetStdHandle(STD_INPUT_HANDLE);
  ASSERT_TRUE(SetStdHandle(STD_INPUT_HANDLE, nullptr));
  const Handle handle = platform_.GetStdHandle(StandardHandle::kInput);
  SetStdHandle(STD_INPUT_HANDLE, saved);
  EXPECT_EQ(handle, kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kInvalidHandle);
  EXPECT_EQ(platform_.GetStdHandle(StandardHandle::kInput),
            reinterpret_cast<Handle>(saved));
}

TEST_F(WindowsPlatformProcessTest, CommandLineIsTheProcessLineUnsplit) {
  const ProcessArguments arguments = platform_.GetCommandLine();
  EXPECT_FALSE(arguments.is_split);
  EXPECT_EQ(arguments.command_line, std::string_view(GetCommandLineA()));
  // Arguments without quotes or backslashes read the same under the C
  // runtime's rules and the tool's own.
  const std::vector<std::string> after = ArgumentsAfterName(arguments);
  EXPECT_EQ(after.size(), static_cast<std::size_t>(__argc - 1));
  for (int n = 1; n < __argc && n <= static_cast<int>(after.size()); ++n) {
    if (std::string_view(__argv[n]).find_first_of("\"\\ ") ==
        std::string_view::npos) {
      EXPECT_EQ(after[n - 1], __argv[n]);
    }
  }
}

TEST_F(WindowsPlatformProcessTest, QuotedNameWithBlanksReachesTheTool) {
  ASSERT_TRUE(
      WriteFileBytes(PathOf("my labels.mlf"), "\"*/b\"\r\n\"*/a\"\r\n"));
  RunOptions options;
  options.working_directory = temp_.path();
  options.arguments = {"my labels.mlf", "ignored"};
  const RunResult result = RunBinary(kBinary, options);
  ASSERT_FALSE(result.exec_failed) << "code " << result.exec_errno;
  EXPECT_TRUE(result.exited && result.exit_status == 0)
      << result.exit_status << " " << result.stdout_bytes;
  EXPECT_EQ(ReadFileBytes(PathOf("my labels.srt")), "\"*/a\"\r\n\"*/b\"\r\n");
}

TEST_F(WindowsPlatformProcessTest, LocateCodeNamesTheModuleThatHoldsIt) {
  const void* code = reinterpret_cast<const void*>(&SystemPlatform);
  CodeLocation where;
  ASSERT_TRUE(platform_.LocateCode(code, &where));
  const std::string name = where.module_name;
  ASSERT_GT(name.size(), 4u);
  EXPECT_EQ(name.substr(name.size() - 4), ".exe");
  EXPECT_EQ(name.find_first_of("\\/"), std::string::npos);
  EXPECT_EQ(where.module_base,
            reinterpret_cast<std::uintptr_t>(GetModuleHandleA(nullptr)));
  EXPECT_LE(where.module_base, reinterpret_cast<std::uintptr_t>(code));

  const void* system_code = reinterpret_cast<const void*>(&CreateFileA);
  ASSERT_TRUE(platform_.LocateCode(system_code, &where));
  EXPECT_STRCASEEQ(where.module_name, "kernel32.dll");
  EXPECT_LE(where.module_base, reinterpret_cast<std::uintptr_t>(system_code));
}

TEST(WindowsKeyOrderTest, ComparesWholeKeysCaseBlind) {
  WindowsPlatform platform;
  const LocaleCollation* collation = platform.Collation();
  ASSERT_NE(collation, nullptr);
  EXPECT_EQ(collation, platform.Collation());
  const CollationKeyOrder key_order(*collation);
  const KeyOrder* order = &key_order;
  EXPECT_EQ(order->Compare("utt1.lab", "UTT1.LAB"), 0);
  EXPECT_LT(order->Compare("utt1.lab", "utt2.lab"), 0);
  EXPECT_GT(order->Compare("utt2.lab", "utt10.lab"), 0);
  EXPECT_LT(order->Compare("coop", "co-op"), 0);
  EXPECT_EQ(order->Compare("", ""), 0);
  EXPECT_EQ(order->Compare(std::string_view(), ""), 0);
  EXPECT_LT(order->Compare("", "a"), 0);
  // The bytes after a NUL take part: a key cut there would equal "a".
  EXPECT_GT(order->Compare("a\0c"s, "ab"), 0);
  EXPECT_LT(order->Compare("a\0a"s, "ab"), 0);
  EXPECT_EQ(order->Summary("a"), order->Summary("zzz"));
}

}  // namespace
}  // namespace mlfsort

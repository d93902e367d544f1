#include "support/memory_platform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mlfsort {
namespace {

using Sizes = std::vector<std::uint32_t>;

class MemoryPlatformTest : public ::testing::Test {
 protected:
  bool Write(Handle handle, const std::string& bytes) {
    std::uint32_t written = 99;
    const bool succeeded =
        platform_.WriteFile(handle, bytes.data(),
                            static_cast<std::uint32_t>(bytes.size()), &written);
    EXPECT_EQ(written, succeeded ? bytes.size() : 0u);
    return succeeded;
  }
  // Reads once, asking for up to 128 bytes; "<failed>" when the call fails.
  std::string Read(Handle handle) {
    char buffer[128];
    std::uint32_t read = 99;
    if (!platform_.ReadFile(handle, buffer, sizeof buffer, &read)) {
      EXPECT_EQ(read, 0u);
      return "<failed>";
    }
    return std::string(buffer, read);
  }

  MemoryPlatform platform_;
};

TEST_F(MemoryPlatformTest, FailCallFailsTheNthCountedCallOnce) {
  platform_.AddFile("in.mlf", "abc");
  platform_.FailCall(2, platform_error::kIoDevice);
  const Handle in = platform_.OpenForReading("in.mlf");
  EXPECT_EQ(platform_.GetFileType(in), FileType::kUnknown);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kIoDevice);
  EXPECT_EQ(Read(in), "abc");
  EXPECT_EQ(platform_.GetLastError(), platform_error::kIoDevice);
  EXPECT_EQ(platform_.counted_calls(), 3);
  ASSERT_EQ(platform_.calls().size(), 3u);
  EXPECT_FALSE(platform_.calls()[1].succeeded);
  EXPECT_EQ(platform_.calls()[1].error, platform_error::kIoDevice);
  EXPECT_EQ(platform_.calls()[2].name, "in.mlf");
  EXPECT_EQ(platform_.calls()[2].bytes, 128u);
}

TEST_F(MemoryPlatformTest, FailCallsFromFailsEveryLaterCallWithoutEffect) {
  platform_.FailCallsFrom(2, platform_error::kDiskFull);
  const Handle out = platform_.OpenForWriting("out.srt");
  ASSERT_NE(out, kInvalidHandle);
  EXPECT_FALSE(Write(out, "abc"));
  EXPECT_FALSE(platform_.CloseHandle(out));
  EXPECT_TRUE(platform_.IsOpen("out.srt"));
  EXPECT_EQ(platform_.FileContents("out.srt"), "");
  EXPECT_EQ(platform_.OpenForReading("out.srt"), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kDiskFull);

  platform_.ResetFailures();
  EXPECT_TRUE(platform_.CloseHandle(out));
  EXPECT_FALSE(platform_.IsOpen("out.srt"));
  EXPECT_EQ(platform_.counted_calls(), 1);
}

TEST_F(MemoryPlatformTest, FailNextCountsCallsOfOneKindFromNow) {
  const Handle out = platform_.OpenForWriting("out.srt");
  EXPECT_TRUE(Write(out, "ab"));
  platform_.FailNext(PlatformCall::kWriteFile, 2, platform_error::kDiskFull);
  EXPECT_TRUE(Write(out, "cd"));
  EXPECT_FALSE(Write(out, "efg"));
  EXPECT_TRUE(Write(out, "h"));
  EXPECT_EQ(platform_.FileContents("out.srt"), "abcdh");
  EXPECT_EQ(platform_.WriteSizesTo("out.srt"), (Sizes{2, 2, 3, 1}));
  EXPECT_EQ(platform_.WriteSizes(out), (Sizes{2, 2, 3, 1}));
  EXPECT_EQ(platform_.GetLastError(), platform_error::kDiskFull);
}

TEST_F(MemoryPlatformTest, OpenRefusesMissingFilesDirectoriesAndLongNames) {
  platform_.AddDirectory("data");
  platform_.AddFile("data/in.mlf", "x");
  platform_.AddFile("lost/in.mlf", "x");
  platform_.SetMaxNameBytes(11);
  const std::vector<std::pair<std::string, std::uint32_t>> refusals = {
      {"in.mlf", platform_error::kFileNotFound},
      {"/in.mlf", platform_error::kFileNotFound},
      {"lost/in.mlf", platform_error::kPathNotFound},
      {"data", platform_error::kAccessDenied},
      {"data/in.mlf2", platform_error::kFilenameTooLong},
  };
  for (const auto& [name, code] : refusals) {
    EXPECT_EQ(platform_.OpenForReading(name.c_str()), kInvalidHandle) << name;
    EXPECT_EQ(platform_.GetLastError(), code) << name;
  }
  EXPECT_EQ(platform_.OpenForWriting("lost/o.srt"), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kPathNotFound);
  EXPECT_EQ(platform_.OpenForWriting("data"), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kAccessDenied);
  EXPECT_NE(platform_.OpenForReading("data/in.mlf"), kInvalidHandle);
  EXPECT_NE(platform_.OpenForWriting("/out.srt"), kInvalidHandle);
}

TEST_F(MemoryPlatformTest, ReadersShareAFileAndWritersHoldItAlone) {
  platform_.AddFile("x.srt", "old");
  const Handle first = platform_.OpenForReading("x.srt");
  const Handle second = platform_.OpenForReading("x.srt");
  ASSERT_NE(second, kInvalidHandle);
  EXPECT_NE(first, second);
  EXPECT_EQ(platform_.OpenForWriting("x.srt"), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kSharingViolation);
  EXPECT_EQ(platform_.FileContents("x.srt"), "old");
  EXPECT_TRUE(platform_.CloseHandle(first));
  EXPECT_TRUE(platform_.CloseHandle(second));

  const Handle writer = platform_.OpenForWriting("x.srt");
  ASSERT_NE(writer, kInvalidHandle);
  EXPECT_EQ(platform_.FileContents("x.srt"), "old");
  EXPECT_TRUE(platform_.EmptyFile(writer));
  EXPECT_EQ(platform_.FileContents("x.srt"), "");
  EXPECT_EQ(platform_.OpenForReading("x.srt"), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kSharingViolation);
  EXPECT_EQ(platform_.OpenForWriting("x.srt"), kInvalidHandle);
  EXPECT_EQ(Read(writer), "<failed>");
  EXPECT_EQ(platform_.GetLastError(), platform_error::kAccessDenied);
  EXPECT_TRUE(platform_.CloseHandle(writer));
  EXPECT_FALSE(platform_.CloseHandle(writer));
  EXPECT_EQ(platform_.GetLastError(), platform_error::kInvalidHandle);
}

TEST_F(MemoryPlatformTest, StandardInputDeliversAtMostMaxReadBytes) {
  platform_.SetStandardInput("in.mlf\r\n", FileType::kCharacter);
  platform_.SetMaxReadBytes(3);
  const Handle input = platform_.GetStdHandle(StandardHandle::kInput);
  EXPECT_EQ(platform_.GetFileType(input), FileType::kCharacter);
  EXPECT_EQ(Read(input), "in.");
  EXPECT_EQ(Read(platform_.GetStdHandle(StandardHandle::kInput)), "mlf");
  EXPECT_EQ(Read(input), "\r\n");
  EXPECT_EQ(Read(input), "");
}

TEST_F(MemoryPlatformTest, StandardOutputCollectsWritesUntilClosed) {
  const Handle output = platform_.GetStdHandle(StandardHandle::kOutput);
  EXPECT_EQ(platform_.GetFileType(output), FileType::kPipe);
  EXPECT_TRUE(Write(output, "Enter"));
  EXPECT_TRUE(Write(output, "\r\n"));
  EXPECT_FALSE(platform_.CloseHandle(output));
  EXPECT_EQ(platform_.StandardOutput(), "Enter\r\n");
  EXPECT_EQ(platform_.WriteSizesToStandardOutput(), (Sizes{5, 2}));

  platform_.CloseStandardOutput();
  platform_.CloseStandardInput();
  EXPECT_FALSE(Write(output, "x"));
  EXPECT_EQ(platform_.GetStdHandle(StandardHandle::kOutput), kInvalidHandle);
  EXPECT_EQ(platform_.GetLastError(), platform_error::kInvalidHandle);
  EXPECT_EQ(platform_.GetStdHandle(StandardHandle::kInput), kInvalidHandle);
  EXPECT_EQ(platform_.StandardOutput(), "Enter\r\n");
}

TEST_F(MemoryPlatformTest, CommandLineIsOwnedByThePlatform) {
  ProcessArguments arguments = platform_.GetCommandLine();
  ASSERT_TRUE(arguments.is_split);
  EXPECT_EQ(arguments.split, std::vector<std::string_view>{"mlfsort"});

  platform_.SetCommandLine(std::string("mlfsort \"my labels.mlf\""));
  arguments = platform_.GetCommandLine();
  EXPECT_FALSE(arguments.is_split);
  EXPECT_EQ(arguments.command_line, "mlfsort \"my labels.mlf\"");
}

TEST_F(MemoryPlatformTest, LocateCodeReportsTheConfiguredModule) {
  CodeLocation where;
  platform_.SetModule(0x400000, std::string(300, 'm'));
  ASSERT_TRUE(platform_.LocateCode(&where, &where));
  EXPECT_EQ(where.module_base, 0x400000u);
  EXPECT_EQ(std::string(where.module_name), std::string(260, 'm'));

  platform_.SetModule(0x400000, "");
  EXPECT_FALSE(platform_.LocateCode(&where, &where));
  EXPECT_EQ(where.module_base, 0u);
}

}  // namespace
}  // namespace mlfsort

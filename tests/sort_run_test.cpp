#include "sorter/sort_run.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "support/memory_platform.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

using Kind = PlatformCall::Kind;

TEST(OutputNameTest, KeepsTheInputNameUpToItsFirstDot) {
  EXPECT_EQ(OutputNameFor("train.mlf"), "train.srt");
  EXPECT_EQ(OutputNameFor("a.b.mlf"), "a.srt");
  EXPECT_EQ(OutputNameFor("data.set/x.mlf"), "data.srt");
  EXPECT_EQ(OutputNameFor("./x.mlf"), ".srt");
  EXPECT_EQ(OutputNameFor("labels"), "srt");
  EXPECT_EQ(OutputNameFor("labels."), "labels.srt");
  EXPECT_EQ(OutputNameFor(""), "srt");
}

TEST(LineKindTest, KeyIsBytesThreeToOneHundredAndOne) {
  EXPECT_EQ(SortKeyOf("ab"), "");
  EXPECT_EQ(SortKeyOf("."), "");
  EXPECT_EQ(SortKeyOf("\"*/utt1.lab\""), "/utt1.lab\"");
  const std::string long_line = "xx" + std::string(99, 'k') + "tail";
  EXPECT_EQ(SortKeyOf(long_line), std::string(99, 'k'));
  EXPECT_TRUE(IsPassThroughLine(""));
  EXPECT_TRUE(IsPassThroughLine("#!MLF!#"));
  EXPECT_FALSE(IsPassThroughLine(" #x"));
}

class SortRunTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPendingIoError(0); }

  int Sort(const std::string& input) {
    platform_.AddFile("train.mlf", input);
    platform_.SetArguments({"mlfsort", "train.mlf"});
    return RunProcess(platform_, SystemModules(), &RunSort);
  }
  std::string Output() const { return platform_.FileContents("train.srt"); }
  std::string ReportMessage() const {
    std::smatch match;
    const std::string& output = platform_.StandardOutput();
    static const std::regex kReport(
        "Exception \\w+ in module mlfsort at [0-9A-F]{8}\\.\n(.*)\r\n$");
    return std::regex_search(output, match, kReport) ? match[1].str() : "";
  }

  MemoryPlatform platform_;
};

TEST_F(SortRunTest, SortsTheRoadOfATypicalFile) {
  EXPECT_EQ(Sort("#!MLF!#\r\n\"*/utt2.lab\"\r\n\"*/utt1.lab\"\r\n"), 0);
  EXPECT_EQ(Output(), "#!MLF!#\r\n\"*/utt1.lab\"\r\n\"*/utt2.lab\"\r\n");
  EXPECT_EQ(platform_.StandardOutput(), "\r\n\r\n");
}

TEST_F(SortRunTest, PassThroughLinesComeFirstInInputOrder) {
  Sort("#!MLF!#\rxxb\r\n# comment\r\n\r\nxxa\r\n #sortable\r\n");
  EXPECT_EQ(Output(),
            "#!MLF!#\r\n# comment\r\n\r\nxxa\r\nxxb\r\n #sortable\r\n");
}

TEST_F(SortRunTest, LastLineOfEqualKeysWins) {
  Sort(".\r\nxxKEY\r\nyyother\r\n..\r\nzzkey\r\n" + std::string("xx") +
       std::string(99, 'k') + "first\r\n" + "yy" + std::string(99, 'K') +
       "second\r\n");
  EXPECT_EQ(Output(), "..\r\nzzkey\r\n" + std::string("yy") +
                          std::string(99, 'K') + "second\r\n" + "yyother\r\n");
}

TEST_F(SortRunTest, EmptyInputGivesAnEmptyOutput) {
  EXPECT_EQ(Sort(""), 0);
  EXPECT_TRUE(platform_.HasFile("train.srt"));
  EXPECT_EQ(Output(), "");
}

TEST_F(SortRunTest, OutputIsCreatedBeforeTheInputIsOpened) {
  platform_.SetArguments({"mlfsort", "missing.mlf"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "File not found.");
  EXPECT_TRUE(platform_.HasFile("missing.srt"));
  EXPECT_EQ(platform_.FileContents("missing.srt"), "");
  EXPECT_EQ(platform_.StandardOutput().substr(0, 2), "\r\n");
}

TEST_F(SortRunTest, OutputThatCannotBeCreatedLeavesTheInputUnopened) {
  platform_.FailNext(Kind::kCreateForWriting, 1, platform_error::kAccessDenied);
  EXPECT_EQ(Sort("xxa\r\n"), 1);
  EXPECT_EQ(ReportMessage(), "File access denied.");
  for (const PlatformCall& call : platform_.calls()) {
    EXPECT_NE(call.kind, Kind::kOpenForReading);
  }
}

TEST_F(SortRunTest, OutputNamedLikeTheInputIsRefusedBeforeAnythingIsTouched) {
  platform_.AddFile("x.srt", "xxb\r\nxxa\r\n");
  platform_.SetArguments({"mlfsort", "x.srt"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 32.");
  EXPECT_EQ(platform_.FileContents("x.srt"), "xxb\r\nxxa\r\n");
  for (const PlatformCall& call : platform_.calls()) {
    EXPECT_NE(call.kind, Kind::kCreateForWriting);
  }
}

TEST_F(SortRunTest, OutputLinkedToTheInputIsRefused) {
  platform_.AddLink("train.srt", "train.mlf");
  EXPECT_EQ(Sort("xxb\r\nxxa\r\n"), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 32.");
  EXPECT_EQ(platform_.FileContents("train.mlf"), "xxb\r\nxxa\r\n");
}

TEST_F(SortRunTest, FailureKeepsOnlyTheWholeBlocksWrittenOut) {
  // 300 bytes of pass-through lines, then the input fails.
  std::string input;
  for (int i = 0; i < 3; ++i) input += "#" + std::string(97, 'a') + "\r\n";
  input += "xxrest\r\n";
  platform_.FailNext(Kind::kReadFile, 4, platform_error::kIoDevice);
  EXPECT_EQ(Sort(input), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 1117.");
  EXPECT_EQ(Output().size(), 256u);
  EXPECT_EQ(platform_.FileContents("train.mlf"), input);
}

TEST_F(SortRunTest, PromptAsksForTheName) {
  platform_.AddFile("in.mlf", "xxb\r\nxxa\r\n");
  platform_.SetArguments({"mlfsort"});
  platform_.SetStandardInput("in.mlf\r\n");
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.StandardOutput(), "Enter MLF file to sort: \r\n\r\n");
  EXPECT_EQ(platform_.FileContents("in.srt"), "xxa\r\nxxb\r\n");
}

TEST_F(SortRunTest, PromptIsShownAtOnceOnAConsole) {
  platform_.SetArguments({"mlfsort"});
  platform_.SetStandardOutputType(FileType::kCharacter);
  platform_.SetStandardInput("in.mlf\r\n", FileType::kCharacter);
  RunProcess(platform_, SystemModules(), &RunSort);
  // The prompt went out before the first read of standard input.
  bool prompt_written = false;
  for (const PlatformCall& call : platform_.calls()) {
    if (call.kind == Kind::kWriteFile && call.bytes == 24)
      prompt_written = true;
    if (call.kind == Kind::kReadFile) {
      EXPECT_TRUE(prompt_written);
      break;
    }
  }
}

TEST_F(SortRunTest, FailureWhileReadingTheNameFollowsThePromptDirectly) {
  platform_.SetArguments({"mlfsort"});
  platform_.FailNext(Kind::kReadFile, 1, platform_error::kIoDevice);
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(
      platform_.StandardOutput().rfind("Enter MLF file to sort: Exception", 0),
      0u)
      << platform_.StandardOutput();
}

TEST_F(SortRunTest, EmptyNameReadsTheRestOfStandardInput) {
  platform_.SetArguments({"mlfsort"});
  platform_.SetStandardInput("\r\n#!MLF!#\r\nxxb\r\nxxa\r\n");
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.FileContents("srt"), "#!MLF!#\r\nxxa\r\nxxb\r\n");
}

TEST_F(SortRunTest, MoreThan65536LinesKeepTheirOwnPlaces) {
  std::string input;
  const int kLines = 70000;
  for (int i = kLines - 1; i >= 0; --i) {
    char line[16];
    std::snprintf(line, sizeof line, "xx%06d\r\n", i);
    input += line;
  }
  EXPECT_EQ(Sort(input), 0);
  const std::string output = Output();
  ASSERT_EQ(output.size(), input.size());
  EXPECT_EQ(output.substr(0, 10), "xx000000\r\n");
  EXPECT_EQ(output.substr(65536 * 10, 10), "xx065536\r\n");
  EXPECT_EQ(output.substr(output.size() - 10), "xx069999\r\n");
  // In key order already, the input comes out as it is.
  platform_.AddFile("train.mlf", output);
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(Output(), output);
}

}  // namespace
}  // namespace mlfsort

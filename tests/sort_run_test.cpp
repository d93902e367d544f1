#include "sorter/sort_run.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

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

// A mistyped input name must not cost the earlier sorted copy: the output
// is opened first, but emptied only once the input is open.
TEST_F(SortRunTest, InputThatCannotBeOpenedKeepsAnExistingOutput) {
  platform_.AddFile("trian.srt", "earlier copy\r\n");
  platform_.SetArguments({"mlfsort", "trian.mlf"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "File not found.");
  EXPECT_EQ(platform_.FileContents("trian.srt"), "earlier copy\r\n");
  std::vector<Kind> opens;
  for (const PlatformCall& call : platform_.calls()) {
    if (call.kind == Kind::kOpenForWriting ||
        call.kind == Kind::kOpenForReading || call.kind == Kind::kEmptyFile) {
      opens.push_back(call.kind);
    }
  }
  EXPECT_EQ(opens, (std::vector<Kind>{Kind::kOpenForWriting,
                                      Kind::kOpenForReading}));
  // Once the input opens, the old copy goes.
  MemoryPlatform second;
  second.AddFile("trian.srt", "earlier copy\r\n");
  second.AddFile("trian.mlf", "xxb\r\nxxa\r\n");
  second.SetArguments({"mlfsort", "trian.mlf"});
  EXPECT_EQ(RunProcess(second, SystemModules(), &RunSort), 0);
  EXPECT_EQ(second.FileContents("trian.srt"), "xxa\r\nxxb\r\n");
}

TEST_F(SortRunTest, OutputThatCannotBeCreatedLeavesTheInputUnopened) {
  platform_.FailNext(Kind::kOpenForWriting, 1, platform_error::kAccessDenied);
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
    EXPECT_NE(call.kind, Kind::kOpenForWriting);
  }
}

TEST_F(SortRunTest, OutputLinkedToTheInputIsRefused) {
  platform_.AddLink("train.srt", "train.mlf");
  EXPECT_EQ(Sort("xxb\r\nxxa\r\n"), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 32.");
  EXPECT_EQ(platform_.FileContents("train.mlf"), "xxb\r\nxxa\r\n");
}

// A typed name may hold a zero byte; cut there, it would name another file
// ("a", found twice, would read as the output over the input).
TEST_F(SortRunTest, NamesThatCannotBeTakenWholeAreRefusedFirst) {
  platform_.AddFile("a", "xxa\r\n");
  platform_.SetStandardInput(std::string("a\0b.mlf\r\n", 9));
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 123.");
  platform_.SetMaxNameBytes(8);
  platform_.AddFile("b.srt", "kept");
  platform_.SetArguments({"mlfsort", "b.too-long"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "I/O error 206.");
  EXPECT_EQ(platform_.FileContents("b.srt"), "kept");
  for (const PlatformCall& call : platform_.calls()) {
    EXPECT_NE(call.kind, Kind::kOpenForWriting);
  }
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

// The hint goes to standard error only when the whole input was one line
// holding an LF, so that it held no CR at all.
TEST_F(SortRunTest, LfHintOnlyWhenTheInputHeldNoCr) {
  const std::string hint =
      "mlfsort: warning: train.mlf has no CR line ends and was read as one "
      "line; use --lf for LF line ends.\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"#!MLF!#\nxxb\nxxa\n", hint},
      {"xxb\nxxa", hint},
      {"xxb\nxxa\x1a\r\n", hint},  // nothing after byte 26 is read
      {"xxb\nxxa\n\r", ""},        // one line, but ended by a CR
      {"xxb\r\nxxa\n", ""},
      {"xxb", ""},
      {"", ""},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(input));
    MemoryPlatform platform;
    platform.AddFile("train.mlf", input);
    platform.SetArguments({"mlfsort", "train.mlf"});
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 0);
    EXPECT_EQ(platform.StandardError(), expected);
    EXPECT_EQ(platform.StandardOutput(), "\r\n\r\n");
  }
}

TEST_F(SortRunTest, LfHintNamesStandardInputAndCannotFailTheRun) {
  platform_.SetArguments({"mlfsort"});
  platform_.SetStandardInput("\r\nxxb\nxxa\n");
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.StandardError().substr(0, 33),
            "mlfsort: warning: standard input ");

  MemoryPlatform no_error_stream;
  no_error_stream.CloseStandardError();
  no_error_stream.AddFile("train.mlf", "xxb\nxxa\n");
  no_error_stream.SetArguments({"mlfsort", "train.mlf"});
  EXPECT_EQ(RunProcess(no_error_stream, SystemModules(), &RunSort), 0);
  EXPECT_EQ(no_error_stream.StandardOutput(), "\r\n\r\n");
  EXPECT_EQ(no_error_stream.FileContents("train.srt"), "xxb\nxxa\n\r\n");
}

// Under --lf every line the run writes ends in LF: the output file, the
// empty lines on standard output and the failure report; the name line at
// the prompt may end in LF.
TEST_F(SortRunTest, LfConventionHoldsForEveryLineInAndOut) {
  platform_.AddFile("in.mlf", "#!MLF!#\nxxb\r\nxxa\x1a\n");
  platform_.SetArguments({"mlfsort", "--lf"});
  platform_.SetStandardInput("in.mlf\nrest");
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.StandardOutput(), "Enter MLF file to sort: \n\n");
  EXPECT_EQ(platform_.FileContents("in.srt"), "#!MLF!#\nxxa\x1a\nxxb\n");
  EXPECT_EQ(platform_.StandardError(), "");

  MemoryPlatform missing;
  missing.SetArguments({"mlfsort", "--lf", "missing.mlf"});
  EXPECT_EQ(RunProcess(missing, SystemModules(), &RunSort), 1);
  EXPECT_TRUE(missing.StandardOutput().ends_with(".\nFile not found.\n"))
      << missing.StandardOutput();
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

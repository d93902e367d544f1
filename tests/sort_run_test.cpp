#include "run/sort_run.h"

#include <gtest/gtest.h>

#include <optional>
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
  EXPECT_EQ(opens,
            (std::vector<Kind>{Kind::kOpenForWriting, Kind::kOpenForReading}));
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

// Standard error on the output or the input is refused as standard output
// is, and not a word goes there: it would land in the file it protects.
TEST_F(SortRunTest, StandardErrorOnTheRunsFilesIsRefusedInSilence) {
  for (const char* file : {"train.srt", "train.mlf"}) {
    SCOPED_TRACE(file);
    MemoryPlatform platform;
    platform.AddFile("train.mlf", "xxb\r\nxxa\r\n");
    platform.AddFile("train.srt", "earlier");
    platform.SetStandardFile(StandardHandle::kError, file);
    platform.SetArguments({"mlfsort", "train.mlf", "ignored.mlf"});
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 1);
    EXPECT_TRUE(platform.StandardOutput().ends_with("\nI/O error 32.\r\n"));
    EXPECT_EQ(platform.StandardError(), "");
    EXPECT_EQ(platform.FileContents("train.srt"), "earlier");
    EXPECT_EQ(platform.FileContents("train.mlf"), "xxb\r\nxxa\r\n");
    for (const PlatformCall& call : platform.calls()) {
      EXPECT_NE(call.kind, Kind::kOpenForWriting);
    }
  }
  // Not even the report, when it would go to standard error.
  for (const char* option : {"-c", "-o-"}) {
    MemoryPlatform platform;
    platform.AddFile("train.mlf", "xxb\r\nxxa\r\n");
    platform.SetStandardFile(StandardHandle::kError, "train.mlf");
    platform.SetArguments({"mlfsort", option, "train.mlf"});
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort),
              option[1] == 'c' ? 2 : 1);
    EXPECT_EQ(platform.StandardError(), "");
    EXPECT_EQ(platform.StandardOutput(), "");
  }
}

// A failure's line names the file, the operation and the system's words
// (the in-memory platform's are "error <code>"), after the warnings; -q
// drops the warnings, never the failure's line.
TEST_F(SortRunTest, FailureLineTellsTheFileAndWhatWasDone) {
  struct Case {
    std::vector<std::string> arguments;
    std::optional<Kind> failing;
    std::string error;
  };
  const Case cases[] = {
      {{"mlfsort", "missing.mlf"},
       std::nullopt,
       "mlfsort: cannot open 'missing.mlf' for reading: error 2\n"},
      {{"mlfsort", "train.mlf", "b.mlf"},
       Kind::kWriteFile,
       "mlfsort: warning: 1 further argument ignored ('b.mlf')\n"
       "mlfsort: cannot write 'train.srt': error 112\n"},
      {{"mlfsort", "-q", "train.mlf", "b.mlf"},
       Kind::kEmptyFile,
       "mlfsort: cannot empty 'train.srt': error 112\n"},
      {{"mlfsort", "-o", "train.mlf", "train.mlf"},
       std::nullopt,
       "mlfsort: 'train.mlf' is the input file; choose another output with "
       "-o\n"},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.error);
    MemoryPlatform platform;
    platform.AddFile("train.mlf", std::string(300, 'x') + "\r\n");
    platform.SetArguments(run.arguments);
    // Standard output is written at the end: the first write is the
    // output's.
    if (run.failing) {
      platform.FailNext(*run.failing, 1, platform_error::kDiskFull);
    }
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 1);
    EXPECT_EQ(platform.StandardError(), run.error);
  }
}

// A standard stream that cannot be opened is named with the open's own
// words, not with the code the stream leaves after it.
TEST_F(SortRunTest, FailureLineTellsAStandardStreamThatWouldNotOpen) {
  platform_.AddFile("train.mlf", "xxa\r\n");
  platform_.SetArguments({"mlfsort", "train.mlf"});
  platform_.CloseStandardOutput();
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(platform_.StandardError(),
            "mlfsort: cannot open standard output for writing: error 6\n");

  MemoryPlatform no_input;
  no_input.CloseStandardInput();
  EXPECT_EQ(RunProcess(no_input, SystemModules(), &RunSort), 1);
  EXPECT_EQ(no_input.StandardError(),
            "mlfsort: cannot open standard input for reading: error 6\n");
}

TEST_F(SortRunTest, WarningsTellDroppedLinesAndSurprisingOutputNames) {
  const auto run = [](std::vector<std::string> arguments) {
    MemoryPlatform platform;
    platform.AddDirectory(".");
    platform.AddFile("./x.mlf", "xxa\r\n.\r\nyya\r\n.\r\nzzb\r\n");
    platform.AddFile("x.mlf", "xxa\r\nxxb\r\n");
    platform.SetArguments(std::move(arguments));
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 0);
    return platform.StandardError();
  };
  EXPECT_EQ(run({"mlfsort", "./x.mlf"}),
            "mlfsort: warning: 2 of 5 sortable lines had the key of a line "
            "read later and were dropped; -e keeps whole label entries\n"
            "mlfsort: note: wrote '.srt' (the name is cut after its first "
            "'.'); -o chooses the name\n");
  EXPECT_EQ(run({"mlfsort", "-e", "./x.mlf"}),
            "mlfsort: note: wrote '.srt' (the name is cut after its first "
            "'.'); -o chooses the name\n");
  EXPECT_EQ(run({"mlfsort", "-o", "sorted", "./x.mlf"}),
            "mlfsort: warning: 2 of 5 sortable lines had the key of a line "
            "read later and were dropped; -e keeps whole label entries\n");
  EXPECT_EQ(run({"mlfsort", "-q", "./x.mlf"}), "");
  EXPECT_EQ(run({"mlfsort", "x.mlf"}), "");
}

// With -o every name is an input, read in order as one: pass-through
// lines in input order, one header, the last line read of each key.
TEST_F(SortRunTest, SeveralInputsSortAsOneWithOneHeader) {
  platform_.AddFile("a.mlf", "#!MLF!#\r\nxxb\r\nxxkey\r\n#!MLF!#\r\n");
  platform_.AddFile("b.mlf", "#!MLF!#\r\nyykey\r\n# note\r\nxxa");
  platform_.AddFile("c.mlf", "# c\r\n#!MLF!#\r\n");
  platform_.SetArguments(
      {"mlfsort", "a.mlf", "-o", "out.mlf", "b.mlf", "c.mlf"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.FileContents("out.mlf"),
            "#!MLF!#\r\n#!MLF!#\r\n# note\r\n# c\r\n#!MLF!#\r\nxxa\r\n"
            "xxb\r\nyykey\r\n");
  EXPECT_EQ(platform_.StandardOutput(), "\r\n\r\n");
}

// Every input is opened before the output is emptied; any of them that is
// the output is refused before anything is touched.
TEST_F(SortRunTest, SeveralInputsKeepTheOutputWhenOneFails) {
  platform_.AddFile("a.mlf", "xxa\r\n");
  platform_.AddFile("out.mlf", "earlier\r\n");
  platform_.SetArguments({"mlfsort", "-o", "out.mlf", "a.mlf", "b.mlf"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 1);
  EXPECT_EQ(ReportMessage(), "File not found.");
  EXPECT_EQ(platform_.FileContents("out.mlf"), "earlier\r\n");

  MemoryPlatform platform;
  platform.AddFile("a.mlf", "xxa\r\n");
  platform.AddFile("out.mlf", "earlier\r\n");
  platform.SetArguments({"mlfsort", "-o", "out.mlf", "a.mlf", "out.mlf"});
  EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 1);
  EXPECT_EQ(platform.StandardError(),
            "mlfsort: 'out.mlf' is the input file; choose another output with "
            "-o\n");
  for (const PlatformCall& call : platform.calls()) {
    EXPECT_NE(call.kind, Kind::kOpenForWriting);
  }
}

// "-" names standard input, read from its start; "-o -" makes standard
// output carry the sorted lines and nothing else, and a failure report go
// to standard error.
TEST_F(SortRunTest, StandardStreamsAsInputAndOutput) {
  platform_.AddFile("a.mlf", "xxc\r\n");
  platform_.SetStandardInput("xxb\r\n#!MLF!#\r\nxxa\r\n");
  platform_.SetArguments({"mlfsort", "-o", "-", "a.mlf", "-"});
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_EQ(platform_.StandardOutput(), "#!MLF!#\r\nxxa\r\nxxb\r\nxxc\r\n");
  EXPECT_EQ(platform_.StandardError(), "");

  MemoryPlatform failing;
  failing.AddFile("a.mlf", "xxc\r\n");
  failing.SetArguments({"mlfsort", "-o", "-", "a.mlf", "missing.mlf"});
  EXPECT_EQ(RunProcess(failing, SystemModules(), &RunSort), 1);
  EXPECT_EQ(failing.StandardOutput(), "");
  EXPECT_TRUE(std::regex_match(
      failing.StandardError(),
      std::regex("Exception EInOutError in module mlfsort at [0-9A-F]{8}\\.\n"
                 "File not found\\.\r\nmlfsort: cannot open 'missing.mlf' "
                 "for reading: error 2\n")))
      << failing.StandardError();

  // Standard output is handed over at the end too: a failure there ends
  // the run, one whose reader has gone without a word.
  for (const std::uint32_t code :
       {platform_error::kDiskFull, platform_error::kNoData}) {
    MemoryPlatform last;
    last.AddFile("a.mlf", "xxc\r\n");
    last.SetArguments({"mlfsort", "-o", "-", "a.mlf"});
    last.FailNext(Kind::kFlushFile, 1, code);
    EXPECT_EQ(RunProcess(last, SystemModules(), &RunSort), 1);
    EXPECT_EQ(last.StandardError().empty(), code == platform_error::kNoData)
        << last.StandardError();
  }

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"mlfsort", "-o", "-"},
        std::vector<std::string>{"mlfsort", "-o", "x", "-", "a.mlf", "-"}}) {
    MemoryPlatform wrong;
    wrong.AddFile("a.mlf", "xxc\r\n");
    wrong.SetArguments(arguments);
    EXPECT_EQ(RunProcess(wrong, SystemModules(), &RunSort), 2);
    EXPECT_EQ(wrong.StandardOutput(), "");
    EXPECT_FALSE(wrong.HasFile("x"));
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
// Under the CR convention an LF ends no line; every line that holds one is
// counted, wherever it lies: in a file with no CR at all, in one stray line
// of a CR LF file, across buffers.
TEST_F(SortRunTest, LineFeedWarningCountsEveryLineHoldingOne) {
  const auto warning = [](const std::string& count) {
    return "mlfsort: warning: " + count +
           " of 'train.mlf' hold an LF byte, read as part of the line (lines "
           "end at CR); -l reads LF line ends\n";
  };
  const std::string one =
      "mlfsort: warning: 1 line of 'train.mlf' holds an LF byte, read as part "
      "of the line (lines end at CR); -l reads LF line ends\n";
  std::string many;
  for (int i = 0; i < 50; ++i) many += "xx" + std::to_string(i) + "\nz\r\n";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"#!MLF!#\nxxb\nxxa\n", one},
      {"xxb\r\nxxa\nyy\r\n", one},       // one stray LF in a CR LF file
      {"xxb\nxxa\x1a\nxxc\n\r\n", one},  // nothing after byte 26 is read
      {"xxa\nb\r\nxxc\nd\rxxe\r\n", warning("2 lines")},
      {std::string(200, 'x') + "\n" + std::string(100, 'y') + "\r\n", one},
      {many, warning("50 lines")},
      {"xxb\r\nxxa\r", ""},
      // A CR LF whose LF begins the next buffer ends a line like any other.
      {std::string(127, 'x') + "\r\nyy\r\n", ""},
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
    MemoryPlatform quiet;
    quiet.AddFile("train.mlf", input);
    quiet.SetArguments({"mlfsort", "-q", "train.mlf"});
    EXPECT_EQ(RunProcess(quiet, SystemModules(), &RunSort), 0);
    EXPECT_EQ(quiet.StandardError(), "");
  }
}

TEST_F(SortRunTest, LineFeedWarningNamesStandardInputAndCannotFailTheRun) {
  platform_.SetArguments({"mlfsort"});
  platform_.SetStandardInput("\r\nxxb\nxxa\n");
  EXPECT_EQ(RunProcess(platform_, SystemModules(), &RunSort), 0);
  EXPECT_TRUE(platform_.StandardError().starts_with(
      "mlfsort: warning: 1 line of standard input holds an LF byte"))
      << platform_.StandardError();

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

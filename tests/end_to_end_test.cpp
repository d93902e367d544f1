// Runs the built mlfsort binary in temporary directories and checks what it
// leaves on disk, on standard output and in its exit status.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "run/run_warnings.h"
#include "support/binary_runner.h"
#include "support/binary_test_fixture.h"
#include "support/corpus_files.h"
#include "support/same_bytes.h"
#include "support/sort_model.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;

constexpr char kVersion[] = MLFSORT_VERSION;
constexpr char kCorpusDir[] = MLFSORT_CORPUS_DIR;
constexpr char kExamplesDir[] = MLFSORT_EXAMPLES_DIR;

class EndToEndTest : public BinaryRunTest {
 protected:
  // Sorts `input` as in.mlf, expecting a normal run; returns in.srt.
  std::string SortOf(const std::string& input) {
    WriteFile("in.mlf", input);
    const RunResult result = Run({"in.mlf"});
    ExpectNormalEnd(result, kTwoLineEnds);
    return ReadFile("in.srt").value_or("<no in.srt>");
  }
};

class EndToEndTypicalFile : public EndToEndTest {};
class EndToEndLines : public EndToEndTest {};
class EndToEndOutputName : public EndToEndTest {};
class EndToEndStandardOutput : public EndToEndTest {};
class EndToEndFailures : public EndToEndTest {};
class EndToEndScale : public EndToEndTest {};
class EndToEndRealFiles : public EndToEndTest {};
class EndToEndOptions : public EndToEndTest {};

TEST_F(EndToEndTypicalFile, HeaderThenUtterancesInKeyOrder) {
  WriteFile("train.mlf", kSmallInput);
  const RunResult result = Run({"train.mlf"});
  ExpectNormalEnd(result, kTwoLineEnds);
  EXPECT_EQ(ReadFile("train.srt"), kSmallSorted);
  EXPECT_EQ(ReadFile("train.mlf"), kSmallInput);
}

TEST_F(EndToEndLines, PassThroughOnlyInputComesBackWithCrLf) {
  EXPECT_EQ(SortOf("#!MLF!#\r#c\r\n\r\n\r#last"),
            "#!MLF!#\r\n#c\r\n\r\n\r\n#last\r\n");
}

TEST_F(EndToEndLines, LfOnlyInputIsOneLine) {
  EXPECT_EQ(SortOf("#!MLF!#\n\"*/b.lab\"\nx\n.\n"),
            "#!MLF!#\n\"*/b.lab\"\nx\n.\n\r\n");
  EXPECT_EQ(SortOf("\"*/b.lab\"\nx\n.\n"), "\"*/b.lab\"\nx\n.\n\r\n");
}

TEST_F(EndToEndLines, EndOfTextByteEndsTheInput) {
  EXPECT_EQ(SortOf("#h\r\n\"*/b\"\r\n\x1a\"*/a\"\r\n#late\r\n"),
            "#h\r\n\"*/b\"\r\n");
  EXPECT_EQ(SortOf("\"*/b\032c\r\n\"*/a\"\r\n"), "\"*/b\r\n");
}

TEST_F(EndToEndLines, EmptyInputGivesEmptyOutput) { EXPECT_EQ(SortOf(""), ""); }

TEST_F(EndToEndLines, PassThroughLinesComeBeforeSortableOnes) {
  EXPECT_EQ(SortOf("#!MLF!#\r\n\"*/a.lab\"\r\n#comment\r\n\r\n"),
            "#!MLF!#\r\n#comment\r\n\r\n\"*/a.lab\"\r\n");
  // A blank before the "#" makes a sortable line, keyed from "x".
  EXPECT_EQ(SortOf("#h\r\n #x\r\nzz0\r\n"), "#h\r\nzz0\r\n #x\r\n");
}

TEST_F(EndToEndLines, ShortLinesShareTheEmptyKeyAndTheLastWins) {
  EXPECT_EQ(SortOf("\"*/b\"\r\nx\r\n\"*/a\"\r\nab\r\n.\r\n"),
            ".\r\n\"*/a\"\r\n\"*/b\"\r\n");
}

TEST_F(EndToEndLines, EqualKeysKeepOnlyTheLaterLine) {
  // Letter case in bytes 3 to 101 and the first two bytes do not count.
  EXPECT_EQ(SortOf("xx/UTT1.lab first\r\nyy/utt1.LAB FIRST\r\n"),
            "yy/utt1.LAB FIRST\r\n");
  // Neither does anything after byte 101 ...
  const std::string prefix = "xx" + std::string(99, 'k');
  EXPECT_EQ(SortOf(prefix + "first\r\n" + prefix + "second\r\n"),
            prefix + "second\r\n");
  // ... but byte 101 itself does.
  const std::string almost = "xx" + std::string(98, 'k');
  EXPECT_EQ(SortOf(almost + "b\r\n" + almost + "a\r\n"),
            almost + "a\r\n" + almost + "b\r\n");
}

// A label file holding one sortable line per key, its lines ended by CR LF
// and CR in turn.
std::string LabelFileOf(const std::vector<std::string>& keys) {
  std::string input = "#!MLF!#\r\n";
  for (std::size_t i = 0; i < keys.size(); ++i) {
    input += "p" + std::string(1, static_cast<char>('a' + i)) + keys[i];
    input += i % 2 == 0 ? "\r\n" : "\r";
  }
  return input;
}

TEST_F(EndToEndLines, MixedKeysComeOutInTheModelsOrder) {
  const std::vector<std::string> keys = {
      "utt2.lab", "co-op", "a b",    "utt10.lab", "ab'",
      "a\tb",     "CO_OP", "a-b",    "a~b",       "utt1a.lab",
      "a+b",      "coop",  "a\001b", "utt1.lab",  "ab",
      "a\177b",   "a\nb",  "A-B",    "a\013b",    "utt_1.lab",
      "we're",    "were",  "9",      "-ab",       "'ab"};
  EXPECT_TRUE(SameBytes(SortOf(LabelFileOf(keys)),
                        ModelSortedOutput(LabelFileOf(keys))));
}

TEST_F(EndToEndLines, ZeroAndHighBytesComeOutInTheModelsOrder) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows build orders keys by the user's locale, which "
                  "ignores a zero byte and weighs bytes above 127 its own way";
#endif
  const std::vector<std::string> keys = {
      "\xc9T\xc9", "ab", std::string("a\0b", 3), "\xe9t\xe9", "a\xff", "et"};
  EXPECT_TRUE(SameBytes(SortOf(LabelFileOf(keys)),
                        ModelSortedOutput(LabelFileOf(keys))));
}

TEST_F(EndToEndOutputName, FirstDotAnywhereStartsTheSuffix) {
  ASSERT_TRUE(fs::create_directory(PathOf("data.set")));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a.b.mlf", "a.srt"},      {"labels", "srt"},
      {"labels.", "labels.srt"}, {"data.set/x.mlf", "data.srt"},
      {"./x.mlf", ".srt"},
  };
  for (const auto& [input_name, output_name] : cases) {
    SCOPED_TRACE(input_name);
    WriteFile(input_name, kSmallInput);
    const RunResult result = Run({input_name});
    ExpectNormalEnd(result);
    EXPECT_EQ(ReadFile(output_name), kSmallSorted);
  }
  EXPECT_FALSE(fs::exists(PathOf("data.set/x.srt")));
}

TEST_F(EndToEndStandardOutput, ArgumentGivesExactlyTwoLineEnds) {
  WriteFile("train.mlf", kSmallInput);
  for (ChildOutput output : {ChildOutput::kPipe, ChildOutput::kFile}) {
    RunOptions options;
    options.output = output;
    const RunResult result = Run({"train.mlf"}, options);
    ExpectNormalEnd(result, kTwoLineEnds);
  }
}

TEST_F(EndToEndStandardOutput, PromptReadsTheNameFromStandardInput) {
  WriteFile("train.mlf", kSmallInput);
  for (ChildInput input : {ChildInput::kPipe, ChildInput::kFile}) {
    ASSERT_TRUE(fs::remove(PathOf("train.srt")) ||
                !fs::exists(PathOf("train.srt")));
    RunOptions options;
    options.input = input;
    options.stdin_bytes = "train.mlf\r\n";
    const RunResult result = Run({}, options);
    ExpectNormalEnd(result, std::string(kPrompt) + kTwoLineEnds);
    EXPECT_EQ(ReadFile("train.srt"), kSmallSorted);
  }
}

TEST_F(EndToEndStandardOutput, EmptyNameSortsStandardInputIntoSrt) {
  // Longer than one 128-byte block, so bytes that came in with the name
  // line must not be lost.
  std::string body = "#!MLF!#\r\n";
  for (int i = 40; i > 0; --i) {
    body += "\"*/utt" + std::to_string(i) + ".lab\"\r\n.\r\n";
  }
  for (ChildInput input : {ChildInput::kPipe, ChildInput::kFile}) {
    RunOptions options;
    options.input = input;
    options.stdin_bytes = "\r\n" + body;
    const RunResult result = Run({}, options);
    ExpectNormalEnd(result, std::string(kPrompt) + kTwoLineEnds);
    EXPECT_TRUE(SameBytes(ReadFile("srt").value_or("<no srt>"),
                          ModelSortedOutput(body)));
  }
}

TEST_F(EndToEndStandardOutput, EmptyStandardInputGivesEmptySrt) {
  const RunResult result = Run({});  // standard input is /dev/null
  ExpectNormalEnd(result, std::string(kPrompt) + kTwoLineEnds);
  EXPECT_EQ(ReadFile("srt"), "");
}

// A new output file is left empty; an earlier sorted copy is kept whole.
TEST_F(EndToEndFailures, MissingInputLeavesAnEmptyOutputFile) {
  const RunResult result = Run({"missing.mlf"});
  ExpectFailureReport(result, "\r\n", "EInOutError", "File not found.");
  EXPECT_EQ(ReadFile("missing.srt"), "");
  WriteFile("trian.srt", kSmallSorted);
  ExpectFailureReport(Run({"trian.mlf"}), "\r\n", "EInOutError",
                      "File not found.");
  EXPECT_EQ(ReadFile("trian.srt"), kSmallSorted);
}

TEST_F(EndToEndFailures, MissingDirectoryIsAnInvalidFilename) {
  const RunResult result = Run({"nodir/x.mlf"});
  ExpectFailureReport(result, "\r\n", "EInOutError", "Invalid filename.");
}

TEST_F(EndToEndFailures, UnwritableDirectoryIsAccessDenied) {
  RunOptions options;
  if (RunningAsRoot()) {
    options.run_as_user = kNobody;
    options.run_as_group = kNobody;
  }
  ASSERT_TRUE(fs::create_directory(PathOf("ro")));
  WriteFile("ro/x.mlf", kSmallInput);
  fs::permissions(temp_.path(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  fs::permissions(PathOf("ro"),
                  fs::perms::owner_read | fs::perms::owner_exec |
                      fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec);
  if (!options.run_as_user && WriteFileBytes(PathOf("ro/probe"), "")) {
    GTEST_SKIP() << "permission bits do not keep files out of a directory "
                    "here";
  }
  const RunResult result = RunUnchecked({"ro/x.mlf"}, options);
  if (result.exec_failed && options.run_as_user) {
    GTEST_SKIP() << "running as root, and the unprivileged account cannot "
                    "start "
                 << kBinary << " (" << std::strerror(result.exec_errno)
                 << "), so no permission would be refused";
  }
  ASSERT_FALSE(result.exec_failed) << std::strerror(result.exec_errno);
  ExpectFailureReport(result, "\r\n", "EInOutError", "File access denied.");
  EXPECT_FALSE(fs::exists(PathOf("ro/x.srt")));
}

TEST_F(EndToEndFailures, OutputNameOfTheInputIsRefusedAndInputKept) {
  WriteFile("x.srt", kSmallInput);
  const RunResult result = Run({"x.srt"});
  ExpectFailureReport(result, "\r\n", "EInOutError", "I/O error 32.");
  EXPECT_EQ(ReadFile("x.srt"), kSmallInput);
}

TEST_F(EndToEndFailures, OutputLinkedToTheInputIsRefusedAndInputKept) {
  WriteFile("hard.mlf", kSmallInput);
  fs::create_hard_link(PathOf("hard.mlf"), PathOf("hard.srt"));
  std::vector<std::string> input_names = {"hard.mlf"};
  // Symbolic links only where the system makes them (not under Wine).
  WriteFile("sym.mlf", kSmallInput);
  // Here the input is the link and the output name the file it points to.
  WriteFile("back.srt", kSmallInput);
  std::error_code no_symlinks;
  fs::create_symlink("sym.mlf", PathOf("sym.srt"), no_symlinks);
  if (!no_symlinks) fs::create_symlink("back.srt", PathOf("back.mlf"));
  if (!no_symlinks)
    input_names.insert(input_names.end(), {"sym.mlf", "back.mlf"});
  for (const std::string& input_name : input_names) {
    SCOPED_TRACE(input_name);
    const RunResult result = Run({input_name});
    ExpectFailureReport(result, "\r\n", "EInOutError", "I/O error 32.");
    EXPECT_EQ(ReadFile(input_name), kSmallInput);
  }
}

// Standard output redirected onto the run's own files: the sorted copy (its
// line ends would land in it), the same file under a second name, or the
// input (emptied by the shell, or appended to). Each is refused before any
// file is created or emptied, and the report still reaches standard output.
TEST_F(EndToEndFailures, StandardOutputOnTheRunsOwnFilesIsRefused) {
  WriteFile("x.mlf", kSmallInput);
  WriteFile("y.mlf", kSmallInput);
  WriteFile("earlier.srt", "an earlier sorted copy");
  fs::create_hard_link(PathOf("earlier.srt"), PathOf("y.srt"));
  struct Case {
    std::string input, standard_output;
    bool append;
  };
  for (const Case& run :
       {Case{"x.mlf", "x.srt", false}, Case{"y.mlf", "earlier.srt", true},
        Case{"x.mlf", "x.mlf", true}}) {
    SCOPED_TRACE(run.input + " > " + run.standard_output);
    const std::string before =
        run.append ? ReadFile(run.standard_output).value_or("") : "";
    const std::string x_srt_before = ReadFile("x.srt").value_or("none");
    RunOptions options;
    options.output = ChildOutput::kFile;
    options.stdout_path = PathOf(run.standard_output);
    options.stdout_append = run.append;
    const RunResult result = Run({run.input}, options);
    ExpectFailureReport(result, before + "\r\n", "EInOutError",
                        "I/O error 32.");
    if (run.standard_output != "x.srt") {
      EXPECT_EQ(ReadFile("x.srt").value_or("none"), x_srt_before);
    }
  }
  EXPECT_EQ(ReadFile("y.mlf"), kSmallInput);
}

// Standard input is the input, and the output name "srt" is the file behind
// it: emptying it would destroy the input unread.
TEST_F(EndToEndFailures, OutputOverTheStandardInputItReadsIsRefused) {
  const std::string label_file = "\r\n" + std::string(kSmallInput);
  WriteFile("srt", label_file);
  RunOptions options;
  options.input = ChildInput::kFile;
  options.stdin_path = PathOf("srt");
  const RunResult result = Run({}, options);
  ExpectFailureReport(result, std::string(kPrompt) + "\r\n", "EInOutError",
                      "I/O error 32.");
  EXPECT_EQ(ReadFile("srt"), label_file);
  // Read but not the input, standard input is no conflict.
  WriteFile("in.mlf", kSmallInput);
  options.stdin_path = PathOf("in.srt");
  WriteFile("in.srt", "old");
  ExpectNormalEnd(Run({"in.mlf"}, options));
  EXPECT_EQ(ReadFile("in.srt"), kSmallSorted);
}

TEST_F(EndToEndFailures, EachCheckHasItsOwnAddressInEveryRun) {
  WriteFile("x.srt", kSmallInput);
  const std::string missing_input = ExpectFailureReport(
      Run({"missing.mlf"}), "\r\n", "EInOutError", "File not found.");
  const std::string missing_again = ExpectFailureReport(
      Run({"missing.mlf"}), "\r\n", "EInOutError", "File not found.");
  const std::string refused = ExpectFailureReport(
      Run({"x.srt"}), "\r\n", "EInOutError", "I/O error 32.");
  const std::string no_output = ExpectFailureReport(
      Run({"nodir/x.mlf"}), "\r\n", "EInOutError", "Invalid filename.");
  EXPECT_EQ(missing_input, missing_again);
  EXPECT_NE(missing_input, refused);
  EXPECT_NE(missing_input, no_output);
}

TEST_F(EndToEndFailures, ReportFollowsEverythingWrittenBefore) {
  for (ChildOutput output : {ChildOutput::kPipe, ChildOutput::kFile}) {
    RunOptions options;
    options.input = ChildInput::kPipe;
    options.stdin_bytes = "missing.mlf\r\n";
    options.output = output;
    ExpectFailureReport(Run({}, options), std::string(kPrompt) + "\r\n",
                        "EInOutError", "File not found.");
  }
}

// Without standard output the first line end written to it fails; the run
// ends with status 1 before any file is touched, and the report that cannot
// be written is not retried.
TEST_F(EndToEndFailures, ClosedStandardOutputEndsWithStatusOne) {
  WriteFile("train.mlf", kSmallInput);
  RunOptions options;
  options.output = ChildOutput::kClosed;
  for (const std::string input_name : {"missing.mlf", "train.mlf"}) {
    SCOPED_TRACE(input_name);
    const RunResult result = Run({input_name}, options);
    EXPECT_TRUE(result.exited && result.exit_status == 1) << Describe(result);
  }
  EXPECT_EQ(ReadFile("train.mlf"), kSmallInput);
}

TEST_F(EndToEndFailures, StandardOutputWhoseReaderIsGoneKillsNothing) {
  WriteFile("train.mlf", kSmallInput);
  RunOptions options;
  options.output = ChildOutput::kReaderGone;
  const RunResult failing = Run({"missing.mlf"}, options);
  EXPECT_TRUE(failing.exited && failing.exit_status == 1) << Describe(failing);
  const RunResult sorting = Run({"train.mlf"}, options);
  EXPECT_TRUE(sorting.exited && sorting.exit_status == 0) << Describe(sorting);
  EXPECT_EQ(ReadFile("train.srt"), kSmallSorted);
}

TEST_F(EndToEndFailures, ExhaustedMemoryIsReported) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the address sanitizer reserves far more address space "
                    "than any useful RLIMIT_AS";
  }
  // The binary starts in well under 16 MiB; one line of 32 MiB cannot be
  // held within 24 MiB of address space.
  constexpr std::uint64_t kLimit = 24u << 20;
  constexpr std::uintmax_t kLineBytes = 32u << 20;
  WriteFile("train.mlf", kSmallInput);
  // Zero bytes are ordinary line bytes, so a sparse file makes the line
  // without writing 32 MiB.
  WriteFile("big.mlf", "xx");
  fs::resize_file(PathOf("big.mlf"), kLineBytes);
  {
    std::ofstream big(PathOf("big.mlf"), std::ios::binary | std::ios::app);
    big << "\r\n";
    ASSERT_TRUE(big);
  }
  RunOptions options;
  options.address_space_limit = kLimit;
  const RunResult small = RunUnchecked({"train.mlf"}, options);
  if (small.exec_failed) {
    GTEST_SKIP() << "no address space limit here: "
                 << std::strerror(small.exec_errno);
  }
  ExpectNormalEnd(small);  // the limit alone does not break the tool
  ExpectFailureReport(Run({"big.mlf"}, options), "\r\n", "EOutOfMemory",
                      "Out of memory.");
}

TEST_F(EndToEndScale, MoreThan65536LinesAllComeOutInOrder) {
  constexpr int kLines = 70000;
  std::vector<std::string> lines;
  for (int i = 0; i < kLines; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "\"*/utt%06d.lab\"", i);
    lines.emplace_back(line);
  }
  std::string input = "#!MLF!#\r\n";
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    input += *it + "\r\n";
  }
  std::string expected = "#!MLF!#\r\n";
  for (const std::string& line : lines) expected += line + "\r\n";
  EXPECT_TRUE(SameBytes(SortOf(input), expected));
}

TEST_F(EndToEndRealFiles, CorpusFilesSortLikeTheModel) {
  if (!fs::is_directory(kCorpusDir)) {
    GTEST_SKIP() << "no label-file corpus at " << kCorpusDir;
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(kCorpusDir)) {
    if (entry.path().extension() == ".mlf") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  EXPECT_FALSE(files.empty()) << "no *.mlf in " << kCorpusDir;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const std::optional<std::string> input = ReadFileBytes(file.string());
    ASSERT_TRUE(input);
    EXPECT_TRUE(SameBytes(SortOf(*input), ModelSortedOutput(*input)));
  }
}

TEST_F(EndToEndRealFiles, BundledExampleSortsLikeTheModel) {
  const std::optional<std::string> input =
      ReadFileBytes((fs::path(kExamplesDir) / "example.mlf").string());
  ASSERT_TRUE(input) << "no example.mlf in " << kExamplesDir;
  WriteFile("example.mlf", *input);
  const RunResult result = Run({"example.mlf"});
  ExpectNormalEnd(result);
  EXPECT_TRUE(SameBytes(ReadFile("example.srt").value_or("<no example.srt>"),
                        ModelSortedOutput(*input)));
}

// --help, --version and a wrong option read and create nothing.
TEST_F(EndToEndOptions, HelpVersionAndWrongOptionsTouchNoFile) {
  WriteFile("in.mlf", kSmallInput);
  const RunResult help = Run({"--help", "in.mlf"});
  ExpectNormalEnd(help);
  EXPECT_TRUE(help.stdout_bytes.starts_with("Usage: mlfsort [OPTION]..."));
  const RunResult version = Run({"--version"});
  ExpectNormalEnd(version);
  EXPECT_TRUE(version.stdout_bytes.starts_with(std::string("mlfsort ") +
                                               kVersion + "\n"));
  const RunResult wrong = Run({"in.mlf", "--sort"});
  EXPECT_TRUE(wrong.exited && wrong.exit_status == 2) << Describe(wrong);
  EXPECT_EQ(wrong.stdout_bytes, "");
  EXPECT_EQ(wrong.stderr_bytes,
            "mlfsort: unrecognized option '--sort'\n"
            "Try 'mlfsort --help' for more information.\n");
  EXPECT_EQ(help.stderr_bytes + version.stderr_bytes, "");
  EXPECT_FALSE(fs::exists(PathOf("in.srt")));
}

// A short option is never taken for a name: neither -h nor an -o whose
// value was left out touches a file.
TEST_F(EndToEndOptions, ShortOptionsAreNoNames) {
  WriteFile("srt", "kept");
  ExpectNormalEnd(Run({"-h"}));
  EXPECT_EQ(Run({"-o", "-e", "in.mlf"}).exit_status, 2);
  EXPECT_EQ(ReadFile("srt"), "kept");
  EXPECT_FALSE(fs::exists(PathOf("-e")));
}

TEST_F(EndToEndOptions, OutputOptionChoosesTheNameAndKeepsTheRefusal) {
  WriteFile("in.mlf", kSmallInput);
  ExpectNormalEnd(Run({"--output", "sorted.txt", "in.mlf"}));
  EXPECT_EQ(ReadFile("sorted.txt"), kSmallSorted);
  EXPECT_FALSE(fs::exists(PathOf("in.srt")));
  ExpectFailureReport(Run({"--output=in.mlf", "in.mlf"}), "\r\n", "EInOutError",
                      "I/O error 32.");
  EXPECT_EQ(ReadFile("in.mlf"), kSmallInput);
}

// --entries keeps the refusals and failure reports of the other modes.
TEST_F(EndToEndOptions, EntriesKeepTheRefusalAndTheReport) {
  WriteFile("in.mlf", kSmallInput);
  ExpectFailureReport(Run({"--entries", "--output=in.mlf", "in.mlf"}), "\r\n",
                      "EInOutError", "I/O error 32.");
  EXPECT_EQ(ReadFile("in.mlf"), kSmallInput);
  ExpectFailureReport(Run({"--entries", "missing.mlf"}), "\r\n", "EInOutError",
                      "File not found.");
  ExpectNormalEnd(Run({"--entries", "in.mlf"}), kTwoLineEnds);
  EXPECT_EQ(ReadFile("in.srt"), kSmallInput);  // one open entry: as it was
}

// Each line on standard error where its case arises, and none elsewhere:
// LF bytes under the CR convention, dropped lines, a surprising output
// name, ignored arguments, a failure.
TEST_F(EndToEndOptions, StandardErrorSaysWhatTheRunDidNotShow) {
  WriteFile("lf.mlf", "#!MLF!#\n\"*/b\"\n");
  WriteFile("crlf.mlf", kSmallInput);
  WriteFile("dups.mlf", "xxa\n.\nyyb\n.\n");
  const std::string lf_warning =
      "mlfsort: warning: 1 line of 'lf.mlf' holds an LF byte, read as part of "
      "the line (lines end at CR); -l reads LF line ends\n";
  const std::string dropped =
      "mlfsort: warning: 1 of 4 sortable lines had the key of a line read "
      "later and was dropped; -e keeps whole label entries\n";
  const std::string bare_name =
      "mlfsort: note: wrote '.srt' (the name is cut after its first '.'); -o "
      "chooses the name\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"lf.mlf"}, lf_warning},
      {{"--lf", "lf.mlf"}, ""},
      {{"crlf.mlf"}, ""},
      {{"-l", "dups.mlf"}, dropped},
      {{"-le", "dups.mlf"}, ""},
      {{"-l", "./dups.mlf"}, dropped + bare_name},
      {{"-lq", "./dups.mlf"}, ""},
      {{"crlf.mlf", "lf.mlf", "x"},
       "mlfsort: warning: 2 further arguments ignored ('lf.mlf', ...)\n"},
  };
  for (const auto& [arguments, expected] : cases) {
    SCOPED_TRACE(arguments.back());
    const RunResult result = Run(arguments);
    ExpectNormalEnd(result);
    EXPECT_EQ(result.stderr_bytes, expected);
  }
  const RunResult missing = Run({"-q", "trian.mlf"});
  ExpectFailureReport(missing, "\r\n", "EInOutError", "File not found.");
  EXPECT_TRUE(missing.stderr_bytes.starts_with(
      "mlfsort: cannot open 'trian.mlf' for reading: "))
      << missing.stderr_bytes;
  EXPECT_EQ(std::count(missing.stderr_bytes.begin(), missing.stderr_bytes.end(),
                       '\n'),
            1);
}

// What the line modes say of `input` on standard error: that lines were
// dropped, when the model drops any.
std::string DroppedLinesLine(std::string_view input,
                             LineConvention convention) {
  const auto sortable = [convention](std::string_view bytes) {
    const std::vector<std::string> lines = ModelSplitLines(bytes, convention);
    return static_cast<std::uint64_t>(std::count_if(
        lines.begin(), lines.end(),
        [](const std::string& line) { return !ModelIsPassThrough(line); }));
  };
  const std::uint64_t read = sortable(input);
  const std::uint64_t kept =
      sortable(ModelSortedOutput(input, convention, ModelMode::kLines));
  if (kept == read) return "";
  return "mlfsort: " + DroppedLinesWarning(read - kept, read) + "\n";
}

// A corpus file, read into input_; skipped where there is no corpus, and on
// Windows for a file whose keys its locale order weighs its own way (a zero
// byte, bytes above 127).
class EndToEndCorpusFile : public EndToEndTest,
                           public ::testing::WithParamInterface<std::string> {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (GetParam() == kNoCorpus) {
      GTEST_SKIP() << "no label-file corpus at " << kCorpusDir
                   << " (CMake cache variable MLFSORT_CORPUS_DIR)";
    }
    const std::optional<std::string> input =
        ReadFileBytes((fs::path(kCorpusDir) / GetParam()).string());
    ASSERT_TRUE(input);
    input_ = *input;
#ifdef _WIN32
    if (std::ranges::any_of(input_, [](char byte) {
          return byte == '\0' || static_cast<unsigned char>(byte) > 127;
        })) {
      GTEST_SKIP() << "the Windows build orders keys by the user's locale, "
                      "which ignores a zero byte and weighs bytes above 127 "
                      "its own way";
    }
#endif
  }

  std::string input_;
};

TEST_P(EndToEndCorpusFile, SortsLikeTheModelWithLf) {
  WriteFile("in.mlf", input_);
  const RunResult result = Run({"--lf", "in.mlf"});
  ExpectNormalEnd(result, "\n\n");
  EXPECT_EQ(result.stderr_bytes, DroppedLinesLine(input_, LineConvention::kLf));
  EXPECT_TRUE(SameBytes(ReadFile("in.srt").value_or("<no in.srt>"),
                        ModelSortedOutput(input_, LineConvention::kLf)));
}

// The lines of `bytes` under `convention`, in byte order: a multiset.
std::vector<std::string> SortedLinesOf(std::string_view bytes,
                                       LineConvention convention) {
  std::vector<std::string> lines = ModelSplitLines(bytes, convention);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// With --entries every line comes out once, whole entries in the model's
// order: with --lf, and with the file's line ends made CR LF (the default
// convention).
TEST_P(EndToEndCorpusFile, EntriesKeepEveryLineInTheModelsOrder) {
  std::string crlf_input;
  for (std::size_t at = 0; at < input_.size(); ++at) {
    if (input_[at] == '\n' && (at == 0 || input_[at - 1] != '\r')) {
      crlf_input += '\r';
    }
    crlf_input += input_[at];
  }
  struct Case {
    const std::string* input;
    std::vector<std::string> options;
    LineConvention convention;
    const char* standard_output;
  };
  for (const Case& run :
       {Case{&input_, {"--lf", "--entries"}, LineConvention::kLf, "\n\n"},
        Case{&crlf_input, {"--entries"}, LineConvention::kCr, kTwoLineEnds}}) {
    SCOPED_TRACE(run.options.size() == 2 ? "--lf" : "CR LF");
    WriteFile("in.mlf", *run.input);
    std::vector<std::string> arguments = run.options;
    arguments.push_back("in.mlf");
    const RunResult result = Run(arguments);
    ExpectNormalEnd(result, run.standard_output);
    EXPECT_EQ(result.stderr_bytes, "");
    const std::string output = ReadFile("in.srt").value_or("<no in.srt>");
    EXPECT_TRUE(SameBytes(output, ModelSortedOutput(*run.input, run.convention,
                                                    ModelMode::kEntries)));
    EXPECT_EQ(SortedLinesOf(output, run.convention),
              SortedLinesOf(*run.input, run.convention));
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, EndToEndCorpusFile,
                         ::testing::ValuesIn(CorpusFiles(kCorpusDir)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return CorpusTestName(info.param);
                         });

}  // namespace
}  // namespace mlfsort

// The built binary in a pipeline and across files: "-" as standard input,
// "-o -" as standard output, several inputs sorted into one, and the check
// of whether inputs are sorted.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/binary_runner.h"
#include "support/binary_test_fixture.h"
#include "support/same_bytes.h"
#include "support/sort_model.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;

constexpr char kCorpusDir[] = MLFSORT_CORPUS_DIR;

class EndToEndPipelines : public BinaryRunTest {};

TEST_F(EndToEndPipelines, StandardInputToStandardOutputCarriesOnlyTheLines) {
  RunOptions options;
  options.input = ChildInput::kPipe;
  options.stdin_bytes = kSmallInput;
  const RunResult result = Run({"-o", "-", "-"}, options);
  ExpectNormalEnd(result, kSmallSorted);
  EXPECT_EQ(result.stderr_bytes, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()),
                          fs::directory_iterator()),
            0);
}

// A reader that goes away (as "| head" does) ends the run at once with
// status 1 and not a word; no signal ends it.
TEST_F(EndToEndPipelines, ReaderThatGoesAwayEndsTheRunQuietly) {
  std::string input = "#!MLF!#\r\n";
  for (int i = 0; i < 200000; ++i) {
    input += "\"*/utt" + std::to_string(i * 7919 % 200000) + ".lab\"\r\n";
  }
  WriteFile("big.mlf", input);
  RunOptions options;
  options.output = ChildOutput::kReaderGone;
  const RunResult result = Run({"-le", "-o", "-", "big.mlf"}, options);
  EXPECT_TRUE(result.exited && result.exit_status == 1) << Describe(result);
  EXPECT_EQ(result.stderr_bytes, "");
}

// Every corpus file into one, in both modes: the model's output for their
// lines read in argument order, with one header.
TEST_F(EndToEndPipelines, CorpusFilesMergeIntoOneLikeTheModel) {
  std::vector<std::string> files;
  std::error_code missing;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(kCorpusDir, missing)) {
    if (entry.path().extension() == ".mlf") {
      files.push_back(entry.path().string());
    }
  }
  if (files.empty()) GTEST_SKIP() << "no label-file corpus at " << kCorpusDir;
  std::sort(files.begin(), files.end());
  std::vector<std::string> inputs;
  for (const std::string& file : files) {
    std::string bytes = ReadFileBytes(file).value_or("");
#ifdef _WIN32
    // The Windows build orders keys by the user's locale, which ignores a
    // zero byte and weighs bytes above 127 its own way.
    if (std::ranges::any_of(bytes, [](char byte) {
          return byte == '\0' || static_cast<unsigned char>(byte) > 127;
        })) {
      continue;
    }
#endif
    inputs.push_back(std::move(bytes));
  }
  std::vector<std::string> arguments = {"-o", "merged.mlf"};
  for (std::size_t at = 0; at < inputs.size(); ++at) {
    const std::string name = "in" + std::to_string(at) + ".mlf";
    WriteFile(name, inputs[at]);
    arguments.push_back(name);
  }
  for (const ModelMode mode : {ModelMode::kLines, ModelMode::kEntries}) {
    SCOPED_TRACE(mode == ModelMode::kLines ? "lines" : "entries");
    std::vector<std::string> options = {mode == ModelMode::kLines ? "-lq"
                                                                  : "-leq"};
    options.insert(options.end(), arguments.begin(), arguments.end());
    ExpectNormalEnd(Run(options), "\n\n");
    EXPECT_TRUE(
        SameBytes(ReadFile("merged.mlf").value_or("<none>"),
                  ModelSortedInputs(inputs, LineConvention::kLf, mode)));
  }
}

// A check writes nothing, creates nothing, and tells by its status: 0
// sorted, 1 not (with the first difference on standard error), 2 trouble
// (with the report on standard error).
TEST_F(EndToEndPipelines, CheckTellsSortedDisorderedAndTroubleApart) {
  WriteFile("sorted.mlf", kSmallSorted);
  WriteFile("unsorted.mlf", kSmallInput);
  WriteFile("dups.mlf", "#!MLF!#\r\nxxkey\r\n.\r\nyykey\r\n.\r\n");
  WriteFile("twice.mlf", "xxkey\r\nyyKEY\r\n");
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {{"-c", "sorted.mlf"}, 0, ""},
      {{"-c", "unsorted.mlf"},
       1,
       "mlfsort: unsorted.mlf:3: disorder: \"*/utt1.lab\"\n"},
      {{"-c", "sorted.mlf", "sorted.mlf"},
       1,
       "mlfsort: sorted.mlf:2: disorder: \"*/utt1.lab\"\n"},
      {{"-c", "dups.mlf"}, 1, "mlfsort: dups.mlf:3: disorder: .\n"},
      {{"-c", "twice.mlf"},
       1,
       "mlfsort: twice.mlf:1: dropped: the key of line 2 is the same\n"},
      // Whole entries of equal keys keep their order.
      {{"-ce", "dups.mlf"}, 0, ""},
      {{"-c", "-"}, 0, ""},
      {{"-cq", "unsorted.mlf"},
       1,
       "mlfsort: unsorted.mlf:3: disorder: \"*/utt1.lab\"\n"},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.said);
    const RunResult result = Run(run.arguments);
    EXPECT_TRUE(result.exited && result.exit_status == run.status)
        << Describe(result);
    EXPECT_EQ(result.stdout_bytes, "");
    EXPECT_EQ(result.stderr_bytes, run.said);
  }
  const RunResult trouble = Run({"-c", "sorted.mlf", "missing.mlf"});
  EXPECT_TRUE(trouble.exited && trouble.exit_status == 2) << Describe(trouble);
  EXPECT_EQ(trouble.stdout_bytes, "");
  EXPECT_TRUE(trouble.stderr_bytes.starts_with("Exception EInOutError"));
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()),
                          fs::directory_iterator()),
            4);
}

}  // namespace
}  // namespace mlfsort

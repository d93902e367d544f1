// Held lines past the buffer size go to sorted runs in temporary files and
// come back merged: the output is the model's for every buffer size and
// thread count, in every mode, and a temporary directory that fails ends
// the run as every failure does.

#include "run/held_lines.h"

#include <gtest/gtest.h>

#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "process/process_frame.h"
#include "run/sort_run.h"
#include "support/memory_platform.h"
#include "support/same_bytes.h"
#include "support/sort_model.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

// A label file of many entries: names in scattered order, repeated in other
// letter cases, a long shared lead for some and none for others, comments
// between entries, and one entry longer than a temporary file's buffer.
std::string LabelFile(int entries) {
  std::string input = "#!MLF!#\r\n";
  for (int i = 0; i < entries; ++i) {
    const int name = i * 7919 % (entries / 2 + 1);
    std::string line = i % 3 == 0 ? "\"*/corpus/speaker0042/utt" : "\"*/u";
    line += std::to_string(name) + (i % 5 == 0 ? ".LAB\"" : ".lab\"");
    input += line + "\r\nsil\r\nw" + std::to_string(i % 7) + "\r\n.\r\n";
    if (i % 997 == 0) input += "# part " + std::to_string(i) + "\r\n";
    if (i == entries / 2) {
      input += "\"*/long.lab\"\r\n";
      for (int label = 0; label < 20000; ++label) input += "label\r\n";
      input += ".\r\n";
    }
  }
  return input;
}

struct BudgetCase {
  ModelMode mode;
  const char* threads;
};

void PrintTo(const BudgetCase& budget_case, std::ostream* out) {
  *out << (budget_case.mode == ModelMode::kLines ? "lines" : "entries") << ' '
       << budget_case.threads;
}

class HeldLinesBudgetTest : public ::testing::TestWithParam<BudgetCase> {
 protected:
  void SetUp() override { SetPendingIoError(0); }

  // Sorts the input with `buffer` ("" for the machine's), and checks that
  // no temporary file is left open.
  std::string SortWith(const std::string& buffer, std::size_t* spilled) {
    MemoryPlatform platform;
    platform.AddFile("in.mlf", input_);
    std::vector<std::string> arguments = {"mlfsort", "-q", GetParam().threads};
    if (GetParam().mode == ModelMode::kEntries) arguments.push_back("-e");
    if (!buffer.empty()) arguments.push_back("-S" + buffer);
    arguments.push_back("in.mlf");
    platform.SetArguments(arguments);
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 0)
        << platform.StandardError();
    EXPECT_EQ(platform.TemporaryFileCount(), 0u);
    *spilled = platform.TemporaryBytesAtMost();
    return platform.FileContents("in.srt");
  }

  const std::string input_ = LabelFile(60000);
};

TEST_P(HeldLinesBudgetTest, EveryBufferSizeGivesTheModelsOutput) {
  const std::string expected =
      ModelSortedOutput(input_, LineConvention::kCr, GetParam().mode);
  std::size_t spilled = 0;
  EXPECT_TRUE(SameBytes(SortWith("", &spilled), expected));
  EXPECT_EQ(spilled, 0u);
  // 64 KiB makes hundreds of runs, merged a few at a time in several
  // passes; 1 MiB a few, merged at once.
  for (const char* buffer : {"64K", "1M"}) {
    SCOPED_TRACE(buffer);
    EXPECT_TRUE(SameBytes(SortWith(buffer, &spilled), expected));
    EXPECT_GT(spilled, input_.size() / 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndThreads, HeldLinesBudgetTest,
    ::testing::Values(BudgetCase{ModelMode::kLines, "--threads=1"},
                      BudgetCase{ModelMode::kLines, "--threads=2"},
                      BudgetCase{ModelMode::kEntries, "--threads=1"},
                      BudgetCase{ModelMode::kEntries, "--threads=2"}));

// A temporary directory that is missing, refuses files or fills up ends
// the run with the report and the directory named on standard error; the
// input is untouched, the output holds whole blocks only, and no temporary
// file stays.
TEST(HeldLinesFailureTest, TemporaryDirectoryThatFailsEndsTheRun) {
  const std::string input = LabelFile(3000);
  struct Case {
    const char* directory;
    std::uint32_t failing_create;
    std::size_t space;
    const char* message;
    const char* words;
  };
  const Case cases[] = {
      {"/missing", 0, SIZE_MAX, "Invalid filename.",
       "mlfsort: cannot create a temporary file in '/missing': error 3\n"},
      {"/tmp", platform_error::kAccessDenied, SIZE_MAX, "File access denied.",
       "mlfsort: cannot create a temporary file in '/tmp': error 5\n"},
      {"/tmp", 0, 100000, "I/O error 112.",
       "mlfsort: cannot write a temporary file in '/tmp': error 112\n"},
  };
  for (const Case& run : cases) {
    SCOPED_TRACE(run.words);
    SetPendingIoError(0);
    MemoryPlatform platform;
    platform.AddFile("in.mlf", input);
    platform.SetTemporarySpace(run.space);
    if (run.failing_create != 0) {
      platform.FailNext(PlatformCall::kCreateTemporaryFile, 1,
                        run.failing_create);
    }
    platform.SetArguments(
        {"mlfsort", "-S64K", "-T", run.directory, "-o", "out.mlf", "in.mlf"});
    EXPECT_EQ(RunProcess(platform, SystemModules(), &RunSort), 1);
    EXPECT_TRUE(platform.StandardOutput().ends_with(std::string("\n") +
                                                    run.message + "\r\n"))
        << platform.StandardOutput();
    EXPECT_EQ(platform.StandardError(), run.words);
    EXPECT_EQ(platform.FileContents("in.mlf"), input);
    EXPECT_EQ(platform.FileContents("out.mlf").size() % 128, 0u);
    EXPECT_EQ(platform.TemporaryFileCount(), 0u);
  }
}

}  // namespace
}  // namespace mlfsort

// Fault walks over a whole sort run: fail platform call N (or allocation N)
// for N = 1, 2, 3, ... until a run meets no fault, and check that every run
// ends either normally with the right output, or with exactly one failure
// report, exit status 1, the input unchanged and the output file holding
// only whole blocks written out before the failure.

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "process/process_frame.h"
#include "run/sort_run.h"
#include "support/allocation_faults.h"
#include "support/memory_platform.h"
#include "support/platform_wrapper.h"
#include "support/sort_model.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

// Pass-through and sortable lines of several blocks, duplicates included.
std::string SampleInput() {
  std::string input = "#!MLF!#\r\n";
  for (int i = 0; i < 40; ++i) {
    input += "\"*/utt" + std::to_string((i * 7) % 23) + ".lab\" sil a b c\r\n";
    if (i % 9 == 0) input += "# comment " + std::to_string(i) + "\r\n";
    if (i % 11 == 0) input += ".\r\n";
  }
  return input;
}

// The sample, then enough short keys in scattered order for the index to
// hand full batches to its worker thread and merge runs there.
std::string LargerSampleInput() {
  std::string input = SampleInput();
  for (int i = 0; i < 4500; ++i) {
    input += "xx" + std::to_string(i * 7919 % 4500) + "\r\n";
    if (i % 1500 == 0) input += "# part " + std::to_string(i) + "\r\n";
  }
  return input;
}

struct WalkCase {
  const char* name;
  const char* threads_option;
  std::string (*input)();
  // Held lines past this go to temporary files ("" for no limit).
  const char* buffer_option = "";
};

void PrintTo(const WalkCase& walk_case, std::ostream* out) {
  *out << walk_case.name;
}

// The in-memory platform, with its own allocations left out of the
// allocation walk: it stands for the operating system, not for the code
// under test. The calls it makes without allocating are passed on as they
// are.
class UncountedPlatform final : public PlatformWrapper {
 public:
  using PlatformWrapper::PlatformWrapper;

  Handle OpenForReading(const char* name) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::OpenForReading(name);
  }
  Handle OpenForWriting(const char* name) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::OpenForWriting(name);
  }
  bool EmptyFile(Handle handle) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::EmptyFile(handle);
  }
  Handle CreateTemporaryFile(const char* directory) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::CreateTemporaryFile(directory);
  }
  bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                  std::uint32_t size, std::uint32_t* bytes_read) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::ReadFileAt(handle, offset, buffer, size,
                                       bytes_read);
  }
  Handle GetStdHandle(StandardHandle which) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::GetStdHandle(which);
  }
  FileType GetFileType(Handle handle) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::GetFileType(handle);
  }
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::ReadFile(handle, buffer, size, bytes_read);
  }
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::WriteFile(handle, buffer, size, bytes_written);
  }
  bool FlushFile(Handle handle) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::FlushFile(handle);
  }
  bool CloseHandle(Handle handle) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::CloseHandle(handle);
  }
  bool IsSameFile(const char* a, const char* b) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::IsSameFile(a, b);
  }
  bool IsFileOfHandle(const char* name, Handle handle) override {
    UncountedAllocations uncounted;
    return PlatformWrapper::IsFileOfHandle(name, handle);
  }
  ProcessArguments GetCommandLine() override {
    UncountedAllocations uncounted;
    return PlatformWrapper::GetCommandLine();
  }
  void ExitProcess(int status) override {
    UncountedAllocations uncounted;
    PlatformWrapper::ExitProcess(status);
  }
};

struct Outcome {
  int status;
  std::string output_file;
  std::string standard_output;
  std::string input_file;
};

class FaultWalkTest : public ::testing::TestWithParam<WalkCase> {
 protected:
  void SetUp() override { SetPendingIoError(0); }

  void Prepare(MemoryPlatform& platform) const {
    platform.AddFile("train.mlf", input_);
    std::vector<std::string> arguments = {"mlfsort", GetParam().threads_option};
    if (*GetParam().buffer_option != '\0') {
      arguments.push_back(GetParam().buffer_option);
    }
    arguments.push_back("train.mlf");
    platform.SetArguments(std::move(arguments));
  }
  int Run(Platform& platform) const {
    return RunProcess(platform, SystemModules(), &RunSort);
  }

  static Outcome Finish(MemoryPlatform& platform, int status) {
    return {status, platform.FileContents("train.srt"),
            platform.StandardOutput(), platform.FileContents("train.mlf")};
  }

  // Checks one run: a normal end with the whole output, or one report.
  void ExpectSoundEnd(const Outcome& outcome, const std::string& context) {
    SCOPED_TRACE(context);
    EXPECT_EQ(outcome.input_file, input_);
    EXPECT_EQ(outcome.standard_output.find("Runtime error"), std::string::npos);
    if (outcome.status == 0) {
      EXPECT_EQ(outcome.output_file, expected_);
      // A failure of the last write-out of standard output, at shutdown,
      // goes unreported once the output file is complete.
      EXPECT_TRUE(outcome.standard_output == "\r\n\r\n" ||
                  outcome.standard_output.empty());
      return;
    }
    EXPECT_EQ(outcome.status, 1);
    // At most one report; none when standard output itself failed.
    const std::size_t first = outcome.standard_output.find("Exception ");
    if (first != std::string::npos) {
      EXPECT_EQ(outcome.standard_output.find("Exception ", first + 1),
                std::string::npos);
      static const std::regex kReport(
          "Exception (EInOutError|EOutOfMemory) in module mlfsort at "
          "[0-9A-F]{8}\\.\n[^\r\n]+\\.\r\n$");
      EXPECT_TRUE(std::regex_search(outcome.standard_output, kReport))
          << outcome.standard_output;
    }
    const std::string& written = outcome.output_file;
    EXPECT_EQ(written, expected_.substr(0, written.size()));
    EXPECT_TRUE(written.size() % 128 == 0 || written.size() == expected_.size())
        << written.size();
  }

  const std::string input_ = GetParam().input();
  const std::string expected_ = ModelSortedOutput(input_);
};

TEST_P(FaultWalkTest, EveryPlatformCallFailingOnce) {
  int calls_in_a_clean_run = 0;
  {
    MemoryPlatform platform;
    Prepare(platform);
    ASSERT_EQ(Run(platform), 0);
    ASSERT_EQ(platform.FileContents("train.srt"), expected_);
    calls_in_a_clean_run = platform.counted_calls();
    // A walk with a buffer size must reach the temporary files' calls.
    const bool spilled =
        std::ranges::any_of(platform.calls(), [](const PlatformCall& call) {
          return call.kind == PlatformCall::kReadFileAt;
        });
    EXPECT_EQ(spilled, *GetParam().buffer_option != '\0');
  }
  ASSERT_GT(calls_in_a_clean_run, 20);
  for (int n = 1;; ++n) {
    MemoryPlatform platform;
    Prepare(platform);
    platform.FailCall(n, platform_error::kIoDevice);
    const int status = Run(platform);
    ExpectSoundEnd(Finish(platform, status), "call " + std::to_string(n));
    if (platform.counted_calls() < n) {
      EXPECT_EQ(n, calls_in_a_clean_run + 1);
      break;
    }
    SetPendingIoError(0);
  }
}

TEST_P(FaultWalkTest, EveryPlatformCallFailingFromNOn) {
  for (int n = 1;; ++n) {
    MemoryPlatform platform;
    Prepare(platform);
    platform.FailCallsFrom(n, platform_error::kDiskFull);
    const int status = Run(platform);
    ExpectSoundEnd(Finish(platform, status), "from call " + std::to_string(n));
    SetPendingIoError(0);
    if (platform.counted_calls() < n) break;
  }
}

TEST_P(FaultWalkTest, EveryAllocationFailing) {
  for (bool onward : {false, true}) {
    for (long n = 1;; ++n) {
      MemoryPlatform platform;
      Prepare(platform);
      UncountedPlatform uncounted_platform(platform);
      AllocationFaults::FailFrom(n, onward);
      const int status = Run(uncounted_platform);
      AllocationFaults::Disarm();
      const bool fired = AllocationFaults::Fired();
      const Outcome outcome = Finish(platform, status);
      const std::string context =
          "allocation " + std::to_string(n) + (onward ? " onward" : "");
      ExpectSoundEnd(outcome, context);
      SetPendingIoError(0);
      if (!fired) break;
      EXPECT_EQ(status, 1) << context;
      EXPECT_NE(outcome.standard_output.find("\nOut of memory.\r\n"),
                std::string::npos)
          << context << ": " << outcome.standard_output;
    }
  }
}

// The same runs with all work on one thread, with a worker thread that
// sorts while the run reads and merges while it writes, and with runs kept
// in temporary files: a failure on any ends the run the same way.
INSTANTIATE_TEST_SUITE_P(
    Threads, FaultWalkTest,
    ::testing::Values(
        WalkCase{"OneThread", "--threads=1", &SampleInput},
        WalkCase{"OneThreadLarger", "--threads=1", &LargerSampleInput},
        WalkCase{"WorkerLarger", "--threads=2", &LargerSampleInput},
        // Held lines go to temporary files several times, and come back.
        WalkCase{"SpillingLarger", "--threads=1", &LargerSampleInput, "-S64K"}),
    [](const ::testing::TestParamInfo<WalkCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace mlfsort

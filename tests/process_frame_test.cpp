#include "process/process_frame.h"

#include <gtest/gtest.h>

#include <new>
#include <regex>
#include <string>
#include <vector>

#include "failure/exceptions.h"
#include "failure/failure_check.h"
#include "failure/failure_hooks.h"
#include "support/memory_platform.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

// The report's first line, with the address as a group.
const char kReportHead[] =
    "Exception (\\w+) in module mlfsort at ([0-9A-F]{8})\\.\n";

std::vector<std::string>& StepLog() {
  static std::vector<std::string> log;
  return log;
}

class ProcessFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPendingIoError(0);
    StepLog().clear();
  }

  int Run(RunFunction run) {
    return RunProcess(platform_, SystemModules(), run);
  }

  // The class, address and message of the one report on standard output.
  struct Report {
    std::string class_name;
    std::string address;
    std::string message;
  };
  Report ReportOf(const std::string& output) {
    std::smatch match;
    const std::regex report(std::string(kReportHead) + "([^\r\n]*)\r\n$");
    EXPECT_TRUE(std::regex_search(output, match, report)) << output;
    if (match.empty()) return {};
    return {match[1], match[2], match[3]};
  }

  MemoryPlatform platform_;
};

TEST_F(ProcessFrameTest,
       NormalRunEndsWithStatusZeroAndWritesOutStandardOutput) {
  const int status = Run([](Process& process) {
    process.streams.output.WriteText("done");
    process.streams.output.WriteLineEnd();
  });
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(platform_.exited());
  EXPECT_EQ(platform_.exit_status(), 0);
  EXPECT_EQ(platform_.StandardOutput(), "done\r\n");
  EXPECT_FALSE(FailureHooks::Installed());
}

TEST_F(ProcessFrameTest, IoFailureFromTheTableIsReportedAfterEarlierOutput) {
  const int status = Run([](Process& process) {
    process.streams.output.WriteLineEnd();
    SetPendingIoError(2);
    CheckIo();
  });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(platform_.exit_status(), 1);
  const std::string& output = platform_.StandardOutput();
  EXPECT_EQ(output.substr(0, 2), "\r\n");
  EXPECT_TRUE(std::regex_match(
      output,
      std::regex(std::string("\r\n") + kReportHead + "File not found\\.\r\n")))
      << output;
  EXPECT_EQ(output.find("Runtime error"), std::string::npos);
  EXPECT_EQ(PendingIoError(), 0);
}

TEST_F(ProcessFrameTest, MessagesGetOneClosingFullStop) {
  Run([](Process&) {
    SetPendingIoError(32);
    CheckIo();
  });
  EXPECT_EQ(ReportOf(platform_.StandardOutput()).message, "I/O error 32.");

  MemoryPlatform index_error_platform;
  RunProcess(index_error_platform, SystemModules(),
             [](Process&) { RaiseIndexError(7, nullptr); });
  const Report index_error = ReportOf(index_error_platform.StandardOutput());
  EXPECT_EQ(index_error.class_name, "EStringListError");
  EXPECT_EQ(index_error.message, "List index out of bounds (7).");

  MemoryPlatform full_stop_platform;
  RunProcess(full_stop_platform, SystemModules(),
             [](Process&) { throw Exception("Stopped."); });
  EXPECT_EQ(ReportOf(full_stop_platform.StandardOutput()).message, "Stopped.");

  MemoryPlatform empty_platform;
  RunProcess(empty_platform, SystemModules(),
             [](Process&) { throw Exception(""); });
  EXPECT_EQ(ReportOf(empty_platform.StandardOutput()).message, "");
}

TEST_F(ProcessFrameTest, LongReportIsCutTo1023Characters) {
  Run([](Process&) { throw Exception(std::string(2000, 'm')); });
  const std::string& output = platform_.StandardOutput();
  ASSERT_EQ(output.size(), 1023u + 2u);
  EXPECT_EQ(output.substr(1021), "mm\r\n");
  EXPECT_EQ(platform_.exit_status(), 1);
}

TEST_F(ProcessFrameTest, AddressIsTheDistanceFromTheModuleBase) {
  int marker = 0;
  platform_.SetModule(reinterpret_cast<std::uintptr_t>(&marker), "mlfsort");
  Run([](Process&) {
    Exception failure("at a known place");
    failure.set_address(nullptr);
    throw failure;
  });
  // nullptr minus the base, as 32 bits, is the base's two's complement.
  const auto expected = static_cast<std::uint32_t>(
      0u -
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&marker)));
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", expected);
  EXPECT_EQ(ReportOf(platform_.StandardOutput()).address, hex);
}

void FailAtFirstCheck(Process&) {
  SetPendingIoError(5);
  CheckIo();
}
void FailAtSecondCheck(Process&) {
  CheckIo();
  SetPendingIoError(5);
  CheckIo();
}

TEST_F(ProcessFrameTest, EachFailureCheckHasItsOwnStableAddress) {
  Run(&FailAtFirstCheck);
  const std::string first = ReportOf(platform_.StandardOutput()).address;
  MemoryPlatform again;
  RunProcess(again, SystemModules(), &FailAtFirstCheck);
  MemoryPlatform other;
  RunProcess(other, SystemModules(), &FailAtSecondCheck);
  EXPECT_EQ(ReportOf(again.StandardOutput()).address, first);
  EXPECT_NE(ReportOf(other.StandardOutput()).address, first);
}

TEST_F(ProcessFrameTest, ExhaustedMemoryIsTheOutOfMemoryReport) {
  const int status = Run([](Process&) { throw std::bad_alloc(); });
  EXPECT_EQ(status, 1);
  const Report report = ReportOf(platform_.StandardOutput());
  EXPECT_EQ(report.class_name, "EOutOfMemory");
  EXPECT_EQ(report.message, "Out of memory.");
}

TEST_F(ProcessFrameTest, ReportThatCannotBeWrittenStillEndsWithStatusOne) {
  platform_.CloseStandardOutput();
  EXPECT_EQ(Run(&FailAtFirstCheck), 1);
  EXPECT_EQ(platform_.StandardOutput(), "");

  MemoryPlatform broken_pipe;
  broken_pipe.FailCallsFrom(1, platform_error::kNoData);
  EXPECT_EQ(RunProcess(broken_pipe, SystemModules(), &FailAtFirstCheck), 1);
  EXPECT_EQ(broken_pipe.exit_status(), 1);
}

void RecordStart(const char* name) {
  StepLog().push_back(std::string("start ") + name);
}
void RecordStop(const char* name) {
  StepLog().push_back(std::string("stop ") + name);
}

TEST_F(ProcessFrameTest, ModulesStopInReverseAndAFailedStartIsStoppedToo) {
  const Module modules[] = {
      SystemModules()[0],
      SystemModules()[1],
      {"first", [](Process&) { RecordStart("first"); },
       [](Process&) { RecordStop("first"); }},
      {"failing",
       [](Process&) {
         RecordStart("failing");
         throw Exception("start failed");
       },
       [](Process&) { RecordStop("failing"); }},
      {"never started", [](Process&) { RecordStart("never started"); },
       [](Process&) { RecordStop("never started"); }},
  };
  EXPECT_EQ(
      RunProcess(platform_, modules, [](Process&) { RecordStart("run"); }), 1);
  EXPECT_EQ(StepLog(),
            (std::vector<std::string>{"start first", "start failing",
                                      "stop failing", "stop first"}));
  EXPECT_EQ(ReportOf(platform_.StandardOutput()).message, "start failed.");
}

// A failure before the failure hooks exist takes the runtime error message
// and its number as exit status.
int RunWithEarlyFailure(MemoryPlatform& platform, void (*start)(Process&)) {
  const Module modules[] = {
      SystemModules()[0], {"early", start, nullptr}, SystemModules()[1]};
  return RunProcess(platform, modules, [](Process&) { RecordStart("run"); });
}

TEST_F(ProcessFrameTest, FailureOutsideTheHooksIsARuntimeError) {
  EXPECT_EQ(RunWithEarlyFailure(platform_,
                                [](Process&) { throw Exception("early"); }),
            217);
  EXPECT_TRUE(
      std::regex_match(platform_.StandardOutput(),
                       std::regex("Runtime error 217 at [0-9A-F]{8}\r\n")))
      << platform_.StandardOutput();

  MemoryPlatform memory;
  EXPECT_EQ(
      RunWithEarlyFailure(memory, [](Process&) { throw std::bad_alloc(); }),
      203);
  EXPECT_TRUE(
      std::regex_match(memory.StandardOutput(),
                       std::regex("Runtime error 203 at [0-9A-F]{8}\r\n")));

  MemoryPlatform check;
  EXPECT_EQ(RunWithEarlyFailure(check, &FailAtFirstCheck), 5);
  EXPECT_TRUE(
      std::regex_match(check.StandardOutput(),
                       std::regex("Runtime error   5 at [0-9A-F]{8}\r\n")))
      << check.StandardOutput();
  EXPECT_TRUE(StepLog().empty());
  EXPECT_EQ(check.exit_status(), 5);

  // A code too long for the field keeps its last digits, read unsigned.
  MemoryPlatform negative_code;
  RunWithEarlyFailure(negative_code, [](Process&) {
    SetPendingIoError(-1);
    CheckIo();
  });
  EXPECT_TRUE(
      std::regex_match(negative_code.StandardOutput(),
                       std::regex("Runtime error7295 at [0-9A-F]{8}\r\n")))
      << negative_code.StandardOutput();
}

}  // namespace
}  // namespace mlfsort

#include "support/binary_test_fixture.h"

#include <cstring>
#include <filesystem>
#include <utility>

namespace mlfsort {
namespace {

// A failure report found at the end of standard output, taken apart.
struct FailureReport {
  std::string written_before;  // what standard output received before it
  std::string class_name;
  std::string module_name;
  std::string address;
  std::string message;
};

// Finds the last failure report in `output`: "Exception CLASS in module
// MODULE at XXXXXXXX." LF "MESSAGE" CR LF, ending the output.
std::optional<FailureReport> ParseFailureReport(const std::string& output) {
  constexpr std::string_view kStart = "Exception ";
  constexpr std::string_view kInModule = " in module ";
  constexpr std::string_view kAt = " at ";
  constexpr std::size_t kAddressDigits = 8;
  const std::size_t start = output.rfind(kStart);
  if (start == std::string::npos) return std::nullopt;
  FailureReport report;
  report.written_before = output.substr(0, start);

  const std::string_view rest =
      std::string_view(output).substr(start + kStart.size());
  const std::size_t line_break = rest.find('\n');
  if (line_break == std::string_view::npos) return std::nullopt;
  const std::string_view first_line = rest.substr(0, line_break);
  const std::string_view second_line = rest.substr(line_break + 1);

  const std::size_t in_module = first_line.find(kInModule);
  const std::size_t tail = kAt.size() + kAddressDigits + 1;
  if (in_module == std::string_view::npos ||
      first_line.size() < in_module + kInModule.size() + tail) {
    return std::nullopt;
  }
  const std::size_t at = first_line.size() - tail;
  if (first_line.substr(at, kAt.size()) != kAt || first_line.back() != '.') {
    return std::nullopt;
  }
  report.class_name = first_line.substr(0, in_module);
  const std::size_t module_start = in_module + kInModule.size();
  report.module_name = first_line.substr(module_start, at - module_start);
  report.address = first_line.substr(at + kAt.size(), kAddressDigits);
  if (report.address.find_first_not_of("0123456789ABCDEF") !=
      std::string::npos) {
    return std::nullopt;
  }

  if (!second_line.ends_with("\r\n")) return std::nullopt;
  report.message = second_line.substr(0, second_line.size() - 2);
  if (report.message.find_first_of("\r\n") != std::string::npos) {
    return std::nullopt;
  }
  return report;
}

}  // namespace

std::string Describe(const RunResult& result) {
  std::string text =
      result.signaled
          ? "killed by signal " + std::to_string(result.signal_number)
          : "exit status " + std::to_string(result.exit_status);
  if (result.timed_out) text += " after the timeout";
  return text + ", stdout " + ::testing::PrintToString(result.stdout_bytes) +
         ", stderr " + ::testing::PrintToString(result.stderr_bytes);
}

void ExpectNormalEnd(const RunResult& result) {
  EXPECT_TRUE(result.exited && result.exit_status == 0) << Describe(result);
}

void ExpectNormalEnd(const RunResult& result,
                     std::string_view standard_output) {
  ExpectNormalEnd(result);
  EXPECT_EQ(result.stdout_bytes, standard_output);
}

std::string ExpectFailureReport(const RunResult& result,
                                const std::string& written_before,
                                const std::string& class_name,
                                const std::string& message) {
  EXPECT_TRUE(result.exited && result.exit_status == 1) << Describe(result);
  const std::optional<FailureReport> report =
      ParseFailureReport(result.stdout_bytes);
  if (!report) {
    ADD_FAILURE() << "no failure report at the end: " << Describe(result);
    return std::string();
  }
  EXPECT_EQ(report->written_before, written_before);
  EXPECT_EQ(report->class_name, class_name);
  EXPECT_EQ(report->module_name,
            std::filesystem::path(kBinary).filename().string());
  EXPECT_EQ(report->message, message);
  return report->address;
}

void BinaryRunTest::SetUp() {
  ASSERT_FALSE(temp_.path().empty()) << "cannot make a temporary directory";
}

void BinaryRunTest::WriteFile(const std::string& name, std::string_view bytes) {
  ASSERT_TRUE(WriteFileBytes(PathOf(name), std::string(bytes))) << name;
}

std::optional<std::string> BinaryRunTest::ReadFile(
    const std::string& name) const {
  return ReadFileBytes(PathOf(name));
}

RunResult BinaryRunTest::RunUnchecked(std::vector<std::string> arguments,
                                      RunOptions options) {
  options.working_directory = temp_.path();
  options.arguments = std::move(arguments);
  return RunBinary(kBinary, options);
}

RunResult BinaryRunTest::Run(std::vector<std::string> arguments,
                             RunOptions options) {
  RunResult result = RunUnchecked(std::move(arguments), std::move(options));
  EXPECT_FALSE(result.exec_failed)
      << "cannot start " << kBinary << ": " << std::strerror(result.exec_errno);
  EXPECT_FALSE(result.timed_out) << "killed after the timeout";
  EXPECT_EQ(result.stdout_bytes.find("Runtime error"), std::string::npos);
  EXPECT_EQ(result.stderr_bytes.find("Runtime error"), std::string::npos);
  return result;
}

}  // namespace mlfsort

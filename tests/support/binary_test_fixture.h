// The fixture of the tests that run the built mlfsort binary: a temporary
// directory to run it in and to hold its files, the inputs and outputs such
// runs share, and checks of how a run ended.

#ifndef MLFSORT_TESTS_SUPPORT_BINARY_TEST_FIXTURE_H_
#define MLFSORT_TESTS_SUPPORT_BINARY_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/binary_runner.h"
#include "support/temp_files.h"

namespace mlfsort {

// The binary under test, as the build made it.
inline constexpr char kBinary[] = MLFSORT_BINARY;

// Standard output of a run without a name argument begins with the prompt;
// a normal run then writes two line ends.
inline constexpr char kPrompt[] = "Enter MLF file to sort: ";
inline constexpr char kTwoLineEnds[] = "\r\n\r\n";

// The unprivileged account that checks permission failures when the tests
// run as root, for whom no permission bit would ever refuse anything.
inline constexpr std::uint32_t kNobody = 65534;

// A small label file whose sortable lines are out of order, and its sorted
// copy.
inline constexpr std::string_view kSmallInput =
    "#!MLF!#\r\n\"*/utt2.lab\"\r\n\"*/utt1.lab\"\r\n";
inline constexpr std::string_view kSmallSorted =
    "#!MLF!#\r\n\"*/utt1.lab\"\r\n\"*/utt2.lab\"\r\n";

// The address sanitizer reserves far more address space than any useful
// RLIMIT_AS, and valgrind cannot run a binary built with it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAddressSanitizer = true;
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif
#else
inline constexpr bool kUnderAddressSanitizer = false;
#endif

// How a run ended and what it wrote, for failure messages.
std::string Describe(const RunResult& result);

// Expects the run to have ended with exit status 0.
void ExpectNormalEnd(const RunResult& result);
// Expects the run to have ended with exit status 0 after writing exactly
// `standard_output`.
void ExpectNormalEnd(const RunResult& result, std::string_view standard_output);

// Expects the run to have ended with exit status 1 and a failure report of
// `class_name` with `message` (closing "." included) on standard output,
// after exactly `written_before`:
// "Exception CLASS in module MODULE at XXXXXXXX." LF "MESSAGE" CR LF, where
// MODULE is the binary's file name and XXXXXXXX its address in upper-case
// hexadecimal. Returns that address; empty when there is no report.
std::string ExpectFailureReport(const RunResult& result,
                                const std::string& written_before,
                                const std::string& class_name,
                                const std::string& message);

// Runs the binary in a temporary directory of its own.
class BinaryRunTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // The file `name` in the temporary directory.
  std::string PathOf(const std::string& name) const { return temp_.Join(name); }
  void WriteFile(const std::string& name, std::string_view bytes);
  std::optional<std::string> ReadFile(const std::string& name) const;

  // Runs the binary in the temporary directory, leaving every check to the
  // caller.
  RunResult RunUnchecked(std::vector<std::string> arguments,
                         RunOptions options);

  // As RunUnchecked; the run must also start, end in time and never print
  // a runtime error.
  RunResult Run(std::vector<std::string> arguments, RunOptions options = {});

  ScopedTempDirectory temp_;
};

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_BINARY_TEST_FIXTURE_H_

// Runs a built program as a child process for end-to-end tests, with its
// standard streams set up the way a test needs.

#ifndef MLFSORT_TESTS_SUPPORT_BINARY_RUNNER_H_
#define MLFSORT_TESTS_SUPPORT_BINARY_RUNNER_H_

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mlfsort {

// What the child's standard input is.
enum class ChildInput {
  kPipe,     // a pipe fed with RunOptions::stdin_bytes, then closed
  kFile,     // a file holding RunOptions::stdin_bytes
  kDevNull,  // /dev/null
  kClosed,   // descriptor 0 closed
};

// What the child's standard output is.
enum class ChildOutput {
  kPipe,        // a pipe read by the runner into RunResult::stdout_bytes
  kFile,        // a fresh file; its contents end up in stdout_bytes
  kClosed,      // descriptor 1 closed
  kReaderGone,  // a pipe whose read end was closed before the child began
};

struct RunOptions {
  std::string working_directory;       // empty: the test's own
  std::vector<std::string> arguments;  // after the program's own name
  ChildInput input = ChildInput::kDevNull;
  std::string stdin_bytes;
  ChildOutput output = ChildOutput::kPipe;
  // With ChildInput::kFile: the existing file at this path instead of a
  // scratch file holding stdin_bytes.
  std::string stdin_path;
  // With ChildOutput::kFile: the file at this path instead of a scratch file,
  // opened as a shell's `>` opens it (created or emptied), or as `>>` does
  // (appended to) with stdout_append. stdout_bytes then holds all of it.
  std::string stdout_path;
  bool stdout_append = false;
  // The child's RLIMIT_AS in bytes, when set.
  std::optional<std::uint64_t> address_space_limit;
  // The child's RLIMIT_FSIZE in bytes, when set: the longest file it may
  // write.
  std::optional<std::uint64_t> file_size_limit;
  // The child runs under this user and group id, when set (needs root).
  std::optional<std::uint32_t> run_as_user;
  std::optional<std::uint32_t> run_as_group;
  // A child still running after this long is killed with SIGKILL, or with
  // `timeout_signal` where the platform has signals.
  std::chrono::milliseconds timeout{20000};
  int timeout_signal = 9;  // SIGKILL
};

struct RunResult {
  // The program could not be started; exec_errno says why. Nothing else
  // below is meaningful then.
  bool exec_failed = false;
  int exec_errno = 0;
  // The child outlived the timeout and was killed.
  bool timed_out = false;
  bool exited = false;  // ended through exit(); exit_status holds its status
  int exit_status = -1;
  bool signaled = false;  // killed by a signal; signal_number says which
  int signal_number = 0;
  std::string stdout_bytes;
  std::string stderr_bytes;  // always captured through a pipe
};

// Runs `program` with `options`, waits for it to end or the timeout to pass,
// and returns how it ended and what it wrote. Standard error is always a
// pipe. SIGPIPE and SIGXFSZ are at their default in the child whatever the
// caller set, while the caller is shielded from SIGPIPE for the duration of
// the call. On Windows, setting a limit or a user fails to start the run.
RunResult RunBinary(const std::string& program, const RunOptions& options);

// Whether this process has the superuser's rights, which no permission bit
// refuses anything; a run can give them up with run_as_user. Never so on
// Windows.
bool RunningAsRoot();

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_BINARY_RUNNER_H_

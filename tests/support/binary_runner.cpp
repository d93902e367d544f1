#include "support/binary_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "support/child_streams.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Owns one file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Every descriptor handed to the child is moved above 2 first, so that
// putting one onto 0, 1 or 2 in the child can never overwrite another that
// is still to be placed (the test process itself may run with 0-2 closed).
UniqueFd AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return UniqueFd(fd);
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return UniqueFd(moved);
}

// The calls ChildStreams needs, on descriptors.
struct PosixFiles {
  using Handle = UniqueFd;
  static constexpr char kNullDevice[] = "/dev/null";

  static bool MakePipe(UniqueFd* read_end, UniqueFd* write_end) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    *read_end = AboveStandardStreams(ends[0]);
    *write_end = AboveStandardStreams(ends[1]);
    return read_end->valid() && write_end->valid();
  }

  static UniqueFd OpenToRead(const std::string& path) {
    return AboveStandardStreams(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  }

  static UniqueFd OpenToWrite(const std::string& path, bool append) {
    return AboveStandardStreams(::open(
        path.c_str(),
        O_RDWR | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0666));
  }

  // Unlinked at once, so nothing is left behind whatever happens.
  static UniqueFd MakeScratchFile() {
    std::string pattern =
        (fs::temp_directory_path() / "mlfsort_run_XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return AboveStandardStreams(fd);
  }

  static bool WriteAll(const UniqueFd& file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t written =
          ::write(file.get(), bytes.data() + done, bytes.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      done += static_cast<std::size_t>(written);
    }
    return true;
  }

  static bool Rewind(const UniqueFd& file) {
    return ::lseek(file.get(), 0, SEEK_SET) == 0;
  }
};

std::string ReadAllFrom(int fd, off_t offset) {
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::pread(fd, chunk, sizeof chunk, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
    offset += got;
  }
  return bytes;
}

// Writing the child's standard input must not kill the test when the child
// has gone or never reads it; the old disposition comes back afterwards.
class SigpipeIgnoredInScope {
 public:
  SigpipeIgnoredInScope() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, &previous_);
  }
  ~SigpipeIgnoredInScope() { ::sigaction(SIGPIPE, &previous_, nullptr); }
  SigpipeIgnoredInScope(const SigpipeIgnoredInScope&) = delete;
  SigpipeIgnoredInScope& operator=(const SigpipeIgnoredInScope&) = delete;

 private:
  struct sigaction previous_ {};
};

// Descriptors the child receives, already above 2 and close-on-exec.
struct ChildDescriptors {
  int stdin_fd = -1;   // -1: close descriptor 0
  int stdout_fd = -1;  // -1: close descriptor 1
  int stderr_fd = -1;
  int exec_error_fd = -1;
};

// Runs in the child between fork and exec, so only async-signal-safe calls.
[[noreturn]] void ExecChild(const char* program, char* const* argv,
                            const ChildDescriptors& fds,
                            const RunOptions& options) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  ::sigaction(SIGPIPE, &default_action, nullptr);
  ::sigaction(SIGXFSZ, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  bool ok = true;
  ok = ok && (fds.stdin_fd < 0 ? ::close(0) == 0 || errno == EBADF
                               : ::dup2(fds.stdin_fd, 0) == 0);
  ok = ok && (fds.stdout_fd < 0 ? ::close(1) == 0 || errno == EBADF
                                : ::dup2(fds.stdout_fd, 1) == 1);
  ok = ok && ::dup2(fds.stderr_fd, 2) == 2;
  if (ok && !options.working_directory.empty()) {
    ok = ::chdir(options.working_directory.c_str()) == 0;
  }
  if (ok && options.address_space_limit) {
    struct rlimit limit;
    limit.rlim_cur = *options.address_space_limit;
    limit.rlim_max = *options.address_space_limit;
    ok = ::setrlimit(RLIMIT_AS, &limit) == 0;
  }
  if (ok && options.file_size_limit) {
    struct rlimit limit;
    limit.rlim_cur = *options.file_size_limit;
    limit.rlim_max = *options.file_size_limit;
    ok = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  if (ok && options.run_as_group) {
    ok = ::setgroups(0, nullptr) == 0 && ::setgid(*options.run_as_group) == 0;
  }
  if (ok && options.run_as_user) ok = ::setuid(*options.run_as_user) == 0;
  if (ok) ::execv(program, argv);

  const int error = errno;
  [[maybe_unused]] const ssize_t ignored =
      ::write(fds.exec_error_fd, &error, sizeof error);
  ::_exit(127);
}

}  // namespace

RunResult RunBinary(const std::string& program, const RunOptions& options) {
  RunResult result;
  SigpipeIgnoredInScope sigpipe_ignored;

  std::vector<std::string> argument_storage;
  argument_storage.push_back(program);
  argument_storage.insert(argument_storage.end(), options.arguments.begin(),
                          options.arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : argument_storage)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  ChildStreams<PosixFiles> streams;
  if (!streams.Open(options)) return result;
  // The feeding is done between reads of the child's output, so a write
  // must never wait for the child.
  if (streams.stdin_feed.valid()) {
    ::fcntl(streams.stdin_feed.get(), F_SETFL,
            ::fcntl(streams.stdin_feed.get(), F_GETFL) | O_NONBLOCK);
  }

  UniqueFd stderr_child, stderr_capture, exec_error_read, exec_error_write;
  if (!PosixFiles::MakePipe(&stderr_capture, &stderr_child) ||
      !PosixFiles::MakePipe(&exec_error_read, &exec_error_write)) {
    return result;
  }

  ChildDescriptors child_fds;
  child_fds.stdin_fd = streams.stdin_child.get();
  child_fds.stdout_fd = streams.stdout_child.get();
  child_fds.stderr_fd = stderr_child.get();
  child_fds.exec_error_fd = exec_error_write.get();

  const pid_t pid = ::fork();
  if (pid == 0) ExecChild(program.c_str(), argv.data(), child_fds, options);
  if (pid < 0) {
    result.exec_failed = true;
    result.exec_errno = errno;
    return result;
  }
  streams.CloseChildEnds(options);
  stderr_child.Reset();
  exec_error_write.Reset();

  int exec_error = 0;
  ssize_t got;
  do {
    got = ::read(exec_error_read.get(), &exec_error, sizeof exec_error);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof exec_error)) {
    ::waitpid(pid, nullptr, 0);
    result.exec_failed = true;
    result.exec_errno = exec_error;
    return result;
  }

  const Clock::time_point deadline = Clock::now() + options.timeout;
  std::size_t stdin_done = 0;
  if (streams.stdin_feed.valid() && options.stdin_bytes.empty()) {
    streams.stdin_feed.Reset();
  }
  while (streams.stdin_feed.valid() || streams.stdout_capture.valid() ||
         stderr_capture.valid()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now());
    if (left.count() <= 0) break;
    std::vector<pollfd> watched;
    if (streams.stdin_feed.valid()) {
      watched.push_back({streams.stdin_feed.get(), POLLOUT, 0});
    }
    if (streams.stdout_capture.valid()) {
      watched.push_back({streams.stdout_capture.get(), POLLIN, 0});
    }
    if (stderr_capture.valid()) {
      watched.push_back({stderr_capture.get(), POLLIN, 0});
    }
    if (::poll(watched.data(), watched.size(),
               static_cast<int>(std::min<long long>(left.count(), 100))) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (const pollfd& entry : watched) {
      if (entry.revents == 0) continue;
      if (entry.fd == streams.stdin_feed.get()) {
        const ssize_t written =
            ::write(entry.fd, options.stdin_bytes.data() + stdin_done,
                    options.stdin_bytes.size() - stdin_done);
        if (written > 0) stdin_done += static_cast<std::size_t>(written);
        const bool retry = written < 0 && (errno == EAGAIN || errno == EINTR);
        if (stdin_done == options.stdin_bytes.size() ||
            (written <= 0 && !retry)) {
          streams.stdin_feed.Reset();  // done, or the child closed its end
        }
        continue;
      }
      char chunk[65536];
      const ssize_t read_now = ::read(entry.fd, chunk, sizeof chunk);
      if (read_now < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      const bool is_stdout = entry.fd == streams.stdout_capture.get();
      if (read_now <= 0) {
        (is_stdout ? streams.stdout_capture : stderr_capture).Reset();
        continue;
      }
      (is_stdout ? result.stdout_bytes : result.stderr_bytes)
          .append(chunk, static_cast<std::size_t>(read_now));
    }
  }

  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (Clock::now() >= deadline) {
      result.timed_out = true;
      ::kill(pid, options.timeout_signal);
      ::waitpid(pid, &status, 0);
      break;
    }
    ::poll(nullptr, 0, 2);
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signaled = true;
    result.signal_number = WTERMSIG(status);
  }
  if (streams.output_file.valid()) {
    result.stdout_bytes = ReadAllFrom(streams.output_file.get(), 0);
  }
  return result;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

}  // namespace mlfsort

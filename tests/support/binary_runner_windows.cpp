// The child-process runner on Windows: CreateProcessA with the standard
// handles in STARTUPINFO, pipes served by one thread each, and a wait on the
// process with the timeout.
//
// Where the interface speaks in POSIX terms:
// - The command line is the program and the arguments joined by blanks; one
//   that is empty or holds a blank byte (1 to 32) is put between double
//   quotes, with nothing escaped, as the tool's own splitter reads it.
// - kDevNull is the NUL device; kClosed gives the child no handle at all
//   (null); kReaderGone is a pipe whose read end is closed before the start.
// - exec_errno holds the Win32 code of a failing CreateProcessA.
// - A process that ends with an exception code (0xC0000000 and above) is
//   reported as signaled with that code; a process that outlives the timeout
//   is ended with TerminateProcess and counts neither as exited nor as
//   signaled.
// - The address space limit and the user and group ids have no counterpart:
//   a run that asks for one is not started, and fails with
//   ERROR_NOT_SUPPORTED.

#include <algorithm>
#include <thread>
#include <utility>

#include "support/binary_runner.h"
#include "support/child_streams.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace mlfsort {
namespace {

// Owns one Win32 handle; null and the invalid-handle value both mean none.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle)
      : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr; }
  void Reset() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Only the copies made here are inheritable, and each is closed right after
// the start, so a child receives exactly its three standard handles.
UniqueHandle InheritableCopy(HANDLE handle) {
  if (handle == nullptr) return UniqueHandle();
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(),
                         &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return UniqueHandle();
  }
  return UniqueHandle(copy);
}

// Others may read and write the file while the child has it, as with a
// shell's redirection.
UniqueHandle OpenShared(const std::string& path, DWORD access,
                        DWORD disposition) {
  return UniqueHandle(
      ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The calls ChildStreams needs, on Win32 handles.
struct WindowsFiles {
  using Handle = UniqueHandle;
  static constexpr char kNullDevice[] = "NUL";

  static bool MakePipe(UniqueHandle* read_end, UniqueHandle* write_end) {
    HANDLE read_handle = nullptr;
    HANDLE write_handle = nullptr;
    if (!::CreatePipe(&read_handle, &write_handle, nullptr, 0)) return false;
    *read_end = UniqueHandle(read_handle);
    *write_end = UniqueHandle(write_handle);
    return true;
  }

  static UniqueHandle OpenToRead(const std::string& path) {
    return OpenShared(path, GENERIC_READ, OPEN_EXISTING);
  }

  static UniqueHandle OpenToWrite(const std::string& path, bool append) {
    return append
               ? OpenShared(path, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS)
               : OpenShared(path, GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
  }

  // Deleted with its last handle, so nothing is left behind.
  static UniqueHandle MakeScratchFile() {
    char directory[MAX_PATH + 1];
    char path[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > sizeof directory ||
        ::GetTempFileNameA(directory, "mlf", 0, path) == 0) {
      return UniqueHandle();
    }
    return UniqueHandle(::CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
        nullptr));
  }

  static bool WriteAll(const UniqueHandle& file, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      if (!::WriteFile(file.get(), bytes.data() + done,
                       static_cast<DWORD>(bytes.size() - done), &written,
                       nullptr) ||
          written == 0) {
        return false;
      }
      done += written;
    }
    return true;
  }

  static bool Rewind(const UniqueHandle& file) {
    return ::SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN) == 0;
  }
};

// Reads until the end of the data or a failure (a pipe whose writers have
// all gone fails with ERROR_BROKEN_PIPE).
std::string ReadAll(HANDLE handle) {
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(handle, chunk, sizeof chunk, &got, nullptr) && got > 0) {
    bytes.append(chunk, got);
  }
  return bytes;
}

bool HasBlankByte(const std::string& text) {
  for (const char byte : text) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 1 && value <= 32) return true;
  }
  return false;
}

std::string CommandLine(const std::string& program,
                        const std::vector<std::string>& arguments) {
  std::string line;
  const auto append = [&line](const std::string& word) {
    if (!line.empty()) line += ' ';
    if (word.empty() || HasBlankByte(word)) {
      line += '"' + word + '"';
    } else {
      line += word;
    }
  };
  append(program);
  for (const std::string& argument : arguments) append(argument);
  return line;
}

// Exception codes carry the error severity in their top two bits.
bool IsExceptionCode(DWORD exit_code) { return exit_code >= 0xC0000000u; }

}  // namespace

RunResult RunBinary(const std::string& program, const RunOptions& options) {
  RunResult result;
  if (options.address_space_limit || options.file_size_limit ||
      options.run_as_user || options.run_as_group) {
    result.exec_failed = true;
    result.exec_errno = ERROR_NOT_SUPPORTED;
    return result;
  }

  ChildStreams<WindowsFiles> streams;
  if (!streams.Open(options)) return result;

  UniqueHandle stderr_capture, stderr_child;
  if (!WindowsFiles::MakePipe(&stderr_capture, &stderr_child)) return result;

  UniqueHandle inherited_stdin = InheritableCopy(streams.stdin_child.get());
  UniqueHandle inherited_stdout = InheritableCopy(streams.stdout_child.get());
  UniqueHandle inherited_stderr = InheritableCopy(stderr_child.get());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inherited_stdin.get();
  startup.hStdOutput = inherited_stdout.get();
  startup.hStdError = inherited_stderr.get();

  std::string command_line = CommandLine(program, options.arguments);
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessA(
      program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
      options.working_directory.empty() ? nullptr
                                        : options.working_directory.c_str(),
      &startup, &process);
  if (!started) {
    result.exec_failed = true;
    result.exec_errno = static_cast<int>(::GetLastError());
    return result;
  }
  const UniqueHandle process_handle(process.hProcess);
  ::CloseHandle(process.hThread);
  // Every child end must go now so that the end of data is seen.
  inherited_stdin.Reset();
  inherited_stdout.Reset();
  inherited_stderr.Reset();
  streams.CloseChildEnds(options);
  stderr_child.Reset();

  // Each pipe has its own thread, so a child that fills one while the
  // runner waits on another never blocks. A child that stops reading its
  // input holds up only the feeding thread, until the child is gone.
  std::thread feeder([&streams, &options] {
    if (!streams.stdin_feed.valid()) return;
    WindowsFiles::WriteAll(streams.stdin_feed, options.stdin_bytes);
    streams.stdin_feed.Reset();
  });
  std::thread stdout_reader([&streams, &result] {
    if (streams.stdout_capture.valid()) {
      result.stdout_bytes = ReadAll(streams.stdout_capture.get());
    }
  });
  std::thread stderr_reader([&stderr_capture, &result] {
    result.stderr_bytes = ReadAll(stderr_capture.get());
  });

  const auto timeout_ms =
      options.timeout.count() < 0
          ? 0
          : std::min<long long>(options.timeout.count(), INFINITE - 1);
  if (::WaitForSingleObject(process_handle.get(),
                            static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
    result.timed_out = true;
    ::TerminateProcess(process_handle.get(), 1);
    ::WaitForSingleObject(process_handle.get(), INFINITE);
  }
  feeder.join();
  stdout_reader.join();
  stderr_reader.join();

  DWORD exit_code = 0;
  if (!result.timed_out &&
      ::GetExitCodeProcess(process_handle.get(), &exit_code)) {
    if (IsExceptionCode(exit_code)) {
      result.signaled = true;
      result.signal_number = static_cast<int>(exit_code);
    } else {
      result.exited = true;
      result.exit_status = static_cast<int>(exit_code);
    }
  }
  if (streams.output_file.valid() &&
      WindowsFiles::Rewind(streams.output_file)) {
    result.stdout_bytes = ReadAll(streams.output_file.get());
  }
  return result;
}

bool RunningAsRoot() { return false; }

}  // namespace mlfsort

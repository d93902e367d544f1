// A platform held wholly in memory, for tests. Files, directories, standard
// input and output, the command line and the module are set up by the test;
// every file and console call is recorded in order, and any of them can be
// made to fail with a chosen code.
//
// Counted calls are the kinds in PlatformCall::Kind. They are counted
// from construction, ClearCalls or ResetFailures, whichever came last, so a
// fault walk can fail call N = 1, 2, 3, ... in turn until N passes
// counted_calls().

#ifndef MLFSORT_TESTS_SUPPORT_MEMORY_PLATFORM_H_
#define MLFSORT_TESTS_SUPPORT_MEMORY_PLATFORM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace mlfsort {

// One recorded platform call.
struct PlatformCall {
  enum Kind {
    kOpenForReading,
    kOpenForWriting,
    kEmptyFile,
    kGetStdHandle,
    kGetFileType,
    kReadFile,
    kWriteFile,
    kCloseHandle,
    kCreateTemporaryFile,
    kReadFileAt,
    kFlushFile,
    kKindCount,  // not a call: the number of kinds
  };
  Kind kind;
  // The handle the call returned (opens: kInvalidHandle when it failed) or
  // worked on; for GetStdHandle the standard handle asked for, even when
  // the call failed.
  Handle handle;
  // Bytes asked for (ReadFile) or handed over (WriteFile); 0 otherwise.
  std::uint32_t bytes;
  bool succeeded;
  // The code the call failed with; 0 when it succeeded.
  std::uint32_t error;
  // The file's name for opens and for calls on a file's handle; "" for
  // standard handles and unknown handles.
  std::string name;
};

class MemoryPlatform final : public Platform {
 public:
  static constexpr Handle kStandardInput = 10;
  static constexpr Handle kStandardOutput = 11;
  static constexpr Handle kStandardError = 12;

  // --- Files. A name whose directory part (before its last '/') is not
  // empty needs that directory added with AddDirectory to be opened.
  void AddFile(const std::string& name, std::string contents);
  void AddDirectory(const std::string& name);
  // Makes `link` another name of the file `target` for IsSameFile (only:
  // opening `link` does not reach `target`).
  void AddLink(const std::string& link, const std::string& target);
  bool HasFile(const std::string& name) const;
  // What has reached the file through WriteFile; "" for a missing file.
  std::string FileContents(const std::string& name) const;
  // Whether some handle on the file is open.
  bool IsOpen(const std::string& name) const;
  // Longer names fail to open with kFilenameTooLong. Default 4095.
  void SetMaxNameBytes(std::size_t max_name_bytes);

  // --- Standard input, output and error. Standard input starts empty, of
  // type kPipe; standard output and standard error of type kPipe. All reads
  // through the standard input handle share one position, whichever stream
  // makes them.
  void SetStandardInput(std::string contents, FileType type = FileType::kPipe);
  // The process has no standard input (output) from now on: GetStdHandle,
  // and every call on the standard handle, fails with code 6.
  void CloseStandardInput();
  void CloseStandardOutput();
  void CloseStandardError();
  void SetStandardOutputType(FileType type);
  // The standard handle is open on the file `name`, as a shell redirection
  // leaves it, for IsFileOfHandle (only: reads and writes on it still go to
  // the standard input and output above).
  void SetStandardFile(StandardHandle which, std::string name);
  // All bytes written to standard output.
  const std::string& StandardOutput() const { return standard_output_; }
  // All bytes written to standard error.
  const std::string& StandardError() const { return standard_error_; }
  // ReadFile delivers at most this many bytes per call. Default unlimited.
  void SetMaxReadBytes(std::uint32_t max_read_bytes);

  // --- Temporary files: made in directories added with AddDirectory, or
  // in the temporary directory (TemporaryDirectory(), "/tmp" unless set),
  // which exists from the start. Writes beyond `bytes` in all temporary
  // files fail with kDiskFull, as on a full disk.
  void SetTemporaryDirectory(std::string name);
  void SetTemporarySpace(std::size_t bytes);
  // The temporary files made and not yet closed.
  std::size_t TemporaryFileCount() const { return temporary_files_.size(); }
  // The most bytes the temporary files held at once.
  std::size_t TemporaryBytesAtMost() const { return temporary_bytes_peak_; }
  void SetPhysicalMemory(std::uint64_t bytes);
  void SetMemoryLimit(std::uint64_t bytes);

  // --- Process. The command line defaults to the split arguments
  // {"mlfsort"}; the platform owns the strings GetCommandLine points into.
  void SetCommandLine(std::string command_line);
  void SetArguments(std::vector<std::string> arguments);
  // LocateCode reports `base` and `name` (default 0 and "mlfsort"); with an
  // empty name it cannot tell and returns false.
  void SetModule(std::uintptr_t base, std::string name);
  bool exited() const { return exited_; }
  int exit_status() const { return exit_status_; }

  // --- Call record.
  const std::vector<PlatformCall>& calls() const { return calls_; }
  // Forgets the record and restarts the count; armed failures stay armed.
  void ClearCalls();
  int counted_calls() const { return counted_calls_; }
  // The sizes of the WriteFile calls on a handle, on any handle of a named
  // file, or on standard output, in order; failed writes included.
  std::vector<std::uint32_t> WriteSizes(Handle handle) const;
  std::vector<std::uint32_t> WriteSizesTo(const std::string& name) const;
  std::vector<std::uint32_t> WriteSizesToStandardOutput() const;

  // --- Failure injection. A failing call has no effect except the code it
  // leaves: opens and GetStdHandle return kInvalidHandle, GetFileType
  // kUnknown, ReadFile and WriteFile false with nothing transferred, and
  // CloseHandle false with the handle still open. Where several armed
  // failures meet one call, the first armed wins.
  //
  // The n-th counted call (1-based) fails once with `code`.
  void FailCall(int n, std::uint32_t code);
  // The n-th and every later counted call fail with `code`.
  void FailCallsFrom(int n, std::uint32_t code);
  // The nth call of `kind` from now on (1 = the next one) fails with `code`.
  void FailNext(PlatformCall::Kind kind, int nth, std::uint32_t code);
  // Disarms every failure and restarts the count.
  void ResetFailures();

  // --- Platform.
  std::size_t MaxNameBytes() const override { return max_name_bytes_; }
  Handle OpenForReading(const char* name) override;
  // Creates a missing file empty; an existing one keeps its contents.
  Handle OpenForWriting(const char* name) override;
  bool EmptyFile(Handle handle) override;
  Handle CreateTemporaryFile(const char* directory) override;
  bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                  std::uint32_t size, std::uint32_t* bytes_read) override;
  std::string TemporaryDirectory() override { return temporary_directory_; }
  std::uint64_t PhysicalMemoryBytes() override { return physical_memory_; }
  std::uint64_t MemoryLimitBytes() override { return memory_limit_; }
  Handle GetStdHandle(StandardHandle which) override;
  FileType GetFileType(Handle handle) override;
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;
  // Every write has arrived already; the call is counted and can fail.
  bool FlushFile(Handle handle) override;
  // Only handles from OpenForReading and OpenForWriting can be closed; any
  // other handle fails with code 6.
  bool CloseHandle(Handle handle) override;
  std::uint32_t GetLastError() override { return last_error_; }
  // "error <code>".
  void DescribeError(std::uint32_t code, char* text, std::size_t size) override;
  // The same name, or two names joined by AddLink, when the file exists.
  bool IsSameFile(const char* a, const char* b) override;
  // The file of a handle from an open, or the one SetStandardFile named.
  bool IsFileOfHandle(const char* name, Handle handle) override;
  ProcessArguments GetCommandLine() override;
  // None: keys are ordered the portable way.
  const LocaleCollation* Collation() override { return nullptr; }
  GrowableMemory& BulkMemory() override { return OperatorNewMemory(); }
  bool LocateCode(const void* code, CodeLocation* where) override;
  // Records the status and returns.
  void ExitProcess(int status) override;

 private:
  struct OpenFile {
    std::string name;
    bool writing;
    std::size_t read_offset;
  };
  struct ArmedFailure {
    std::optional<PlatformCall::Kind> kind;  // empty: any counted call
    int number;  // among all counted calls, or among calls of `kind`
    bool onward;
    std::uint32_t code;
  };

  // Counts a call; returns the code it must fail with, if one is armed.
  std::optional<std::uint32_t> Count(PlatformCall::Kind kind);
  // Records a finished call and keeps its failure code; true on success.
  bool Record(PlatformCall::Kind kind, Handle handle, std::uint32_t bytes,
              std::optional<std::uint32_t> error, std::string name);
  // Why `name` cannot be opened, or nothing when it can.
  std::optional<std::uint32_t> OpenRefusal(const std::string& name,
                                           bool for_writing) const;
  Handle Open(PlatformCall::Kind kind, const std::string& name);
  std::string NameOf(Handle handle) const;

  std::map<std::string, std::string> files_;
  std::set<std::string> directories_;
  std::map<std::string, std::string> links_;
  std::map<Handle, OpenFile> open_files_;
  Handle next_file_handle_ = 100;
  std::size_t max_name_bytes_ = 4095;

  std::optional<std::string> standard_input_ = std::string();
  std::size_t standard_input_offset_ = 0;
  FileType standard_input_type_ = FileType::kPipe;
  bool standard_output_open_ = true;
  std::string standard_output_;
  FileType standard_output_type_ = FileType::kPipe;
  std::map<Handle, std::string> standard_files_;
  bool standard_error_open_ = true;
  std::string standard_error_;
  std::uint32_t max_read_bytes_ = UINT32_MAX;

  std::optional<std::string> command_line_;
  std::vector<std::string> arguments_{"mlfsort"};
  std::uintptr_t module_base_ = 0;
  std::string module_name_ = "mlfsort";
  bool exited_ = false;
  int exit_status_ = 0;

  std::map<Handle, std::string> temporary_files_;
  std::string temporary_directory_ = "/tmp";
  std::size_t temporary_space_ = SIZE_MAX;
  std::size_t temporary_bytes_ = 0;
  std::size_t temporary_bytes_peak_ = 0;
  std::uint64_t physical_memory_ = std::uint64_t{8} << 30;
  std::uint64_t memory_limit_ = UINT64_MAX;

  std::vector<PlatformCall> calls_;
  int counted_calls_ = 0;
  std::array<int, PlatformCall::kKindCount> calls_of_kind_{};
  std::vector<ArmedFailure> armed_failures_;
  std::uint32_t last_error_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_MEMORY_PLATFORM_H_

// The platform on Windows: every service is the Win32 call of the same
// name, with the arguments the tool has always used, and the system's error
// codes passed through unchanged (they are the numbering the failure report
// words).
//
// A Handle is a Win32 HANDLE; the invalid-handle value is kInvalidHandle.
// Nothing is batched: each ReadFile and WriteFile is one system call (a
// short write is continued), so a disk file or pipe receives the 128-byte
// blocks of the text streams as they are written out.
//
// Not thread-safe, and it need not be: only the thread that runs the
// process calls it. The sort's worker thread (index/sort_worker.h) only
// computes, on memory the process's thread took for it, and calls no method of
// the platform, nor of the platform's memory. The one code of this file that it
// runs is WindowsCollation::Compare, by which it orders keys; that holds no
// state and may be called from any thread.

#ifndef MLFSORT_PLATFORM_WINDOWS_PLATFORM_H_
#define MLFSORT_PLATFORM_WINDOWS_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace mlfsort {

// The case-blind order of the user's default locale: CompareStringA with
// NORM_IGNORECASE and the word sort, both strings passed whole with explicit
// lengths. A failing call counts as "a before b". Strings longer than
// INT_MAX bytes are compared on their first INT_MAX bytes.
class WindowsCollation final : public LocaleCollation {
 public:
  int Compare(std::string_view a, std::string_view b) const override;
};

class WindowsPlatform final : public Platform {
 public:
  WindowsPlatform() = default;

  // 259, the longest path that the ANSI file calls take (MAX_PATH less its
  // terminating zero).
  std::size_t MaxNameBytes() const override;

  // CreateFileA(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
  // FILE_ATTRIBUTE_NORMAL). A directory is refused with 5.
  Handle OpenForReading(const char* name) override;

  // CreateFileA(GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
  // FILE_ATTRIBUTE_NORMAL): an existing file keeps its contents.
  Handle OpenForWriting(const char* name) override;

  // SetEndOfFile at offset 0 for a disk file; other kinds of handle succeed
  // untouched.
  bool EmptyFile(Handle handle) override;

  // CreateFileA(GENERIC_READ | GENERIC_WRITE, no sharing, CREATE_NEW,
  // FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE) of a new name in
  // the directory.
  Handle CreateTemporaryFile(const char* directory) override;

  // ReadFile at the offset an OVERLAPPED gives; the end of the file reads
  // 0 bytes.
  bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                  std::uint32_t size, std::uint32_t* bytes_read) override;

  // GetTempPathA, without its closing backslash.
  std::string TemporaryDirectory() override;

  // GlobalMemoryStatusEx's physical and virtual totals.
  std::uint64_t PhysicalMemoryBytes() override;
  std::uint64_t MemoryLimitBytes() override;

  // Win32 GetStdHandle. A process started without the standard handle (a
  // null handle) gets kInvalidHandle with 6, like a failing call.
  Handle GetStdHandle(StandardHandle which) override;

  // FILE_TYPE_CHAR is kCharacter, FILE_TYPE_PIPE kPipe, FILE_TYPE_UNKNOWN
  // (also a failing call) kUnknown, anything else kDisk.
  FileType GetFileType(Handle handle) override;

  // One Win32 ReadFile. 109 (the writer of a pipe has gone) is left as the
  // code; the text streams take it for the end of the data.
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;

  // Win32 WriteFile until every byte is handed over. A call that succeeds
  // without taking any byte fails with 1117 rather than looping for ever.
  // *bytes_written counts the bytes handed over, also on failure.
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;

  // Nothing is batched, so everything has arrived already.
  bool FlushFile(Handle) override { return true; }

  bool CloseHandle(Handle handle) override;

  // The code of the last failing call of this platform, taken from Win32
  // GetLastError at the moment it failed.
  std::uint32_t GetLastError() override;

  // FormatMessageA's system text for the code, on one line.
  void DescribeError(std::uint32_t code, char* text, std::size_t size) override;

  // Compares the volume serial number and file index that
  // GetFileInformationByHandle gives for each name, opened without access
  // rights and sharing everything, so no open of either name is disturbed.
  bool IsSameFile(const char* a, const char* b) override;

  // The identity of `name`, found as IsSameFile finds it, against what
  // GetFileInformationByHandle gives for `handle`. Consoles and devices
  // answer no identity, so they never match.
  bool IsFileOfHandle(const char* name, Handle handle) override;

  // The single line from GetCommandLineA, split by the tool itself.
  ProcessArguments GetCommandLine() override;

  // A WindowsCollation, the same object on every call.
  const LocaleCollation* Collation() override;

  // Operator new: large pages need a privilege that users seldom hold.
  GrowableMemory& BulkMemory() override { return OperatorNewMemory(); }

  // VirtualQuery's allocation base for `code`, and the file name (after
  // the last "\" or "/") of the module that GetModuleFileNameA names for
  // that base, from a 261-byte buffer.
  bool LocateCode(const void* code, CodeLocation* where) override;

  // Win32 ExitProcess; handles are not buffered, so nothing is pending.
  void ExitProcess(int status) override;

 private:
  // Takes Win32 GetLastError as this platform's code and returns false.
  bool Fail();

  std::uint32_t last_error_ = 0;
  WindowsCollation collation_;
};

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_WINDOWS_PLATFORM_H_

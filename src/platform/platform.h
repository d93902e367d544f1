// The one interface through which mlfsort reaches the operating system.
//
// Every file, console, command-line and process service the tool needs is a
// method here, named after the service it stands for. One file per platform
// implements it (posix_platform.cpp, windows_platform.cpp); tests use an
// in-memory implementation that records every call and injects failures.
//
// Error codes are always Windows' system error codes (2 a missing file, 3 a
// missing directory, 5 access denied, 32 a sharing conflict, ...), whatever
// the host system's own codes are, so the failure report reads the same
// everywhere.

#ifndef MLFSORT_PLATFORM_PLATFORM_H_
#define MLFSORT_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

namespace mlfsort {

// The platform's own order of text under the user's locale, ignoring
// letter case, by its word sort: the hyphen and the apostrophe weigh less
// than other punctuation.
class LocaleCollation {
 public:
  virtual ~LocaleCollation() = default;

  // Negative, 0 or positive as `a` sorts before, with or after `b`. Both
  // are taken whole, zero bytes included.
  virtual int Compare(std::string_view a, std::string_view b) const = 0;
};

// Memory for the large arrays of a sort run, taken with operator new, whose
// blocks can also be made larger. A platform may do better: back large
// blocks with large pages, or make a block larger by moving its pages
// rather than copying its bytes.
class GrowableMemory : public std::pmr::memory_resource {
 public:
  // Makes `block` (taken from this memory with `old_bytes` and `alignment`)
  // `new_bytes` long, keeping its first `kept_bytes` (no more than either
  // size), and returns where it now starts; the rest of its bytes are
  // unset. Throws std::bad_alloc, leaving the block as it was.
  virtual void* Resize(void* block, std::size_t old_bytes,
                       std::size_t kept_bytes, std::size_t new_bytes,
                       std::size_t alignment) {
    void* const grown = allocate(new_bytes, alignment);
    if (kept_bytes > 0) std::memcpy(grown, block, kept_bytes);
    deallocate(block, old_bytes, alignment);
    return grown;
  }

 protected:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* block, std::size_t bytes,
                     std::size_t alignment) override {
    std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
  }

 private:
  bool do_is_equal(const memory_resource& other) const noexcept override {
    return this == &other;
  }
};

// Operator new's memory, for platforms that have nothing better.
inline GrowableMemory& OperatorNewMemory() {
  static GrowableMemory memory;
  return memory;
}

// The longest file name, in bytes, that any platform takes (the longest
// path POSIX systems resolve, their PATH_MAX less its zero byte): every
// buffer that holds a name holds this many bytes and a zero byte.
inline constexpr std::size_t kLongestFileName = 4095;

// An open file or device. Standard handles are handles too.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

enum class StandardHandle { kInput, kOutput, kError };

// What GetFileType tells apart. Only kUnknown and kCharacter change how a
// text stream behaves; disk files and pipes are treated alike.
enum class FileType : std::uint32_t {
  kUnknown = 0,
  kDisk = 1,
  kCharacter = 2,
  kPipe = 3,
};

// Error codes left by platform calls, in Windows' numbering.
namespace platform_error {
enum Code : std::uint32_t {
  kFileNotFound = 2,
  kPathNotFound = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidHandle = 6,
  kNotEnoughMemory = 8,
  kSharingViolation = 32,
  kInvalidParameter = 87,
  // Semaphore errors: the platforms make no semaphore call, so none of
  // their calls leaves these. Named for the I/O message table, which words
  // them (failure/message_table.h).
  kTooManySemaphores = 100,
  kExclusiveSemaphoreOwned = 101,
  kSemaphoreUserLimit = 106,
  kBrokenPipe = 109,
  kDiskFull = 112,
  kInvalidName = 123,
  kFilenameTooLong = 206,
  // Writing past a limit on the size of the file.
  kFileTooLarge = 223,
  // Writing to a pipe whose reader has gone.
  kNoData = 232,
  kIoDevice = 1117,
};
}  // namespace platform_error

// The process's arguments as the platform delivers them. A platform either
// hands over one command line that the program splits itself
// (command_line, program name first) or arguments already split (split,
// program name first); `is_split` says which.
struct ProcessArguments {
  bool is_split = false;
  std::string_view command_line;
  std::vector<std::string_view> split;
};

// Where a code position lies: the start of the loaded module that holds it
// and the file name of that module (without its directory).
struct CodeLocation {
  std::uintptr_t module_base = 0;
  // Zero-terminated; 261 bytes, a Windows path and its zero byte.
  char module_name[261] = {};
};

class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  virtual ~Platform() = default;

  // The longest file name, in bytes, that OpenForReading and
  // OpenForWriting accept. Longer names are refused by the text streams
  // with kFilenameTooLong rather than cut.
  virtual std::size_t MaxNameBytes() const = 0;

  // Opens an existing file for reading. While it is open others may read
  // the file but not write it. `name` is zero-terminated and not empty.
  // Returns kInvalidHandle on failure; GetLastError then tells why (2 the
  // file is missing, 3 a directory of the path is missing, 5 it is a
  // directory or not readable, 32 another instance is writing it).
  virtual Handle OpenForReading(const char* name) = 0;

  // Opens a file for writing, creating it empty when it is missing; an
  // existing file keeps its contents until EmptyFile, so that a run which
  // then fails to open its input has destroyed nothing. While it is open
  // others may read the file but not write it. A file that another
  // instance holds open is left untouched and the call fails with 32.
  // Returns kInvalidHandle on failure; GetLastError tells why.
  virtual Handle OpenForWriting(const char* name) = 0;

  // Cuts the file that `handle` (from OpenForWriting or
  // CreateTemporaryFile) is open on to length 0; the next write goes to its
  // start, and bytes written before and not yet handed to the file go with
  // the rest. Devices, FIFOs and terminals have no length and are left as
  // they are. Returns false on failure; GetLastError tells why.
  virtual bool EmptyFile(Handle handle) = 0;

  // Creates a temporary file in `directory` (zero-terminated, not empty),
  // open for writing and for ReadFileAt, that no name designates and that
  // is gone when its handle is closed or the process ends, however it ends:
  // made without a name where the system can, else removed right after it
  // is made (or, on Windows, deleted on close). Returns kInvalidHandle on
  // failure; GetLastError tells why (3 a missing directory, 5 one that is
  // not writable, 112 a full disk).
  virtual Handle CreateTemporaryFile(const char* directory) = 0;

  // Reads at most `size` bytes at `offset` of the temporary file open on
  // `handle`, everything written to it before included; *bytes_read is 0
  // at its end. Where the next write goes is unset afterwards: a file is
  // written again only after EmptyFile. Returns false on failure, with the
  // code for GetLastError.
  virtual bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                          std::uint32_t size, std::uint32_t* bytes_read) = 0;

  // Where temporary files go when the command line names no directory:
  // $TMPDIR, else /tmp (POSIX); the user's temporary directory (Windows).
  virtual std::string TemporaryDirectory() = 0;

  // The machine's physical memory in bytes; 0 when it cannot tell.
  virtual std::uint64_t PhysicalMemoryBytes() = 0;

  // The most memory the process may take in all (its address-space and
  // data limits); UINT64_MAX when there is no limit.
  virtual std::uint64_t MemoryLimitBytes() = 0;

  // The standard input, output or error handle. Returns kInvalidHandle, with
  // 6 left for GetLastError, when the process has none.
  virtual Handle GetStdHandle(StandardHandle which) = 0;

  // The kind of file or device behind `handle`; kUnknown when it cannot be
  // told.
  virtual FileType GetFileType(Handle handle) = 0;

  // Reads at most `size` bytes. Returns as soon as some bytes are there;
  // *bytes_read is 0 at the end of the data. Returns false on failure, with
  // the code for GetLastError (109 when the writer of a pipe has gone).
  virtual bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                        std::uint32_t* bytes_read) = 0;

  // Hands `size` bytes to the file or device, all of them: a partial
  // transfer is continued, never dropped. Returns false on failure, with the
  // code for GetLastError (112 a full disk, 232 a pipe whose reader has
  // gone).
  virtual bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                         std::uint32_t* bytes_written) = 0;

  // Hands everything written to `handle` so far to its file or device, for
  // a handle that is not closed when the writing ends (standard output):
  // true when it has all arrived. Returns false on failure, with the code
  // for GetLastError.
  virtual bool FlushFile(Handle handle) = 0;

  // Closes a handle from OpenForReading or OpenForWriting. Everything
  // written to it has reached the file when this returns true.
  virtual bool CloseHandle(Handle handle) = 0;

  // The code left by the last failing call.
  virtual std::uint32_t GetLastError() = 0;

  // The system's own words for the failure that left `code` (the system's
  // text for its own error number, such as "No such file or directory"),
  // into `text` of `size` bytes (at least 1), cut to fit, zero-terminated,
  // without a closing full stop. For the code GetLastError gives now they
  // describe that very failure; another code is described as best the
  // platform can. Allocates nothing: it runs on failure paths.
  virtual void DescribeError(std::uint32_t code, char* text,
                             std::size_t size) = 0;

  // True when both names exist and designate the same file, also through a
  // symbolic or hard link; false when they do not or when it cannot tell.
  // Opens, creates and changes nothing.
  virtual bool IsSameFile(const char* a, const char* b) = 0;

  // True when `name` exists and designates the file that `handle` is open
  // on, also through a symbolic or hard link; false when it does not, when
  // it cannot tell, and when that file is a character device (a terminal or
  // the null device loses nothing written to it through two handles).
  // Opens, creates and changes nothing.
  virtual bool IsFileOfHandle(const char* name, Handle handle) = 0;

  // The process's arguments.
  virtual ProcessArguments GetCommandLine() = 0;

  // The platform's locale collation, the same object on every call, or
  // nullptr when it has none (keys are then ordered the tool's own, portable
  // way).
  virtual const LocaleCollation* Collation() = 0;

  // Memory for the large arrays of a sort run: the line store's blocks and
  // the key index's entries. Throws std::bad_alloc when there is none.
  // Large pages can pay off here where they are cheap to come by: the write
  // phase reads lines from all over the store, and small pages cost a page
  // fault for every 4 KiB and an address-translation miss for most lines.
  virtual GrowableMemory& BulkMemory() = 0;

  // Finds the module that holds the code position `code`. Allocates nothing
  // (it runs while a failure is reported). Returns false when it cannot
  // tell; `where` then holds base 0 and an empty name.
  virtual bool LocateCode(const void* code, CodeLocation* where) = 0;

  // Ends the process with `status`, after everything written to open
  // handles has reached its file or device. Does not return on a real
  // platform; the in-memory platform records the status and returns.
  virtual void ExitProcess(int status) = 0;
};

// The platform the program runs on, made once from main's arguments (the
// POSIX platform takes its arguments from there; the Windows platform asks
// for the command line itself). Defined in the platform's own file.
Platform& SystemPlatform(int argc, char** argv);

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_PLATFORM_H_

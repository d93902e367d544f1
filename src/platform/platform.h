// The one interface through which mlfsort reaches the operating system.
//
// Every file, console, command-line and process service the tool needs is a
// method here, named after the service it stands for. One file per platform
// implements it (posix_platform.cpp, windows_platform.cpp); tests use an
// in-memory implementation that records every call and injects failures.
//
// Error codes are always the numbering of the original console platform (2 a
// missing file, 3 a missing directory, 5 access denied, 32 a sharing
// conflict, ...), whatever the host system's own codes are, so the failure
// report reads the same everywhere.

#ifndef MLFSORT_PLATFORM_PLATFORM_H_
#define MLFSORT_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <string_view>
#include <vector>

namespace mlfsort {

class KeyOrder;

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

// An open file or device. Standard handles are handles too.
using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

enum class StandardHandle { kInput, kOutput };

// What GetFileType tells apart. Only kUnknown and kCharacter change how a
// text stream behaves; disk files and pipes are treated alike.
enum class FileType : std::uint32_t {
  kUnknown = 0,
  kDisk = 1,
  kCharacter = 2,
  kPipe = 3,
};

// Error codes left by platform calls, in the original platform's numbering.
namespace platform_error {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kBrokenPipe = 109;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kInvalidName = 123;
inline constexpr std::uint32_t kFilenameTooLong = 206;
inline constexpr std::uint32_t kNoData = 232;  // writing to a closed pipe
inline constexpr std::uint32_t kIoDevice = 1117;
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
  // Zero-terminated; 261 bytes as on the original platform.
  char module_name[261] = {};
};

class Platform {
 public:
  Platform() = default;
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  virtual ~Platform() = default;

  // The longest file name, in bytes, that OpenForReading and
  // CreateForWriting accept. Longer names are refused by the text streams
  // with kFilenameTooLong rather than cut.
  virtual std::size_t MaxNameBytes() const = 0;

  // Opens an existing file for reading. While it is open others may read
  // the file but not write it. `name` is zero-terminated and not empty.
  // Returns kInvalidHandle on failure; GetLastError then tells why (2 the
  // file is missing, 3 a directory of the path is missing, 5 it is a
  // directory or not readable, 32 another instance is writing it).
  virtual Handle OpenForReading(const char* name) = 0;

  // Creates a file, or empties an existing one, for writing. While it is
  // open others may read the file but not write it. A file that another
  // instance holds open is left untouched and the call fails with 32.
  // Returns kInvalidHandle on failure; GetLastError tells why.
  virtual Handle CreateForWriting(const char* name) = 0;

  // The standard input or output handle. Returns kInvalidHandle, with 6
  // left for GetLastError, when the process has none.
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

  // Closes a handle from OpenForReading or CreateForWriting. Everything
  // written to it has reached the file when this returns true.
  virtual bool CloseHandle(Handle handle) = 0;

  // The code left by the last failing call.
  virtual std::uint32_t GetLastError() = 0;

  // True when both names exist and designate the same file, also through a
  // symbolic or hard link; false when they do not or when it cannot tell.
  // Opens, creates and changes nothing.
  virtual bool IsSameFile(const char* a, const char* b) = 0;

  // The process's arguments.
  virtual ProcessArguments GetCommandLine() = 0;

  // The platform's own case-blind key order, or nullptr when it has none and
  // the portable order stands in for it.
  virtual const KeyOrder* NativeKeyOrder() = 0;

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

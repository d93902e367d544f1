// The platform on POSIX systems: files through descriptors, the sharing
// rules of Windows files through flock, errno turned into the
// platform's codes by PlatformErrorFromErrno. Written for Linux; the few
// calls that are Linux's own have plain POSIX fallbacks, chosen by CMake.
//
// A Handle is a file descriptor; the platform keeps state for any descriptor
// the system hands out. A negative value fails every call with 6.
//
// Disk files and pipes are batched: reads take up to kBlockBytes from the
// kernel at once and hand them out in the sizes asked for; writes gather up
// to kBlockBytes and reach the kernel when the block is full, in FlushFile,
// in CloseHandle and in ExitProcess. A gathered block holds whole WriteFile
// calls only: a call that does not fit sends the block ahead of it, and a
// call of kBlockBytes or more goes to the kernel by itself. A write that
// fails in the kernel is reported by the WriteFile or CloseHandle that hands
// the block over. Character devices (terminals, /dev/null) are never
// batched, so a prompt shows at once.
//
// Every call on paths and descriptors goes through a table of system calls
// (posix_system_calls.h), the system's own unless a test has put another in
// place (posix_platform_test_helper.h).
//
// Not thread-safe, and it need not be: only the thread that runs the
// process calls it. The sort's worker thread (index/sort_worker.h) only
// computes, on memory the process's thread took for it, and calls no method of
// the platform, nor of the platform's memory.

#ifndef MLFSORT_PLATFORM_POSIX_PLATFORM_H_
#define MLFSORT_PLATFORM_POSIX_PLATFORM_H_

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace mlfsort {

struct PosixSystemCalls;

class PosixPlatform final : public Platform {
 public:
  static constexpr std::uint32_t kBlockBytes = 64 * 1024;

  // Keeps `argv` (argc entries, program name first) for GetCommandLine; it
  // must outlive the platform. argc 0 gives no arguments.
  PosixPlatform(int argc, char** argv);
  ~PosixPlatform() override;
  PosixPlatform(const PosixPlatform&) = delete;
  PosixPlatform& operator=(const PosixPlatform&) = delete;

  // kLongestFileName, the longest path the system resolves.
  std::size_t MaxNameBytes() const override;

  // open(O_RDONLY) with a shared, non-blocking flock. Fails with 32 when
  // another open holds the file for writing, and with 5 for a directory.
  Handle OpenForReading(const char* name) override;

  // open(O_WRONLY | O_CREAT, 0666) with an exclusive, non-blocking flock.
  // A file that another open holds is left untouched and the call fails
  // with 32.
  Handle OpenForWriting(const char* name) override;

  // ftruncate of a regular file, then lseek to its start, the gathered
  // bytes dropped; devices, FIFOs and terminals succeed untouched.
  bool EmptyFile(Handle handle) override;

  // open(O_TMPFILE) in the directory where the system has it, else
  // open(O_CREAT | O_EXCL) of a new name there, unlinked at once. The file
  // is batched as a disk file is.
  Handle CreateTemporaryFile(const char* directory) override;

  // pread, after the gathered bytes have reached the file.
  bool ReadFileAt(Handle handle, std::uint64_t offset, void* buffer,
                  std::uint32_t size, std::uint32_t* bytes_read) override;

  // $TMPDIR when set and not empty, else /tmp.
  std::string TemporaryDirectory() override;

  // sysconf's count of physical pages times the page size.
  std::uint64_t PhysicalMemoryBytes() override;

  // The lower of RLIMIT_AS and RLIMIT_DATA.
  std::uint64_t MemoryLimitBytes() override;

  // Descriptor 0, 1 or 2; fails with 6 when that descriptor is closed.
  Handle GetStdHandle(StandardHandle which) override;

  // kCharacter for character devices, kPipe for FIFOs and sockets, kDisk for
  // everything else; kUnknown (code left) when fstat fails.
  FileType GetFileType(Handle handle) override;

  // Retries on EINTR and waits (poll) on a descriptor left non-blocking. On
  // a terminal every LF is handed over as CR LF; a read of one byte that
  // meets an LF hands over the CR and keeps the LF for the next read.
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;

  // Continues short writes until every byte is handed over, retrying on
  // EINTR. *bytes_written is `size` on success and 0 on failure. EFBIG (a
  // file-size limit) fails with 223.
  //
  // When a transfer to a regular file fails, the file is left ending at the
  // end of one of the WriteFile calls that reached it: the kernel keeps the
  // bytes of the calls it took whole, and what it took of the next one is
  // cut off again (ftruncate, from where the descriptor's offset says the
  // transfer began, so a file opened for appending keeps what it held). The
  // calls in the failed block after that are lost, as is the failing call's
  // own data; a cut that fails itself leaves the file as the kernel left
  // it, and the write's failure is the one reported. Pipes and devices keep
  // whatever the kernel took.
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;

  // Hands the gathered bytes to the kernel, as WriteFile does.
  bool FlushFile(Handle handle) override;

  // Hands the gathered bytes to the kernel, as WriteFile does, then closes
  // the descriptor whether that succeeded or not, so nothing leaks; the
  // first failure is reported. Fails with 6 for a handle that is not open.
  bool CloseHandle(Handle handle) override;

  std::uint32_t GetLastError() override;

  // strerror's words for the errno behind the last failure, when `code` is
  // its code; for another code, those of an errno that gives it.
  void DescribeError(std::uint32_t code, char* text, std::size_t size) override;

  // Same device and inode, by stat (so symbolic links are followed).
  bool IsSameFile(const char* a, const char* b) override;

  // Same device and inode, by stat of `name` and fstat of `handle`.
  bool IsFileOfHandle(const char* name, Handle handle) override;

  // Split arguments: argv as given to the constructor.
  ProcessArguments GetCommandLine() override;

  // nullptr: the portable order stands in.
  const LocaleCollation* Collation() override;

  // Blocks of 2 MiB and more are mapped whole pages at a time and start on
  // a 2 MiB boundary (large pages where the kernel uses them unasked);
  // where the system can move pages (mremap) they grow that way, elsewhere
  // by a copy. Smaller ones are operator new's.
  GrowableMemory& BulkMemory() override;

  // dladdr's module base; the name is the file name of the module. For the
  // main program it is taken from /proc/self/exe where the system has that
  // and tells the main program apart (dladdr1), elsewhere from dladdr's
  // path, which for the main program may be what it was started as. Uses
  // fixed buffers only.
  bool LocateCode(const void* code, CodeLocation* where) override;

  // Hands every handle's gathered bytes to the kernel as CloseHandle does
  // (failures ignored), then std::exit(status).
  void ExitProcess(int status) override;

 private:
  friend class PosixPlatformTestHelper;

  // The most WriteFile calls a gathered block holds. The text streams write
  // 128 bytes at a time, which fill the block and its list of call ends
  // together.
  static constexpr std::uint32_t kMaxGatheredWrites = kBlockBytes / 128;

  // Bytes gathered for the kernel, and where each WriteFile call in them
  // ends, so that a failed transfer can be cut back to the end of one.
  struct GatheredBlock {
    char bytes[kBlockBytes];
    std::uint32_t write_ends[kMaxGatheredWrites];
  };

  // What a descriptor needs beyond the kernel's view of it. Reset when this
  // platform opens or closes the descriptor. Plain data, so that the table
  // of states can grow by realloc.
  struct HandleState {
    enum class Transfer : std::uint8_t { kNotProbed, kBatched, kDirect };
    Transfer transfer = Transfer::kNotProbed;
    bool is_terminal = false;
    // Only a regular file has a length to cut back after a failed write.
    bool is_regular_file = false;
    // A terminal LF whose CR has been handed over already.
    bool owes_line_feed = false;
    // Batching blocks of kBlockBytes, from malloc on first use; when that
    // fails the handle goes unbatched. Blocks that cannot be had are no
    // failure, so they must not spend the memory that failures are raised
    // with, which operator new hands back when it fails.
    char* read_ahead = nullptr;
    std::uint32_t read_ahead_begin = 0;
    std::uint32_t read_ahead_end = 0;
    GatheredBlock* gathered = nullptr;
    std::uint32_t gathered_bytes = 0;
    std::uint32_t gathered_writes = 0;
  };

  // The state of `handle`, probed with fstat on first use; nullptr, with the
  // code left, when `handle` is no open descriptor.
  HandleState* ProbedState(Handle handle);
  // The state kept for `descriptor`, or nullptr when none has been made.
  HandleState* FoundState(int descriptor);
  // The state kept for `descriptor`, made on first use; nullptr, with the
  // code left, when the table cannot grow to hold it.
  HandleState* StateOf(int descriptor);
  // Gives a descriptor this platform has just opened a new state; closes it
  // and returns kInvalidHandle, with the code left, when there is no room.
  Handle Adopt(int descriptor);
  // Frees the state's blocks and makes it as new.
  static void ResetState(HandleState& state);
  bool ReadFromTerminal(int descriptor, HandleState& state, char* buffer,
                        std::uint32_t size, std::uint32_t* bytes_read);
  bool ReadAhead(int descriptor, HandleState& state, char* buffer,
                 std::uint32_t size, std::uint32_t* bytes_read);
  bool Gather(int descriptor, HandleState& state, const char* bytes,
              std::uint32_t size);
  // Hands the gathered bytes to the kernel; they count as gone afterwards,
  // whatever the outcome. Leaves the code on failure.
  bool FlushGathered(int descriptor, HandleState& state);
  // Hands `size` bytes to the kernel: the data of WriteFile calls that end
  // at `write_ends` (`write_count` of them, ascending, the last at `size`).
  // On failure cuts a regular file back to the last of those ends that the
  // kernel took (see WriteFile) and leaves the write's code.
  bool HandOver(int descriptor, const HandleState& state, const char* bytes,
                std::uint32_t size, const std::uint32_t* write_ends,
                std::uint32_t write_count);
  // Leaves the code for `errno_value` and returns false.
  bool Fail(int errno_value, const char* path_or_null = nullptr);
  // Leaves the code for `errno_value` from making a file in `directory`.
  void FailInDirectory(int errno_value, const char* directory);

  const PosixSystemCalls* system_calls_;
  int argc_;
  char** argv_;
  std::uint32_t last_error_ = 0;
  // The errno behind last_error_ (0 when it came from none).
  int last_errno_ = 0;
  // States by descriptor. The low descriptors, the standard handles and the
  // files of a run among them, are held here and never need memory: a
  // failure report must still reach standard output when none is left.
  // Higher ones live in a table grown by realloc, which raises nothing.
  static constexpr int kHeldHandles = 64;
  std::array<HandleState, kHeldHandles> held_handles_{};
  HandleState* more_handles_ = nullptr;  // descriptor kHeldHandles + index
  std::size_t more_handle_count_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_POSIX_PLATFORM_H_

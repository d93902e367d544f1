// The platform on POSIX systems (Linux): files through descriptors, the
// sharing rules of the original platform through flock, errno turned into
// the platform's codes by PlatformErrorFromErrno.
//
// A Handle is a file descriptor. Only descriptors below kTrackedHandles are
// handles of this platform; every call given another value fails with 6.
//
// Disk files and pipes are batched: reads take up to kBlockBytes from the
// kernel at once and hand them out in the sizes asked for; writes gather up
// to kBlockBytes and reach the kernel when the block is full, in
// CloseHandle and in ExitProcess. A write that fails in the kernel is
// reported by the WriteFile or CloseHandle that hands the block over, so a
// WriteFile that succeeded may later turn out lost. Character devices
// (terminals, /dev/null) are never batched, so a prompt shows at once.
//
// Not thread-safe: the tool has one thread.

#ifndef MLFSORT_PLATFORM_POSIX_PLATFORM_H_
#define MLFSORT_PLATFORM_POSIX_PLATFORM_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

namespace mlfsort {

class PosixPlatform final : public Platform {
 public:
  static constexpr std::uint32_t kBlockBytes = 64 * 1024;
  static constexpr int kTrackedHandles = 1024;

  // Keeps `argv` (argc entries, program name first) for GetCommandLine; it
  // must outlive the platform. argc 0 gives no arguments.
  PosixPlatform(int argc, char** argv);

  // 4095, the longest path the system resolves.
  std::size_t MaxNameBytes() const override;

  // open(O_RDONLY) with a shared, non-blocking flock. Fails with 32 when
  // another open holds the file for writing, with 5 for a directory, and
  // with 4 when the descriptor would lie beyond kTrackedHandles.
  Handle OpenForReading(const char* name) override;

  // open(O_WRONLY | O_CREAT, 0666) with an exclusive, non-blocking flock,
  // and only then truncation of a regular file (devices, FIFOs and
  // terminals are not truncated). A file that another open holds is left
  // untouched and the call fails with 32.
  Handle CreateForWriting(const char* name) override;

  // Descriptor 0 or 1; fails with 6 when that descriptor is closed.
  Handle GetStdHandle(StandardHandle which) override;

  // kCharacter for character devices, kPipe for FIFOs and sockets, kDisk for
  // everything else; kUnknown (code left) when fstat fails.
  FileType GetFileType(Handle handle) override;

  // Retries on EINTR and waits (poll) on a descriptor left non-blocking. On
  // a terminal every LF is handed over as CR LF; a read of one byte that
  // meets an LF hands over the CR and keeps the LF for the next read.
  bool ReadFile(Handle handle, void* buffer, std::uint32_t size,
                std::uint32_t* bytes_read) override;

  // Continues short writes until every byte is handed over. *bytes_written
  // is `size` on success and 0 on failure; the bytes of a failing call and
  // the gathered bytes handed over with them are lost.
  bool WriteFile(Handle handle, const void* buffer, std::uint32_t size,
                 std::uint32_t* bytes_written) override;

  // Hands the gathered bytes to the kernel, then closes the descriptor
  // whether that succeeded or not, so nothing leaks; the first failure is
  // reported. Fails with 6 for a handle that is not open.
  bool CloseHandle(Handle handle) override;

  std::uint32_t GetLastError() override;

  // Same device and inode, by stat (so symbolic links are followed).
  bool IsSameFile(const char* a, const char* b) override;

  // Split arguments: argv as given to the constructor.
  ProcessArguments GetCommandLine() override;

  // nullptr: the portable order stands in.
  const KeyOrder* NativeKeyOrder() override;

  // Blocks of 2 MiB and more are mapped whole pages at a time and start on
  // a 2 MiB boundary (large pages where the kernel uses them unasked); they
  // grow by moving their pages (mremap). Smaller ones are operator new's.
  GrowableMemory& BulkMemory() override;

  // dladdr's module base; the name is the file name of the module, taken
  // from /proc/self/exe for the main program. Uses fixed buffers only.
  bool LocateCode(const void* code, CodeLocation* where) override;

  // Hands every handle's gathered bytes to the kernel (failures ignored),
  // then std::exit(status).
  void ExitProcess(int status) override;

 private:
  // What a descriptor needs beyond the kernel's view of it. Reset when this
  // platform opens or closes the descriptor.
  struct HandleState {
    enum class Transfer : std::uint8_t { kNotProbed, kBatched, kDirect };
    Transfer transfer = Transfer::kNotProbed;
    bool is_terminal = false;
    // A terminal LF whose CR has been handed over already.
    bool owes_line_feed = false;
    // Allocated on first use; when that fails the handle goes unbatched.
    std::unique_ptr<char[]> read_ahead;
    std::uint32_t read_ahead_begin = 0;
    std::uint32_t read_ahead_end = 0;
    std::unique_ptr<char[]> gathered;
    std::uint32_t gathered_bytes = 0;
  };

  // The state of `handle`, probed with fstat on first use; nullptr, with the
  // code left, when `handle` is no open descriptor of this platform.
  HandleState* ProbedState(Handle handle);
  bool ReadFromTerminal(int descriptor, HandleState& state, char* buffer,
                        std::uint32_t size, std::uint32_t* bytes_read);
  bool ReadAhead(int descriptor, HandleState& state, char* buffer,
                 std::uint32_t size, std::uint32_t* bytes_read);
  bool Gather(int descriptor, HandleState& state, const char* bytes,
              std::uint32_t size);
  // Hands the gathered bytes to the kernel; they count as gone afterwards,
  // whatever the outcome. Leaves the code on failure.
  bool FlushGathered(int descriptor, HandleState& state);
  // Leaves the code for `errno_value` and returns false.
  bool Fail(int errno_value, const char* path_or_null = nullptr);

  int argc_;
  char** argv_;
  std::uint32_t last_error_ = 0;
  std::array<HandleState, kTrackedHandles> handles_;
};

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_POSIX_PLATFORM_H_

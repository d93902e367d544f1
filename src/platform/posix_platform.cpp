#include "platform/posix_platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#if MLFSORT_HAVE_DLADDR1
#include <link.h>
#endif
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <type_traits>

#include "platform/posix_error.h"
#include "platform/posix_system_calls.h"

namespace mlfsort {
namespace {

constexpr std::size_t kMaxNameBytes = kLongestFileName;

constexpr PosixSystemCalls kSystemCalls{};

template <typename SystemCall>
auto RetryOnInterrupt(SystemCall call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

// A descriptor inherited in non-blocking mode answers EAGAIN where the tool
// expects a blocking one to wait; the wait happens here instead.
bool WaitUntilReady(const PosixSystemCalls& calls, int descriptor,
                    short events) {
  pollfd watched{descriptor, events, 0};
  return RetryOnInterrupt([&] { return calls.poll(&watched, 1, -1); }) != -1;
}

// One read(); -1 with errno on failure.
ssize_t ReadOnce(const PosixSystemCalls& calls, int descriptor, void* buffer,
                 std::size_t size) {
  for (;;) {
    const ssize_t got =
        RetryOnInterrupt([&] { return calls.read(descriptor, buffer, size); });
    if (got != -1 || errno != EAGAIN) return got;
    if (!WaitUntilReady(calls, descriptor, POLLIN)) return -1;
  }
}

// The number of bytes the kernel took: `size`, or fewer with errno when a
// write failed. Pipes, sockets and a file meeting its limits may take fewer
// bytes than offered; the rest is offered again.
std::size_t WriteAll(const PosixSystemCalls& calls, int descriptor,
                     const char* bytes, std::size_t size) {
  std::size_t taken = 0;
  while (taken < size) {
    const ssize_t put = RetryOnInterrupt(
        [&] { return calls.write(descriptor, bytes + taken, size - taken); });
    if (put == -1) {
      if (errno != EAGAIN || !WaitUntilReady(calls, descriptor, POLLOUT)) {
        break;
      }
      continue;
    }
    taken += static_cast<std::size_t>(put);
  }
  return taken;
}

// The kernel took `taken` bytes of a transfer before failing; the file is cut
// back to the first `kept` of them. The descriptor's offset stands just past
// what was taken, also where O_APPEND put the transfer at the end of earlier
// bytes. The offset returns to the new end, so a later write leaves no hole.
void CutBack(const PosixSystemCalls& calls, int descriptor, std::size_t taken,
             std::size_t kept) {
  if (kept == taken) return;
  const off_t offset = calls.lseek(descriptor, 0, SEEK_CUR);
  if (offset == -1) return;
  const off_t end = offset - static_cast<off_t>(taken - kept);
  if (RetryOnInterrupt([&] { return calls.ftruncate(descriptor, end); }) == 0) {
    calls.lseek(descriptor, end, SEEK_SET);
  }
}

// Opens `name` and takes the flock `lock` without waiting; the descriptor,
// or -1 with errno. A lock already held elsewhere gives EWOULDBLOCK, so the
// file is neither read nor changed by this open.
int OpenLocked(const PosixSystemCalls& calls, const char* name, int access,
               int lock, struct stat* status) {
  const int descriptor = RetryOnInterrupt(
      [&] { return calls.open(name, access | O_CLOEXEC | O_NOCTTY, 0666); });
  if (descriptor == -1) return -1;
  int failure = 0;
  if (calls.fstat(descriptor, status) == -1) {
    failure = errno;
  } else if (S_ISDIR(status->st_mode)) {
    // open(O_RDONLY) succeeds on a directory; Windows refuses.
    failure = EISDIR;
  } else if (RetryOnInterrupt([&] {
               return calls.flock(descriptor, lock | LOCK_NB);
             }) == -1) {
    failure = errno;
  }
  if (failure == 0) return descriptor;
  calls.close(descriptor);
  errno = failure;
  return -1;
}

bool IsDescriptor(Handle handle) {
  return handle >= 0 && handle <= std::numeric_limits<int>::max();
}

// Allocation failure leaves the block empty and the handle unbatched, which
// is slower but still correct.
template <typename Block>
bool HasBlock(Block*& block, std::size_t bytes) {
  if (block == nullptr) block = static_cast<Block*>(std::malloc(bytes));
  return block != nullptr;
}

// A request for memory that cannot be met. The new-handler runs first, as
// it does for operator new, so that it can hand back memory held for
// raising failures (it may end the request itself); the request is not
// tried again.
[[noreturn]] void FailAllocation() {
  if (const std::new_handler handler = std::get_new_handler()) handler();
  throw std::bad_alloc();
}

void CopyFileName(const char* path, CodeLocation* where) {
  // dladdr gives no name for a program started without argv[0], as some
  // kernels allow.
  if (path == nullptr) return;
  const char* last_slash = std::strrchr(path, '/');
  const char* file_name = last_slash == nullptr ? path : last_slash + 1;
  const std::size_t length =
      std::min(std::strlen(file_name), std::size(where->module_name) - 1);
  std::memcpy(where->module_name, file_name, length);
  where->module_name[length] = '\0';
}

// The calls below are Linux's own; CMake tells which ones the system has
// (MLFSORT_HAVE_...), and each has a plain POSIX fallback.

// dladdr for `code`, and whether it lies in the main program, which only the
// link map tells apart: its entry is the one without a name.
#if MLFSORT_HAVE_DLADDR1
bool FindModule(const void* code, Dl_info* info, bool* in_main_program) {
  link_map* module = nullptr;
  if (::dladdr1(code, info, reinterpret_cast<void**>(&module),
                RTLD_DL_LINKMAP) == 0) {
    return false;
  }
  *in_main_program = module != nullptr && module->l_name[0] == '\0';
  return true;
}
#else
bool FindModule(const void* code, Dl_info* info, bool* in_main_program) {
  *in_main_program = false;
  return ::dladdr(code, info) != 0;
}
#endif

// The path of the running program's file, read into `buffer`, or nullptr.
#if MLFSORT_HAVE_PROC_SELF_EXE
const char* ProgramPath(const PosixSystemCalls& calls,
                        char (&buffer)[kMaxNameBytes + 1]) {
  const ssize_t length =
      calls.readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return nullptr;
  buffer[length] = '\0';
  return buffer;
}
#else
const char* ProgramPath(const PosixSystemCalls&, char (&)[kMaxNameBytes + 1]) {
  return nullptr;
}
#endif

// Blocks of a large page and more are mapped whole pages at a time on a
// large-page boundary, so that a kernel that backs memory with large pages
// of its own accord can. They are not asked for: where freed memory goes
// back to a hypervisor, a fresh large page costs several times more to
// fault in than its small pages, which outweighs what the write phase's
// scattered reads gain from them. Where the system can move pages (mremap),
// such a block grows by moving them to a larger mapping, which copies no
// bytes and needs no second copy of them in memory; elsewhere it is copied
// into a new mapping. Smaller blocks are operator new's.
class LargePageMemory final : public GrowableMemory {
 public:
#if MLFSORT_HAVE_MREMAP
  void* Resize(void* block, std::size_t old_bytes, std::size_t kept_bytes,
               std::size_t new_bytes, std::size_t alignment) override {
    if (old_bytes < kLargePage || new_bytes <= old_bytes) {
      return GrowableMemory::Resize(block, old_bytes, kept_bytes, new_bytes,
                                    alignment);
    }
    const std::size_t old_size = Mapped(old_bytes);
    const std::size_t new_size = Mapped(new_bytes);
    if (new_size == old_size) return block;
    void* const target = MapAligned(new_size, PROT_NONE);
    if (target == nullptr) FailAllocation();
    // The pages move over the reservation, which the kernel drops.
    void* const moved = ::mremap(block, old_size, new_size,
                                 MREMAP_MAYMOVE | MREMAP_FIXED, target);
    if (moved == MAP_FAILED) {
      ::munmap(target, new_size);
      FailAllocation();
    }
    return moved;
  }
#endif

 private:
  static constexpr std::size_t kLargePage = std::size_t{2} << 20;

  static std::size_t Mapped(std::size_t bytes) {
    return (bytes + kLargePage - 1) & ~(kLargePage - 1);
  }

  // A private mapping of `size` bytes (whole large pages) that starts on a
  // large-page boundary, or nullptr: a mapping one page longer, trimmed.
  static void* MapAligned(std::size_t size, int protection) {
    const std::size_t span = size + kLargePage;
    void* const mapped =
        ::mmap(nullptr, span, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kLargePage - 1) & ~(kLargePage - 1);
    if (aligned > start) ::munmap(mapped, aligned - start);
    const std::uintptr_t end = aligned + size;
    if (start + span > end) {
      ::munmap(reinterpret_cast<void*>(end), start + span - end);
    }
    return reinterpret_cast<void*>(aligned);
  }

  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (bytes < kLargePage)
      return GrowableMemory::do_allocate(bytes, alignment);
    void* const block = MapAligned(Mapped(bytes), PROT_READ | PROT_WRITE);
    if (block == nullptr) FailAllocation();
    return block;
  }

  void do_deallocate(void* block, std::size_t bytes,
                     std::size_t alignment) override {
    if (bytes < kLargePage) {
      GrowableMemory::do_deallocate(block, bytes, alignment);
    } else {
      ::munmap(block, Mapped(bytes));
    }
  }
};

}  // namespace

PosixPlatform::PosixPlatform(int argc, char** argv)
    : system_calls_(&kSystemCalls), argc_(argc), argv_(argv) {}

PosixPlatform::~PosixPlatform() {
  for (HandleState& state : held_handles_) ResetState(state);
  for (std::size_t index = 0; index < more_handle_count_; ++index) {
    ResetState(more_handles_[index]);
  }
  std::free(more_handles_);
}

std::size_t PosixPlatform::MaxNameBytes() const { return kMaxNameBytes; }

Handle PosixPlatform::OpenForReading(const char* name) {
  struct stat status;
  const int descriptor =
      OpenLocked(*system_calls_, name, O_RDONLY, LOCK_SH, &status);
  if (descriptor == -1) {
    Fail(errno, name);
    return kInvalidHandle;
  }
  return Adopt(descriptor);
}

Handle PosixPlatform::OpenForWriting(const char* name) {
  struct stat status;
  const int descriptor =
      OpenLocked(*system_calls_, name, O_WRONLY | O_CREAT, LOCK_EX, &status);
  if (descriptor == -1) {
    Fail(errno, name);
    return kInvalidHandle;
  }
  return Adopt(descriptor);
}

bool PosixPlatform::EmptyFile(Handle handle) {
  struct stat status;
  if (!IsDescriptor(handle)) return Fail(EBADF);
  const int descriptor = static_cast<int>(handle);
  if (system_calls_->fstat(descriptor, &status) == -1) return Fail(errno);
  // Devices, FIFOs and terminals have no length to cut and refuse
  // ftruncate.
  if (!S_ISREG(status.st_mode)) return true;
  if (HandleState* const state = FoundState(descriptor)) {
    state->gathered_bytes = 0;
    state->gathered_writes = 0;
  }
  if (RetryOnInterrupt(
          [&] { return system_calls_->ftruncate(descriptor, 0); }) == -1 ||
      system_calls_->lseek(descriptor, 0, SEEK_SET) == -1) {
    return Fail(errno);
  }
  return true;
}

Handle PosixPlatform::CreateTemporaryFile(const char* directory) {
  const PosixSystemCalls& calls = *system_calls_;
  constexpr int kAccess = O_RDWR | O_CLOEXEC | O_NOCTTY;
#if MLFSORT_HAVE_O_TMPFILE
  const int unnamed = RetryOnInterrupt(
      [&] { return calls.open(directory, O_TMPFILE | kAccess, 0600); });
  if (unnamed != -1) return Adopt(unnamed);
  // File systems without unnamed files refuse the flag; any other failure
  // is the directory's own.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    FailInDirectory(errno, directory);
    return kInvalidHandle;
  }
#endif
  char path[kMaxNameBytes + 1];
  static unsigned long attempts = 0;
  for (int tries = 0; tries < 100; ++tries) {
    const int length =
        std::snprintf(path, sizeof path, "%s/mlfsort-%ld-%lu", directory,
                      static_cast<long>(::getpid()), ++attempts);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
      Fail(ENAMETOOLONG);
      return kInvalidHandle;
    }
    const int descriptor = RetryOnInterrupt(
        [&] { return calls.open(path, O_CREAT | O_EXCL | kAccess, 0600); });
    if (descriptor == -1) {
      if (errno == EEXIST) continue;
      FailInDirectory(errno, directory);
      return kInvalidHandle;
    }
    // Nameless from here on: no ending of the process leaves it behind.
    if (calls.unlink(path) == -1) {
      const int failure = errno;
      calls.close(descriptor);
      Fail(failure, path);
      return kInvalidHandle;
    }
    return Adopt(descriptor);
  }
  Fail(EEXIST);
  return kInvalidHandle;
}

bool PosixPlatform::ReadFileAt(Handle handle, std::uint64_t offset,
                               void* buffer, std::uint32_t size,
                               std::uint32_t* bytes_read) {
  *bytes_read = 0;
  HandleState* const state = ProbedState(handle);
  if (state == nullptr) return false;
  const int descriptor = static_cast<int>(handle);
  if (!FlushGathered(descriptor, *state)) return false;
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return Fail(EINVAL);
  }
  const ssize_t got = RetryOnInterrupt([&] {
    return system_calls_->pread(descriptor, buffer, size,
                                static_cast<off_t>(offset));
  });
  if (got == -1) return Fail(errno);
  *bytes_read = static_cast<std::uint32_t>(got);
  return true;
}

std::string PosixPlatform::TemporaryDirectory() {
  const char* const named = std::getenv("TMPDIR");
  return named != nullptr && named[0] != '\0' ? named : "/tmp";
}

std::uint64_t PosixPlatform::PhysicalMemoryBytes() {
#if defined(_SC_PHYS_PAGES)
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    return static_cast<std::uint64_t>(pages) *
           static_cast<std::uint64_t>(page_size);
  }
#endif
  return 0;
}

std::uint64_t PosixPlatform::MemoryLimitBytes() {
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit current;
    if (::getrlimit(resource, &current) == 0 &&
        current.rlim_cur != RLIM_INFINITY) {
      limit = std::min<std::uint64_t>(limit, current.rlim_cur);
    }
  }
  return limit;
}

Handle PosixPlatform::GetStdHandle(StandardHandle which) {
  int descriptor = STDIN_FILENO;
  if (which == StandardHandle::kOutput) descriptor = STDOUT_FILENO;
  if (which == StandardHandle::kError) descriptor = STDERR_FILENO;
  if (system_calls_->fcntl(descriptor, F_GETFD) == -1) {
    Fail(errno);
    return kInvalidHandle;
  }
  return descriptor;
}

FileType PosixPlatform::GetFileType(Handle handle) {
  struct stat status;
  if (!IsDescriptor(handle)) {
    Fail(EBADF);
    return FileType::kUnknown;
  }
  if (system_calls_->fstat(static_cast<int>(handle), &status) == -1) {
    Fail(errno);
    return FileType::kUnknown;
  }
  if (S_ISCHR(status.st_mode)) return FileType::kCharacter;
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    return FileType::kPipe;
  }
  return FileType::kDisk;
}

bool PosixPlatform::ReadFile(Handle handle, void* buffer, std::uint32_t size,
                             std::uint32_t* bytes_read) {
  *bytes_read = 0;
  HandleState* state = ProbedState(handle);
  if (state == nullptr) return false;
  if (size == 0) return true;
  const int descriptor = static_cast<int>(handle);
  char* destination = static_cast<char*>(buffer);
  if (state->is_terminal) {
    return ReadFromTerminal(descriptor, *state, destination, size, bytes_read);
  }
  if (state->transfer == HandleState::Transfer::kBatched &&
      HasBlock(state->read_ahead, kBlockBytes)) {
    return ReadAhead(descriptor, *state, destination, size, bytes_read);
  }
  const ssize_t got = ReadOnce(*system_calls_, descriptor, destination, size);
  if (got == -1) return Fail(errno);
  *bytes_read = static_cast<std::uint32_t>(got);
  return true;
}

bool PosixPlatform::WriteFile(Handle handle, const void* buffer,
                              std::uint32_t size,
                              std::uint32_t* bytes_written) {
  *bytes_written = 0;
  HandleState* state = ProbedState(handle);
  if (state == nullptr) return false;
  const int descriptor = static_cast<int>(handle);
  const char* bytes = static_cast<const char*>(buffer);
  if (state->transfer == HandleState::Transfer::kBatched &&
      HasBlock(state->gathered, sizeof(GatheredBlock))) {
    if (!Gather(descriptor, *state, bytes, size)) return false;
  } else if (!HandOver(descriptor, *state, bytes, size, &size, 1)) {
    return false;
  }
  *bytes_written = size;
  return true;
}

bool PosixPlatform::FlushFile(Handle handle) {
  if (!IsDescriptor(handle)) return Fail(EBADF);
  const int descriptor = static_cast<int>(handle);
  HandleState* const state = FoundState(descriptor);
  return state == nullptr || FlushGathered(descriptor, *state);
}

bool PosixPlatform::CloseHandle(Handle handle) {
  if (!IsDescriptor(handle)) return Fail(EBADF);
  const int descriptor = static_cast<int>(handle);
  bool flushed = true;
  if (HandleState* const state = FoundState(descriptor)) {
    flushed = FlushGathered(descriptor, *state);
    ResetState(*state);
  }
  // Linux frees the descriptor even when close() fails, so it is never
  // retried; a failed flush is the failure worth reporting.
  if (system_calls_->close(descriptor) == -1 && flushed) return Fail(errno);
  return flushed;
}

std::uint32_t PosixPlatform::GetLastError() { return last_error_; }

void PosixPlatform::DescribeError(std::uint32_t code, char* text,
                                  std::size_t size) {
  const int errno_value = code == last_error_ && last_errno_ != 0
                              ? last_errno_
                              : ErrnoForPlatformError(code);
  DescribeErrno(errno_value, text, size);
}

ProcessArguments PosixPlatform::GetCommandLine() {
  ProcessArguments arguments;
  arguments.is_split = true;
  for (int index = 0; index < argc_; ++index) {
    arguments.split.emplace_back(argv_[index]);
  }
  return arguments;
}

bool PosixPlatform::IsSameFile(const char* a, const char* b) {
  struct stat a_status;
  struct stat b_status;
  return system_calls_->stat(a, &a_status) == 0 &&
         system_calls_->stat(b, &b_status) == 0 &&
         a_status.st_dev == b_status.st_dev &&
         a_status.st_ino == b_status.st_ino;
}

bool PosixPlatform::IsFileOfHandle(const char* name, Handle handle) {
  struct stat name_status;
  struct stat handle_status;
  return IsDescriptor(handle) && system_calls_->stat(name, &name_status) == 0 &&
         system_calls_->fstat(static_cast<int>(handle), &handle_status) == 0 &&
         !S_ISCHR(handle_status.st_mode) &&
         name_status.st_dev == handle_status.st_dev &&
         name_status.st_ino == handle_status.st_ino;
}

const LocaleCollation* PosixPlatform::Collation() { return nullptr; }

GrowableMemory& PosixPlatform::BulkMemory() {
  static LargePageMemory memory;
  return memory;
}

bool PosixPlatform::LocateCode(const void* code, CodeLocation* where) {
  *where = CodeLocation{};
  Dl_info info;
  bool in_main_program = false;
  if (!FindModule(code, &info, &in_main_program)) return false;
  where->module_base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  // For the main program dli_fname is whatever it was started as (often a
  // relative argv[0]), so the system's own record of its file wins.
  char program_path[kMaxNameBytes + 1];
  const char* path =
      in_main_program ? ProgramPath(*system_calls_, program_path) : nullptr;
  CopyFileName(path != nullptr ? path : info.dli_fname, where);
  return true;
}

void PosixPlatform::ExitProcess(int status) {
  // The process ends either way; a failure here has nowhere to go.
  for (int descriptor = 0; descriptor < kHeldHandles; ++descriptor) {
    FlushGathered(descriptor, held_handles_[descriptor]);
  }
  for (std::size_t index = 0; index < more_handle_count_; ++index) {
    FlushGathered(kHeldHandles + static_cast<int>(index), more_handles_[index]);
  }
  // std::exit rather than _Exit, so that leak checks still run.
  std::exit(status);
}

Handle PosixPlatform::Adopt(int descriptor) {
  HandleState* const state = StateOf(descriptor);
  if (state == nullptr) {
    system_calls_->close(descriptor);
    return kInvalidHandle;
  }
  ResetState(*state);
  return descriptor;
}

PosixPlatform::HandleState* PosixPlatform::FoundState(int descriptor) {
  if (descriptor < kHeldHandles) return &held_handles_[descriptor];
  const auto index = static_cast<std::size_t>(descriptor - kHeldHandles);
  return index < more_handle_count_ ? &more_handles_[index] : nullptr;
}

PosixPlatform::HandleState* PosixPlatform::StateOf(int descriptor) {
  static_assert(std::is_trivially_copyable_v<HandleState>,
                "the table of states grows by realloc");
  if (HandleState* const found = FoundState(descriptor)) return found;
  const auto count = static_cast<std::size_t>(descriptor - kHeldHandles) + 1;
  void* const grown = std::realloc(more_handles_, count * sizeof(HandleState));
  if (grown == nullptr) {
    Fail(ENOMEM);
    return nullptr;
  }
  more_handles_ = static_cast<HandleState*>(grown);
  for (std::size_t index = more_handle_count_; index < count; ++index) {
    new (&more_handles_[index]) HandleState();
  }
  more_handle_count_ = count;
  return &more_handles_[count - 1];
}

void PosixPlatform::ResetState(HandleState& state) {
  std::free(state.read_ahead);
  std::free(state.gathered);
  state = HandleState();
}

PosixPlatform::HandleState* PosixPlatform::ProbedState(Handle handle) {
  if (!IsDescriptor(handle)) {
    Fail(EBADF);
    return nullptr;
  }
  const int descriptor = static_cast<int>(handle);
  HandleState* const found = FoundState(descriptor);
  if (found != nullptr &&
      found->transfer != HandleState::Transfer::kNotProbed) {
    return found;
  }
  // Probed before any state is made, so a descriptor that is not open gets
  // none.
  struct stat status;
  if (system_calls_->fstat(descriptor, &status) == -1) {
    Fail(errno);
    return nullptr;
  }
  HandleState* const state = StateOf(descriptor);
  if (state == nullptr) return nullptr;
  // A prompt on a terminal must show at once, so character devices go
  // straight to the kernel.
  const bool is_character_device = S_ISCHR(status.st_mode);
  state->transfer = is_character_device ? HandleState::Transfer::kDirect
                                        : HandleState::Transfer::kBatched;
  state->is_terminal =
      is_character_device && system_calls_->isatty(descriptor) == 1;
  state->is_regular_file = S_ISREG(status.st_mode);
  return state;
}

// A terminal delivers LF for Enter where a Windows console delivers CR
// LF, and the tool ends lines only at CR. Asking the terminal for at most
// half of `size` leaves room for a CR before every LF; only a one-byte read
// can meet an LF without that room, and then the LF waits for the next read.
bool PosixPlatform::ReadFromTerminal(int descriptor, HandleState& state,
                                     char* buffer, std::uint32_t size,
                                     std::uint32_t* bytes_read) {
  if (state.owes_line_feed) {
    state.owes_line_feed = false;
    buffer[0] = '\n';
    *bytes_read = 1;
    return true;
  }
  const ssize_t got =
      ReadOnce(*system_calls_, descriptor, buffer, size > 1 ? size / 2 : 1);
  if (got == -1) return Fail(errno);
  const auto delivered = static_cast<std::uint32_t>(got);
  const auto expanded = delivered + static_cast<std::uint32_t>(std::count(
                                        buffer, buffer + delivered, '\n'));
  if (expanded > size) {
    buffer[0] = '\r';
    state.owes_line_feed = true;
    *bytes_read = 1;
    return true;
  }
  // Widened from the back, so every byte is moved before it is overwritten.
  std::uint32_t to = expanded;
  for (std::uint32_t from = delivered; from-- > 0;) {
    const char byte = buffer[from];
    buffer[--to] = byte;
    if (byte == '\n') buffer[--to] = '\r';
  }
  *bytes_read = expanded;
  return true;
}

// One read() of a whole block, handed out over as many calls as it lasts;
// a call returns as soon as the kernel had some bytes, as an unbatched one
// would.
bool PosixPlatform::ReadAhead(int descriptor, HandleState& state, char* buffer,
                              std::uint32_t size, std::uint32_t* bytes_read) {
  if (state.read_ahead_begin == state.read_ahead_end) {
    const ssize_t got =
        ReadOnce(*system_calls_, descriptor, state.read_ahead, kBlockBytes);
    if (got == -1) return Fail(errno);
    state.read_ahead_begin = 0;
    state.read_ahead_end = static_cast<std::uint32_t>(got);
  }
  const std::uint32_t handed =
      std::min(size, state.read_ahead_end - state.read_ahead_begin);
  std::memcpy(buffer, state.read_ahead + state.read_ahead_begin, handed);
  state.read_ahead_begin += handed;
  *bytes_read = handed;
  return true;
}

bool PosixPlatform::Gather(int descriptor, HandleState& state,
                           const char* bytes, std::uint32_t size) {
  if (size == 0) return true;
  if (size > kBlockBytes - state.gathered_bytes &&
      !FlushGathered(descriptor, state)) {
    return false;
  }
  if (size >= kBlockBytes) {
    return HandOver(descriptor, state, bytes, size, &size, 1);
  }
  GatheredBlock& block = *state.gathered;
  std::memcpy(block.bytes + state.gathered_bytes, bytes, size);
  state.gathered_bytes += size;
  block.write_ends[state.gathered_writes++] = state.gathered_bytes;
  if (state.gathered_bytes == kBlockBytes ||
      state.gathered_writes == kMaxGatheredWrites) {
    return FlushGathered(descriptor, state);
  }
  return true;
}

bool PosixPlatform::FlushGathered(int descriptor, HandleState& state) {
  const std::uint32_t count = state.gathered_bytes;
  const std::uint32_t writes = state.gathered_writes;
  state.gathered_bytes = 0;
  state.gathered_writes = 0;
  if (count == 0) return true;
  return HandOver(descriptor, state, state.gathered->bytes, count,
                  state.gathered->write_ends, writes);
}

bool PosixPlatform::HandOver(int descriptor, const HandleState& state,
                             const char* bytes, std::uint32_t size,
                             const std::uint32_t* write_ends,
                             std::uint32_t write_count) {
  const std::size_t taken = WriteAll(*system_calls_, descriptor, bytes, size);
  if (taken == size) return true;
  const int failure = errno;
  // A call the kernel took only in part would leave the file ending inside
  // it, in the middle of a line or of a stream's block; the calls it took
  // whole are kept.
  if (state.is_regular_file) {
    const std::uint32_t* const past_kept =
        std::upper_bound(write_ends, write_ends + write_count, taken);
    const std::size_t kept = past_kept == write_ends ? 0 : *(past_kept - 1);
    CutBack(*system_calls_, descriptor, taken, kept);
  }
  return Fail(failure);
}

bool PosixPlatform::Fail(int errno_value, const char* path_or_null) {
  last_error_ = PlatformErrorFromErrno(errno_value, path_or_null);
  last_errno_ = errno_value;
  return false;
}

void PosixPlatform::FailInDirectory(int errno_value, const char* directory) {
  Fail(errno_value, directory);
  // A name missing in the directory is the directory missing.
  if (errno_value == ENOENT) last_error_ = platform_error::kPathNotFound;
}

Platform& SystemPlatform(int argc, char** argv) {
  // Writing to a pipe whose reader has gone then fails with 232, and writing
  // past a file-size limit with 223, instead of ending the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  static PosixPlatform platform(argc, argv);
  return platform;
}

}  // namespace mlfsort

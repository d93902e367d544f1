#include "platform/windows_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// windows.h maps the name to GetCommandLineA, which would rename the
// Platform method defined below.
#undef GetCommandLine

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace mlfsort {
namespace {

constexpr std::size_t kMaxNameBytes = MAX_PATH - 1;

HANDLE ToWin32(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle FromWin32(HANDLE handle) { return reinterpret_cast<Handle>(handle); }

// CompareStringA reads a negative length as "up to the first NUL", which
// would run past a key that has none.
int Win32Length(std::string_view key) {
  return static_cast<int>(std::min<std::size_t>(key.size(), INT_MAX));
}

// An empty view may carry a null pointer; the call must get a valid string.
const char* Win32Bytes(std::string_view key) {
  return key.data() != nullptr ? key.data() : "";
}

// The identity of the file `name` designates; false when it cannot be
// opened or asked. Directories are opened too (backup semantics).
bool FileIdentity(const char* name, BY_HANDLE_FILE_INFORMATION* identity) {
  const HANDLE handle = ::CreateFileA(
      name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = ::GetFileInformationByHandle(handle, identity) != 0;
  ::CloseHandle(handle);
  return known;
}

}  // namespace

int WindowsCollation::Compare(std::string_view a, std::string_view b) const {
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, Win32Bytes(a),
                          Win32Length(a), Win32Bytes(b), Win32Length(b)) -
         2;
}

std::size_t WindowsPlatform::MaxNameBytes() const { return kMaxNameBytes; }

Handle WindowsPlatform::OpenForReading(const char* name) {
  const HANDLE handle =
      ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail();
  return FromWin32(handle);
}

Handle WindowsPlatform::OpenForWriting(const char* name) {
  const HANDLE handle =
      ::CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail();
  return FromWin32(handle);
}

bool WindowsPlatform::EmptyFile(Handle handle) {
  if (::GetFileType(ToWin32(handle)) != FILE_TYPE_DISK) return true;
  LARGE_INTEGER start{};
  return (::SetFilePointerEx(ToWin32(handle), start, nullptr, FILE_BEGIN) &&
          ::SetEndOfFile(ToWin32(handle))) ||
         Fail();
}

Handle WindowsPlatform::CreateTemporaryFile(const char* directory) {
  static unsigned long attempts = 0;
  char path[MAX_PATH + 1];
  for (int tries = 0; tries < 100; ++tries) {
    const int length = std::snprintf(
        path, sizeof path, "%s\\mlfsort-%lu-%lu.tmp", directory,
        static_cast<unsigned long>(::GetCurrentProcessId()), ++attempts);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
      last_error_ = ERROR_FILENAME_EXCED_RANGE;
      return kInvalidHandle;
    }
    const HANDLE handle = ::CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle != INVALID_HANDLE_VALUE) return FromWin32(handle);
    if (::GetLastError() != ERROR_FILE_EXISTS) {
      Fail();
      return kInvalidHandle;
    }
  }
  last_error_ = ERROR_FILE_EXISTS;
  return kInvalidHandle;
}

bool WindowsPlatform::ReadFileAt(Handle handle, std::uint64_t offset,
                                 void* buffer, std::uint32_t size,
                                 std::uint32_t* bytes_read) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  const BOOL succeeded = ::ReadFile(ToWin32(handle), buffer, size, &got, &at);
  *bytes_read = got;
  if (succeeded) return true;
  if (::GetLastError() == ERROR_HANDLE_EOF) {
    *bytes_read = 0;
    return true;
  }
  return Fail();
}

std::string WindowsPlatform::TemporaryDirectory() {
  char path[MAX_PATH + 1];
  const DWORD length = ::GetTempPathA(sizeof path, path);
  if (length == 0 || length >= sizeof path) return ".";
  std::string directory(path, length);
  while (directory.size() > 1 &&
         (directory.back() == '\\' || directory.back() == '/')) {
    directory.pop_back();
  }
  return directory;
}

std::uint64_t WindowsPlatform::PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

std::uint64_t WindowsPlatform::MemoryLimitBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullTotalVirtual : UINT64_MAX;
}

Handle WindowsPlatform::GetStdHandle(StandardHandle which) {
  DWORD standard_handle = STD_INPUT_HANDLE;
  if (which == StandardHandle::kOutput) standard_handle = STD_OUTPUT_HANDLE;
  if (which == StandardHandle::kError) standard_handle = STD_ERROR_HANDLE;
  const HANDLE handle = ::GetStdHandle(standard_handle);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return kInvalidHandle;
  }
  // A process started without this handle gets null and no error; every
  // later call on it would fail anyway, so the stream learns it at open.
  if (handle == nullptr) {
    last_error_ = ERROR_INVALID_HANDLE;
    return kInvalidHandle;
  }
  return FromWin32(handle);
}

FileType WindowsPlatform::GetFileType(Handle handle) {
  switch (::GetFileType(ToWin32(handle))) {
    case FILE_TYPE_UNKNOWN:
      return FileType::kUnknown;
    case FILE_TYPE_CHAR:
      return FileType::kCharacter;
    case FILE_TYPE_PIPE:
      return FileType::kPipe;
    default:
      return FileType::kDisk;
  }
}

bool WindowsPlatform::ReadFile(Handle handle, void* buffer, std::uint32_t size,
                               std::uint32_t* bytes_read) {
  DWORD got = 0;
  const BOOL succeeded =
      ::ReadFile(ToWin32(handle), buffer, size, &got, nullptr);
  *bytes_read = got;
  return succeeded || Fail();
}

bool WindowsPlatform::WriteFile(Handle handle, const void* buffer,
                                std::uint32_t size,
                                std::uint32_t* bytes_written) {
  *bytes_written = 0;
  const char* bytes = static_cast<const char*>(buffer);
  while (*bytes_written < size) {
    DWORD put = 0;
    if (!::WriteFile(ToWin32(handle), bytes + *bytes_written,
                     size - *bytes_written, &put, nullptr)) {
      return Fail();
    }
    if (put == 0) {
      last_error_ = ERROR_IO_DEVICE;
      return false;
    }
    *bytes_written += put;
  }
  return true;
}

bool WindowsPlatform::CloseHandle(Handle handle) {
  return ::CloseHandle(ToWin32(handle)) || Fail();
}

std::uint32_t WindowsPlatform::GetLastError() { return last_error_; }

void WindowsPlatform::DescribeError(std::uint32_t code, char* text,
                                    std::size_t size) {
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, code, 0, text,
      static_cast<DWORD>(std::min<std::size_t>(size, 0xFFFF)), nullptr);
  std::size_t end = length < size ? length : 0;
  // The system's texts end in a full stop and blanks.
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '.' ||
                     text[end - 1] == '\r' || text[end - 1] == '\n')) {
    --end;
  }
  if (end == 0) {
    std::snprintf(text, size, "error %u", static_cast<unsigned>(code));
    return;
  }
  text[end] = '\0';
}

bool WindowsPlatform::IsSameFile(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION a_identity;
  BY_HANDLE_FILE_INFORMATION b_identity;
  return FileIdentity(a, &a_identity) && FileIdentity(b, &b_identity) &&
         a_identity.dwVolumeSerialNumber == b_identity.dwVolumeSerialNumber &&
         a_identity.nFileIndexHigh == b_identity.nFileIndexHigh &&
         a_identity.nFileIndexLow == b_identity.nFileIndexLow;
}

bool WindowsPlatform::IsFileOfHandle(const char* name, Handle handle) {
  BY_HANDLE_FILE_INFORMATION name_identity;
  BY_HANDLE_FILE_INFORMATION handle_identity;
  return ::GetFileType(ToWin32(handle)) == FILE_TYPE_DISK &&
         ::GetFileInformationByHandle(ToWin32(handle), &handle_identity) &&
         FileIdentity(name, &name_identity) &&
         name_identity.dwVolumeSerialNumber ==
             handle_identity.dwVolumeSerialNumber &&
         name_identity.nFileIndexHigh == handle_identity.nFileIndexHigh &&
         name_identity.nFileIndexLow == handle_identity.nFileIndexLow;
}

ProcessArguments WindowsPlatform::GetCommandLine() {
  ProcessArguments arguments;
  arguments.is_split = false;
  arguments.command_line = ::GetCommandLineA();
  return arguments;
}

const LocaleCollation* WindowsPlatform::Collation() { return &collation_; }

bool WindowsPlatform::LocateCode(const void* code, CodeLocation* where) {
  *where = CodeLocation{};
  MEMORY_BASIC_INFORMATION memory;
  if (::VirtualQuery(code, &memory, sizeof memory) == 0 ||
      memory.AllocationBase == nullptr) {
    return false;
  }
  char path[MAX_PATH + 1];
  const DWORD length = ::GetModuleFileNameA(
      static_cast<HMODULE>(memory.AllocationBase), path, sizeof path);
  if (length == 0) return false;
  // A path that filled the buffer may lack its terminating zero.
  path[std::min<DWORD>(length, sizeof path - 1)] = '\0';
  const char* file_name = path;
  for (const char* byte = path; *byte != '\0'; ++byte) {
    if (*byte == '\\' || *byte == '/') file_name = byte + 1;
  }
  const std::size_t name_length =
      std::min(std::strlen(file_name), std::size(where->module_name) - 1);
  std::memcpy(where->module_name, file_name, name_length);
  where->module_name[name_length] = '\0';
  where->module_base = reinterpret_cast<std::uintptr_t>(memory.AllocationBase);
  return true;
}

void WindowsPlatform::ExitProcess(int status) {
  ::ExitProcess(static_cast<UINT>(status));
}

bool WindowsPlatform::Fail() {
  last_error_ = ::GetLastError();
  return false;
}

Platform& SystemPlatform(int, char**) {
  static WindowsPlatform platform;
  return platform;
}

}  // namespace mlfsort

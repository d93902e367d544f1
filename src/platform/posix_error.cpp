#include "platform/posix_error.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace mlfsort {
namespace {

struct ErrnoCode {
  int errno_value;
  std::uint32_t code;
};

// Every errno with a platform counterpart. ENOENT is missing on purpose: it
// needs the path (see PlatformErrorFromErrno). Anything not listed becomes
// kUnmappedErrnoBase + errno, outside the codes the failure report words.
constexpr std::array kErrnoCodes = {
    ErrnoCode{ENOTDIR, platform_error::kPathNotFound},
    ErrnoCode{EACCES, platform_error::kAccessDenied},
    ErrnoCode{EPERM, platform_error::kAccessDenied},
    ErrnoCode{EROFS, platform_error::kAccessDenied},
    ErrnoCode{EISDIR, platform_error::kAccessDenied},
    ErrnoCode{EMFILE, platform_error::kTooManyOpenFiles},
    ErrnoCode{ENOMEM, platform_error::kNotEnoughMemory},
    ErrnoCode{ENFILE, platform_error::kTooManyOpenFiles},
    // A lock that another open holds (flock with LOCK_NB). EAGAIN is the
    // same value; reads and writes wait instead of failing with it.
    ErrnoCode{EWOULDBLOCK, platform_error::kSharingViolation},
    ErrnoCode{ENAMETOOLONG, platform_error::kFilenameTooLong},
    ErrnoCode{ENOSPC, platform_error::kDiskFull},
    ErrnoCode{EDQUOT, platform_error::kDiskFull},
    ErrnoCode{EFBIG, platform_error::kFileTooLarge},
    ErrnoCode{EPIPE, platform_error::kNoData},
    ErrnoCode{EBADF, platform_error::kInvalidHandle},
    ErrnoCode{EIO, platform_error::kIoDevice},
    ErrnoCode{EINVAL, platform_error::kInvalidParameter},
};

// Tells a missing file from a missing directory: Windows reports the two
// apart, POSIX only says ENOENT. The directory part is
// copied into a fixed buffer because this runs on failure paths.
bool DirectoryPartExists(const char* path) {
  const char* last_slash = std::strrchr(path, '/');
  if (last_slash == nullptr) return true;  // the working directory
  std::array<char, kLongestFileName + 1> directory;
  // "/name" lies in the root directory, which the slash alone names.
  const std::size_t length =
      last_slash == path ? 1 : static_cast<std::size_t>(last_slash - path);
  if (length >= directory.size()) return false;
  std::memcpy(directory.data(), path, length);
  directory[length] = '\0';
  struct stat status;
  return ::stat(directory.data(), &status) == 0 && S_ISDIR(status.st_mode);
}

// strerror_r is the XSI one (an int result, the words in the buffer) or
// the GNU one (the words' address), as the C library declares it.
[[maybe_unused]] const char* WordsOf(int result, const char* buffer) {
  return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* WordsOf(const char* result, const char*) {
  return result;
}

void CopyWords(const char* words, char* text, std::size_t size) {
  const std::size_t length = std::min(std::strlen(words), size - 1);
  std::memcpy(text, words, length);
  text[length] = '\0';
}

}  // namespace

std::uint32_t PlatformErrorFromErrno(int errno_value,
                                     const char* path_or_null) {
  if (errno_value == ENOENT) {
    return path_or_null == nullptr || DirectoryPartExists(path_or_null)
               ? platform_error::kFileNotFound
               : platform_error::kPathNotFound;
  }
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.errno_value == errno_value) return entry.code;
  }
  return kUnmappedErrnoBase + static_cast<std::uint32_t>(errno_value);
}

int ErrnoForPlatformError(std::uint32_t code) {
  if (code == platform_error::kFileNotFound ||
      code == platform_error::kPathNotFound) {
    return ENOENT;
  }
  if (code > kUnmappedErrnoBase) {
    return static_cast<int>(code - kUnmappedErrnoBase);
  }
  for (const ErrnoCode& entry : kErrnoCodes) {
    if (entry.code == code) return entry.errno_value;
  }
  return 0;
}

void DescribeErrno(int errno_value, char* text, std::size_t size) {
  if (errno_value == 0) {
    CopyWords("unknown error", text, size);
    return;
  }
  if (errno_value == EWOULDBLOCK) {
    CopyWords("locked by another program", text, size);
    return;
  }
  char buffer[256];
  const char* words =
      WordsOf(::strerror_r(errno_value, buffer, sizeof buffer), buffer);
  CopyWords(words != nullptr ? words : "unknown error", text, size);
}

}  // namespace mlfsort

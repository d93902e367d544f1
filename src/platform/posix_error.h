// The one translation of POSIX `errno` values into the platform error codes
// (platform_error in platform.h), so that a failure reads the same on every
// system.

#ifndef MLFSORT_PLATFORM_POSIX_ERROR_H_
#define MLFSORT_PLATFORM_POSIX_ERROR_H_

#include <cstddef>
#include <cstdint>

namespace mlfsort {

// Codes for errno values without a platform counterpart are this base plus
// the errno value. They lie far above every code that has words of its own
// in the failure report (2 to 5, 100 to 106) and above the text streams' own
// codes, so they are reported as "I/O error" with the number.
inline constexpr std::uint32_t kUnmappedErrnoBase = 0x20000000;

// The platform code for `errno_value`, left by a call on `path_or_null`
// (nullptr when the call named no file). ENOENT is 2 (file not found) when
// the directory part of the path exists and 3 (path not found) when it does
// not; without a path it is 2. Never fails.
std::uint32_t PlatformErrorFromErrno(int errno_value, const char* path_or_null);

// An errno value that gives `code`, for describing a code whose errno is no
// longer known: the first listed for it, the errno itself for an unmapped
// one, 0 when none gives it.
int ErrnoForPlatformError(std::uint32_t code);

// The system's words for `errno_value` (strerror's), into `text` of `size`
// bytes (at least 1), cut to fit and zero-terminated. A lock held by
// another open is told as such rather than as a resource that is
// temporarily unavailable, which is what the lock call's errno says.
void DescribeErrno(int errno_value, char* text, std::size_t size);

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_POSIX_ERROR_H_

// The pending I/O error: the code a failing text-stream operation leaves
// for the failure check. 0 when nothing is pending. A later failure replaces
// an earlier code; a success never clears it. Held per thread.
//
// Inline: the failure check reads it after every operation, once or twice
// for every line of a run.

#ifndef MLFSORT_TEXTIO_PENDING_IO_ERROR_H_
#define MLFSORT_TEXTIO_PENDING_IO_ERROR_H_

#include <cstdint>

namespace mlfsort {

// The codes the text streams leave of their own. Every other code they
// leave is the platform's (platform_error in platform.h), passed through
// unchanged; the failure report words these four by its fallback, "I/O
// error <code>".
enum StreamError : std::int32_t {
  kStreamUnnamed = 102,     // opening a stream that has no name
  kStreamNotOpen = 103,     // closing or ending a write statement on a stream
                            // that is not open
  kStreamNotReading = 104,  // reading from a stream not open for reading
  kStreamNotWriting = 105,  // writing to a stream not open for writing;
                            // opening for writing a handle of unknown kind
};

namespace pending_io_error_internal {
inline thread_local std::int32_t code = 0;
}  // namespace pending_io_error_internal

inline std::int32_t PendingIoError() { return pending_io_error_internal::code; }

inline void SetPendingIoError(std::int32_t code) {
  pending_io_error_internal::code = code;
}

// Returns the pending code and resets it to 0.
inline std::int32_t TakePendingIoError() {
  const std::int32_t code = pending_io_error_internal::code;
  pending_io_error_internal::code = 0;
  return code;
}

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_PENDING_IO_ERROR_H_

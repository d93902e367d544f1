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

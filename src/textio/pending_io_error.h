// The pending I/O error: the code a failing text-stream operation leaves
// for the failure check. 0 when nothing is pending. A later failure replaces
// an earlier code; a success never clears it. Held per thread.

#ifndef MLFSORT_TEXTIO_PENDING_IO_ERROR_H_
#define MLFSORT_TEXTIO_PENDING_IO_ERROR_H_

#include <cstdint>

namespace mlfsort {

std::int32_t PendingIoError();
void SetPendingIoError(std::int32_t code);

// Returns the pending code and resets it to 0.
std::int32_t TakePendingIoError();

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_PENDING_IO_ERROR_H_

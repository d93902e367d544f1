// The failure check made after every text-stream operation.

#ifndef MLFSORT_FAILURE_FAILURE_CHECK_H_
#define MLFSORT_FAILURE_FAILURE_CHECK_H_

#include <cstdint>

#include "failure/exceptions.h"
#include "platform/compiler.h"
#include "textio/pending_io_error.h"

namespace mlfsort {

// A failure outside the span of the failure hooks: the process ends with
// the runtime error message and `number` as exit status.
struct RuntimeError {
  std::int32_t number;
  const void* address;
};

// Raises the pending I/O error: takes the pending code (resetting it to 0)
// and raises an EInOutError for it, failing at the code position just after
// the call of this function. Outside the span of the failure hooks it
// throws a RuntimeError with the code instead. Never inlined, and never
// returning, so no call of it is turned into a jump and every call site
// reports its own address.
[[noreturn]] void RaisePendingIoError();

// The failure check: returns when no I/O error is pending, raises it
// otherwise. Always inlined, also in unoptimised builds, so that the raise
// is called from the check's own call site.
MLFSORT_ALWAYS_INLINE void CheckIo() {
  if (PendingIoError() != 0) RaisePendingIoError();
}

// The I/O failure for `code`: the message of the I/O message table, or
// "I/O error <code>" for a code not in it. Throws std::bad_alloc when
// memory runs out.
EInOutError BuildIoFailure(std::int32_t code);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_FAILURE_CHECK_H_

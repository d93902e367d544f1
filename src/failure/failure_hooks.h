// The failure reporting module's process-wide state. While the hooks are
// installed, a failure check that finds a code raises an EInOutError, a
// failed allocation raises the out-of-memory failure, and every raised
// failure ends in the failure report. Outside that span the same events end
// the process with a runtime error instead.

#ifndef MLFSORT_FAILURE_FAILURE_HOOKS_H_
#define MLFSORT_FAILURE_FAILURE_HOOKS_H_

#include "failure/exceptions.h"

namespace mlfsort {

class FailureHooks {
 public:
  // Makes the one out-of-memory failure object, with a copy of the text
  // "Out of memory" that lasts until Remove, then installs the hooks. Throws
  // std::bad_alloc, installing nothing, when that copy cannot be had; the
  // process frame then ends with the runtime error message.
  static void Install();

  // Removes the hooks and releases the out-of-memory failure object.
  static void Remove();

  static bool Installed();

  // The out-of-memory failure made by Install, or nullptr outside the span.
  static const EOutOfMemory* OutOfMemory();
};

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_FAILURE_HOOKS_H_

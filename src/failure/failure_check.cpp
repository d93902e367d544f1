#include "failure/failure_check.h"

#include <new>
#include <string>
#include <string_view>

#include "failure/failure_hooks.h"
#include "failure/message_table.h"
#include "platform/compiler.h"
#include "textio/pending_io_error.h"

namespace mlfsort {

EInOutError BuildIoFailure(std::int32_t code) {
  const std::string_view message = IoMessageText(code);
  if (!message.empty()) return EInOutError(std::string(message), code);
  return EInOutError(FormatMessage(MessageId::kIoErrorFallback, code), code);
}

// Never inlined: its return address is the failure address, which must be
// distinct for every call site.
MLFSORT_NOINLINE void RaisePendingIoError() {
  const void* address = MLFSORT_RETURN_ADDRESS();
  const std::int32_t code = TakePendingIoError();
  if (!FailureHooks::Installed()) throw RuntimeError{code, address};
  try {
    EInOutError failure = BuildIoFailure(code);
    failure.set_address(address);
    throw failure;
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory(address);
  }
}

}  // namespace mlfsort

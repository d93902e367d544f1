#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

thread_local std::int32_t pending_io_error = 0;

}  // namespace

std::int32_t PendingIoError() { return pending_io_error; }

void SetPendingIoError(std::int32_t code) { pending_io_error = code; }

std::int32_t TakePendingIoError() {
  const std::int32_t code = pending_io_error;
  pending_io_error = 0;
  return code;
}

}  // namespace mlfsort

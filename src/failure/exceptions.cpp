#include "failure/exceptions.h"

#include <new>
#include <string>
#include <utility>

#include "failure/failure_hooks.h"
#include "failure/message_table.h"

namespace mlfsort {

Exception::Exception(std::string message)
    : message_(std::make_shared<const std::string>(std::move(message))) {}

void RaiseIndexError(std::int32_t position, const void* address) {
  EStringListError failure(FormatMessage(MessageId::kListIndexError, position));
  failure.set_address(address);
  throw failure;
}

void RaiseOutOfMemory(const void* address) {
  const EOutOfMemory* out_of_memory = FailureHooks::OutOfMemory();
  if (out_of_memory == nullptr) throw std::bad_alloc();
  EOutOfMemory failure(*out_of_memory);
  failure.set_address(address);
  throw failure;
}

}  // namespace mlfsort

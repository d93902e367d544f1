// Memory that refuses allocations on request and counts what it has handed
// out and not had back, for the stores that take a memory resource.

#ifndef MLFSORT_TESTS_SUPPORT_FAILING_MEMORY_H_
#define MLFSORT_TESTS_SUPPORT_FAILING_MEMORY_H_

#include <cstddef>
#include <new>

#include "platform/platform.h"

namespace mlfsort {

class FailingMemory final : public GrowableMemory {
 public:
  // Lets `allocations` more succeed, then fails every one; -1 never fails.
  void AllowAllocations(int allocations) { allowed_ = allocations; }
  std::size_t outstanding_bytes() const { return outstanding_bytes_; }

 private:
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (allowed_ == 0) throw std::bad_alloc();
    if (allowed_ > 0) --allowed_;
    outstanding_bytes_ += bytes;
    return OperatorNewMemory().allocate(bytes, alignment);
  }
  void do_deallocate(void* block, std::size_t bytes,
                     std::size_t alignment) override {
    outstanding_bytes_ -= bytes;
    OperatorNewMemory().deallocate(block, bytes, alignment);
  }
  bool do_is_equal(const memory_resource& other) const noexcept override {
    return this == &other;
  }

  int allowed_ = -1;
  std::size_t outstanding_bytes_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_FAILING_MEMORY_H_

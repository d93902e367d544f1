#include "failure/memory_reserve.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>

namespace mlfsort {
namespace {

// Room for the exception objects of an out-of-memory failure and of the
// failures it is raised through, with their headers, many times over; small
// enough that, freed, it stays with the allocator for its next requests
// rather than going back to the system.
constexpr std::size_t kReserveBytes = 16 * 1024;

// Freed from whichever thread first finds memory short.
std::atomic<void*> reserve{nullptr};

void GiveBackReserveAndFail() {
  std::free(reserve.exchange(nullptr));
  // Spent: a later request fails as without a handler, so one that may fail
  // quietly (nothrow) does so without raising anything.
  std::set_new_handler(nullptr);
  throw std::bad_alloc();
}

}  // namespace

MemoryReserve::MemoryReserve()
    : taken_(false), earlier_handler_(std::get_new_handler()) {
  void* const block = std::malloc(kReserveBytes);
  taken_ = block != nullptr;
  std::free(reserve.exchange(block));
  std::set_new_handler(&GiveBackReserveAndFail);
}

MemoryReserve::~MemoryReserve() {
  std::set_new_handler(earlier_handler_);
  std::free(reserve.exchange(nullptr));
}

}  // namespace mlfsort

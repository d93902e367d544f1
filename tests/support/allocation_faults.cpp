#include "support/allocation_faults.h"

#include <cstddef>
#include <cstdlib>
#include <new>

namespace mlfsort {
namespace {

bool armed = false;
bool onward = false;
bool fired = false;
long countdown = 0;
long allocations = 0;
int uncounted_depth = 0;

// True when this allocation is to fail.
bool ShouldFail() {
  if (!armed || uncounted_depth > 0) return false;
  ++allocations;
  if (fired && onward) return true;
  if (--countdown != 0) return false;
  fired = true;
  return true;
}

void* Allocate(std::size_t size, std::size_t alignment) {
  if (ShouldFail()) return nullptr;
  if (size == 0) size = 1;
  if (alignment <= alignof(std::max_align_t)) return std::malloc(size);
  const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
  return std::aligned_alloc(alignment, rounded);
}

}  // namespace

void AllocationFaults::FailFrom(long n, bool fail_onward) {
  armed = true;
  onward = fail_onward;
  fired = false;
  countdown = n;
  allocations = 0;
}

long AllocationFaults::Disarm() {
  armed = false;
  return allocations;
}

bool AllocationFaults::Fired() { return fired; }

UncountedAllocations::UncountedAllocations() { ++uncounted_depth; }

UncountedAllocations::~UncountedAllocations() { --uncounted_depth; }

}  // namespace mlfsort

void* operator new(std::size_t size) {
  void* memory = mlfsort::Allocate(size, 0);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return mlfsort::Allocate(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return mlfsort::Allocate(size, 0);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  void* memory = mlfsort::Allocate(size, static_cast<std::size_t>(alignment));
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  std::free(memory);
}

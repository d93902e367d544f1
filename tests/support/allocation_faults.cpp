#include "support/allocation_faults.h"

#include <cstddef>
#include <cstdint>
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

void* Allocate(std::size_t size) {
  if (ShouldFail()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

// Over-aligned blocks are carved out of a larger plain one, whose address is
// kept just before the block, so every platform's malloc serves them.
void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  if (ShouldFail()) return nullptr;
  const auto align = static_cast<std::size_t>(alignment);
  void* const raw = std::malloc(size + align + sizeof(void*));
  if (raw == nullptr) return nullptr;
  const auto first_free = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
  void** const block =
      reinterpret_cast<void**>((first_free + align - 1) / align * align);
  block[-1] = raw;
  return block;
}

void FreeAligned(void* block) {
  if (block != nullptr) std::free(static_cast<void**>(block)[-1]);
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
  void* memory = mlfsort::Allocate(size);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return mlfsort::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return mlfsort::Allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  void* memory = mlfsort::AllocateAligned(size, alignment);
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
  mlfsort::FreeAligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  mlfsort::FreeAligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  mlfsort::FreeAligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  mlfsort::FreeAligned(memory);
}

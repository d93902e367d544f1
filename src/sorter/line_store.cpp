#include "sorter/line_store.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "failure/exceptions.h"

namespace mlfsort {
namespace {

// Lines are packed into blocks of this size; a longer line gets a block of
// its own, so no block is ever larger than needed by more than this.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kOwnBlockThreshold = kBlockBytes / 4;

}  // namespace

std::int32_t NextListCapacity(std::int32_t capacity) {
  constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
  std::int32_t step = capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
  return capacity > kLargest - step ? kLargest : capacity + step;
}

LineStore::~LineStore() {
  std::free(entries_);
  for (char* block : blocks_) std::free(block);
}

// Never inlined: its return address is the failure address of a failed
// allocation.
[[gnu::noinline]] std::string_view LineStore::Append(std::string_view line) {
  const void* caller = __builtin_return_address(0);
  if (count_ == capacity_) GrowEntries(caller);
  const char* bytes = CopyIntoBlock(line, caller);
  entries_[count_++] = Entry{bytes, line.size()};
  return std::string_view(bytes, line.size());
}

[[gnu::noinline]] std::string_view LineStore::LineAt(
    std::int32_t position) const {
  if (position < 0 || position >= count_) {
    RaiseIndexError(position, __builtin_return_address(0));
  }
  const Entry& entry = entries_[position];
  return std::string_view(entry.bytes, entry.size);
}

void LineStore::GrowEntries(const void* caller) {
  const std::int32_t capacity = NextListCapacity(capacity_);
  if (capacity == capacity_) RaiseOutOfMemory(caller);
  void* grown = std::realloc(
      entries_, static_cast<std::size_t>(capacity) * sizeof(Entry));
  if (grown == nullptr) RaiseOutOfMemory(caller);
  entries_ = static_cast<Entry*>(grown);
  capacity_ = capacity;
}

const char* LineStore::CopyIntoBlock(std::string_view line,
                                     const void* caller) {
  if (line.empty()) return "";
  if (line.size() > block_space_) {
    const bool own_block = line.size() > kOwnBlockThreshold;
    const std::size_t size = own_block ? line.size() : kBlockBytes;
    blocks_.reserve(blocks_.size() + 1);
    char* block = static_cast<char*>(std::malloc(size));
    if (block == nullptr) RaiseOutOfMemory(caller);
    blocks_.push_back(block);
    if (own_block) {
      std::memcpy(block, line.data(), line.size());
      return block;
    }
    block_free_ = block;
    block_space_ = size;
  }
  char* bytes = block_free_;
  std::memcpy(bytes, line.data(), line.size());
  block_free_ += line.size();
  block_space_ -= line.size();
  return bytes;
}

}  // namespace mlfsort

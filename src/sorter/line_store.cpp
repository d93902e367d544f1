#include "sorter/line_store.h"

#include <cstring>
#include <limits>
#include <new>

#include "failure/exceptions.h"

namespace mlfsort {
namespace {

// Lines are packed into blocks of this size; a longer line gets a block of
// its own, so no block is ever larger than needed by more than this.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kOwnBlockThreshold = kBlockBytes / 4;
constexpr std::size_t kMaxLengthBytes = 10;  // a 64-bit length, 7 bits a byte

// Memory comes from operator new, the one place every part of the tool
// asks for memory, so a failed request always looks the same.
unsigned char* AllocateBytes(std::size_t size) {
  return static_cast<unsigned char*>(::operator new(size, std::nothrow));
}

unsigned char* PutLength(std::size_t length, unsigned char* out) {
  while (length >= 0x80) {
    *out++ = static_cast<unsigned char>(length | 0x80);
    length >>= 7;
  }
  *out++ = static_cast<unsigned char>(length);
  return out;
}

}  // namespace

std::int32_t NextListCapacity(std::int32_t capacity) {
  constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
  const std::int32_t step =
      capacity > 64 ? capacity / 4 : capacity > 8 ? 16 : 4;
  return capacity > kLargest - step ? kLargest : capacity + step;
}

LineStore::~LineStore() {
  ::operator delete(entries_);
  for (unsigned char* block : blocks_) ::operator delete(block);
}

// Never inlined: its return address is the failure address of a failed
// allocation.
[[gnu::noinline]] std::string_view LineStore::Append(std::string_view line) {
  const void* caller = __builtin_return_address(0);
  if (count_ == capacity_) GrowEntries(caller);
  const Entry entry = CopyIntoBlock(line, caller);
  entries_[count_++] = entry;
  return LineAt(count_ - 1);
}

[[gnu::noinline]] std::string_view LineStore::LineAt(
    std::int32_t position) const {
  if (position < 0 || position >= count_) {
    RaiseIndexError(position, __builtin_return_address(0));
  }
  const unsigned char* at = entries_[position];
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = *at++;
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  return std::string_view(reinterpret_cast<const char*>(at), length);
}

void LineStore::GrowEntries(const void* caller) {
  const std::int32_t capacity = NextListCapacity(capacity_);
  if (capacity == capacity_) RaiseOutOfMemory(caller);
  auto* grown = reinterpret_cast<Entry*>(
      AllocateBytes(static_cast<std::size_t>(capacity) * sizeof(Entry)));
  if (grown == nullptr) RaiseOutOfMemory(caller);
  if (count_ > 0) {
    std::memcpy(grown, entries_, static_cast<std::size_t>(count_) * sizeof(Entry));
  }
  ::operator delete(entries_);
  entries_ = grown;
  capacity_ = capacity;
}

LineStore::Entry LineStore::CopyIntoBlock(std::string_view line,
                                          const void* caller) {
  const std::size_t needed = kMaxLengthBytes + line.size();
  if (needed > block_space_) {
    const bool own_block = line.size() > kOwnBlockThreshold;
    const std::size_t size = own_block ? needed : kBlockBytes;
    blocks_.reserve(blocks_.size() + 1);
    unsigned char* block = AllocateBytes(size);
    if (block == nullptr) RaiseOutOfMemory(caller);
    blocks_.push_back(block);
    if (own_block) {
      unsigned char* bytes = PutLength(line.size(), block);
      std::memcpy(bytes, line.data(), line.size());
      return block;
    }
    block_free_ = block;
    block_space_ = size;
  }
  unsigned char* const entry = block_free_;
  unsigned char* bytes = PutLength(line.size(), entry);
  if (!line.empty()) std::memcpy(bytes, line.data(), line.size());
  const std::size_t used = static_cast<std::size_t>(bytes - entry) + line.size();
  block_free_ += used;
  block_space_ -= used;
  return entry;
}

}  // namespace mlfsort

#include "index/line_store.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "failure/exceptions.h"
#include "index/list_growth.h"
#include "platform/compiler.h"

namespace mlfsort {
namespace {

// Lines are packed into blocks of this size; a longer line gets a block of
// its own, so no block is larger than needed by more than this. A block
// spans a whole large page, where the memory offers them.
constexpr std::size_t kBlockBytes = std::size_t{2} << 20;
constexpr std::size_t kOwnBlockThreshold = kBlockBytes / 4;

// The writer of a stored length never sets the high bit on a byte followed
// by 0 (that would be a length written too long), so the pair 0x80 0x00 is
// free to mark a jump: the address of the next block follows it, and the
// next line begins there.
constexpr unsigned char kJumpMark[2] = {0x80, 0x00};
constexpr std::size_t kJumpBytes = sizeof kJumpMark + sizeof(void*);

// The start of the line stored at `at`, after following a jump.
const unsigned char* FollowJump(const unsigned char* at) {
  if (at[0] != kJumpMark[0] || at[1] != kJumpMark[1]) return at;
  const unsigned char* next;
  std::memcpy(&next, at + sizeof kJumpMark, sizeof next);
  return next;
}

// The line stored at `at` (a jump already followed).
std::string_view LineStoredAt(const unsigned char* at) {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const unsigned char byte = *at++;
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) break;
  }
  return std::string_view(reinterpret_cast<const char*>(at), length);
}

}  // namespace

LineStore::~LineStore() {
  if (places_ != nullptr) {
    memory_->deallocate(
        places_, static_cast<std::size_t>(place_capacity_) * sizeof *places_,
        alignof(std::max_align_t));
  }
  for (const Block& block : blocks_) {
    memory_->deallocate(block.bytes, block.size, alignof(std::max_align_t));
  }
}

void LineStore::PrepareFor(std::size_t line_size) {
  if (count_ == kMaxCount) throw std::bad_alloc();
  if (count_ % kLinesPerPlace == 0 &&
      count_ / kLinesPerPlace == place_capacity_) {
    GrowPlaces();
  }
  if (line_size + kMaxLengthBytes > room_) StartBlock(line_size);
}

MLFSORT_NOINLINE std::string_view LineStore::LineAt(
    std::int32_t position) const {
  if (position < 0 || position >= count_) {
    RaiseIndexError(position, MLFSORT_RETURN_ADDRESS());
  }
  const unsigned char* at = FollowJump(places_[position / kLinesPerPlace]);
  for (std::int32_t skip = position % kLinesPerPlace; skip > 0; --skip) {
    const std::string_view line = LineStoredAt(at);
    at = FollowJump(reinterpret_cast<const unsigned char*>(line.data()) +
                    line.size());
  }
  return LineStoredAt(at);
}

std::string_view LineStore::LineAfter(std::string_view line) const {
  return LineStoredAt(FollowJump(
      reinterpret_cast<const unsigned char*>(line.data()) + line.size()));
}

void LineStore::PrefetchPlace(std::int32_t position) const {
  if (position < 0 || position >= count_) return;
  Prefetch(&places_[position / kLinesPerPlace]);
}

void LineStore::PrefetchLine(std::int32_t position) const {
  if (position < 0 || position >= count_) return;
  // The lines before it in its group are read on the way: a cache line for
  // each is about right for label lines.
  constexpr std::uintptr_t kCacheLine = 64;
  const auto start =
      reinterpret_cast<std::uintptr_t>(places_[position / kLinesPerPlace]);
  const std::uintptr_t lines = position % kLinesPerPlace + 1;
  for (std::uintptr_t line = 0; line < lines; ++line) {
    Prefetch(reinterpret_cast<const void*>(start + line * kCacheLine));
  }
}

void LineStore::PrefetchFromPlace(std::int32_t position,
                                  std::size_t bytes) const {
  if (position < 0 || position >= count_) return;
  constexpr std::uintptr_t kCacheLine = 64;
  const auto start =
      reinterpret_cast<std::uintptr_t>(places_[position / kLinesPerPlace]);
  for (std::uintptr_t at = 0; at < bytes; at += kCacheLine) {
    Prefetch(reinterpret_cast<const void*>(start + at));
  }
}

// Starts a new block for a line of `line_size` bytes, and leaves a jump to
// it where the previous block ends.
void LineStore::StartBlock(std::size_t line_size) {
  const bool own_block = line_size > kOwnBlockThreshold;
  // A shared block is a large page exactly, its jump room included.
  const std::size_t size =
      own_block ? line_size + kMaxLengthBytes + kJumpBytes : kBlockBytes;
  blocks_.reserve(blocks_.size() + 1);
  auto* const block = static_cast<unsigned char*>(
      memory_->allocate(size, alignof(std::max_align_t)));
  blocks_.push_back({block, size});
  if (free_ != nullptr) {
    std::memcpy(free_, kJumpMark, sizeof kJumpMark);
    std::memcpy(free_ + sizeof kJumpMark, &block, sizeof block);
  }
  free_ = block;
  room_ = size - kJumpBytes;
}

void LineStore::GrowPlaces() {
  const std::int32_t capacity = NextListCapacity(place_capacity_);
  const std::size_t bytes =
      static_cast<std::size_t>(capacity) * sizeof *places_;
  const std::size_t old_bytes =
      static_cast<std::size_t>(place_capacity_) * sizeof *places_;
  places_ = static_cast<const unsigned char**>(
      places_ == nullptr ? memory_->allocate(bytes, alignof(std::max_align_t))
                         : memory_->Resize(places_, old_bytes, old_bytes, bytes,
                                           alignof(std::max_align_t)));
  place_capacity_ = capacity;
}

}  // namespace mlfsort

// The line store: the sortable lines of a run, in input order.
//
// Lines are copied one after another into large blocks of memory, each
// behind its length, and never move, so the views handed out (and the sort
// keys cut from them) stay valid while the store lives (but for the last
// line, which a line superseding it may replace). The store keeps the place
// of every fourth line only and finds the others by stepping over the lines
// before them: a pointer per line would cost more than many label lines,
// and reaching a line, which the write phase does in key order all over
// the store, costs a cache line or two more for each line stepped over.

#ifndef MLFSORT_INDEX_LINE_STORE_H_
#define MLFSORT_INDEX_LINE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/compiler.h"
#include "platform/platform.h"
#include "textio/copy_bytes.h"

namespace mlfsort {

class LineStore {
 public:
  // Blocks are taken from `memory`, which must outlive the store.
  explicit LineStore(GrowableMemory* memory = &OperatorNewMemory())
      : memory_(memory) {}
  LineStore(const LineStore&) = delete;
  LineStore& operator=(const LineStore&) = delete;
  ~LineStore();

  // Appends a copy of `line` as the last entry and returns a view of the
  // copy. Throws std::bad_alloc when `memory` does, or when the store holds
  // INT32_MAX lines already; the store is unchanged then.
  // Inline: a run appends every sortable line, and most need no more than a
  // copy; the rest goes through PrepareFor.
  std::string_view Append(std::string_view line) {
    if (count_ % kLinesPerPlace == 0 || count_ == kMaxCount ||
        line.size() + kMaxLengthBytes > room_) {
      PrepareFor(line.size());
    }
    unsigned char* const entry = free_;
    if (count_ % kLinesPerPlace == 0) places_[count_ / kLinesPerPlace] = entry;
    ++count_;
    return Store(entry, line);
  }

  // True when the last line can be replaced by one of `size` bytes in the
  // room it holds and the room behind it, so that ReplaceLast allocates
  // nothing and cannot fail.
  bool CanReplaceLast(std::size_t size) const {
    return count_ > 0 &&
           size + kMaxLengthBytes <=
               room_ + static_cast<std::size_t>(free_ - last_entry_);
  }

  // Replaces the last line with a copy of `line` at the same position, and
  // returns a view of the copy; views of the line it replaces are no longer
  // valid. Only when CanReplaceLast(line.size()). A run whose line
  // supersedes the line before it (an equal key) stores it there, so that a
  // file of many repeats holds little more than the lines it writes.
  std::string_view ReplaceLast(std::string_view line) {
    room_ += static_cast<std::size_t>(free_ - last_entry_);
    free_ = last_entry_;
    return Store(last_entry_, line);
  }

  std::int32_t Count() const { return count_; }

  // The entry at `position`. Raises the index error "List index out of
  // bounds (<position>)" for a position outside 0 to Count() - 1.
  std::string_view LineAt(std::int32_t position) const;

  // The line stored after `line`, a view this store gave of any line but
  // its last: lines read in input order need not be found one by one.
  std::string_view LineAfter(std::string_view line) const;

  // Ask for the memory that LineAt(position) will read, without waiting
  // for it: the write phase fetches lines in key order, all over the store.
  // PrefetchLine reads the line's kept place, which PrefetchPlace asks for;
  // a caller that asks for the place well ahead has PrefetchLine wait for
  // nothing. A position outside 0 to Count() - 1 is ignored.
  void PrefetchPlace(std::int32_t position) const;
  void PrefetchLine(std::int32_t position) const;
  // Asks, as PrefetchLine does, for `bytes` from the start of the line's
  // kept place on: for a line that keeps its own place (a position that is
  // a multiple of kLinesPerPlace), its first `bytes`.
  void PrefetchFromPlace(std::int32_t position, std::size_t bytes) const;

  // Lines whose place is kept; the others are found from the one before.
  // The slots for kept places grow as the tool's lists do (list_growth.h).
  static constexpr std::int32_t kLinesPerPlace = 4;

 private:
  struct Block {
    unsigned char* bytes;
    std::size_t size;
  };

  // A line is stored as its length, 7 bits a byte, lowest first, with the
  // high bit set on all but the last byte, followed by its bytes.
  static constexpr std::size_t kMaxLengthBytes = 10;  // a 64-bit length
  static constexpr std::int32_t kMaxCount = INT32_MAX;

  // Makes room for a line of `line_size` bytes and, where the line keeps
  // its place, a slot for it; refuses a line beyond the most a store holds.
  // Never inlined: Append, inlined into the run's loop, stays small.
  MLFSORT_NOINLINE void PrepareFor(std::size_t line_size);
  // Writes `line` as the entry at `entry`, the free byte, which room_ has
  // room for, and returns a view of its bytes.
  std::string_view Store(unsigned char* entry, std::string_view line) {
    std::size_t length_bytes = 1;
    for (std::size_t rest = line.size() >> 7; rest != 0; rest >>= 7) {
      ++length_bytes;
    }
    // The fields first: stores through byte pointers could change them, as
    // far as the compiler knows, and would have them read again.
    const std::size_t used = length_bytes + line.size();
    last_entry_ = entry;
    free_ = entry + used;
    room_ -= used;
    unsigned char* bytes = entry;
    std::size_t length = line.size();
    for (; length >= 0x80; length >>= 7) {
      *bytes++ = static_cast<unsigned char>(length | 0x80);
    }
    *bytes++ = static_cast<unsigned char>(length);
    CopyBytes(bytes, line.data(), line.size());
    return std::string_view(reinterpret_cast<const char*>(bytes), line.size());
  }
  void StartBlock(std::size_t line_size);
  void GrowPlaces();

  GrowableMemory* memory_;

  // Where every kLinesPerPlace-th line begins.
  const unsigned char** places_ = nullptr;
  std::int32_t place_capacity_ = 0;
  std::int32_t count_ = 0;
  std::vector<Block> blocks_;
  // The next free byte of the newest block and the room left behind it,
  // not counting the room kept for a jump to the next block.
  unsigned char* free_ = nullptr;
  std::size_t room_ = 0;
  // Where the last line's entry begins, in the newest block.
  unsigned char* last_entry_ = nullptr;
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_LINE_STORE_H_

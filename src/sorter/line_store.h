// The line store: the sortable lines of a run, in input order. Lines are
// copied into large blocks of memory and never move, so the views handed
// out (and the sort keys cut from them) stay valid while the store lives.
// Each line is kept behind its length, so an entry is a single pointer:
// the store costs the line bytes plus about 9 bytes per line.

#ifndef MLFSORT_SORTER_LINE_STORE_H_
#define MLFSORT_SORTER_LINE_STORE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace mlfsort {

class LineStore {
 public:
  LineStore() = default;
  LineStore(const LineStore&) = delete;
  LineStore& operator=(const LineStore&) = delete;
  ~LineStore();

  // Appends a copy of `line` as the last entry and returns a view of the
  // copy. Raises the out-of-memory failure when memory runs out (the store
  // is unchanged then).
  std::string_view Append(std::string_view line);

  std::int32_t Count() const { return count_; }

  // The slots allocated for entries. It grows as a list of the tool grows:
  // by 4 up to 8, by 16 up to 64, then by a quarter.
  std::int32_t Capacity() const { return capacity_; }

  // The entry at `position`. Raises the index error "List index out of
  // bounds (<position>)" for a position outside 0 to Count() - 1.
  std::string_view LineAt(std::int32_t position) const;

 private:
  // Where a line lies: its length (as a base-128 number, 7 bits a byte,
  // lowest first, high bit set on all but the last), then its bytes.
  using Entry = const unsigned char*;

  Entry CopyIntoBlock(std::string_view line, const void* caller);
  void GrowEntries(const void* caller);

  Entry* entries_ = nullptr;
  std::int32_t count_ = 0;
  std::int32_t capacity_ = 0;
  std::vector<unsigned char*> blocks_;
  unsigned char* block_free_ = nullptr;
  std::size_t block_space_ = 0;
};

// The next capacity of a list that is full at `capacity`.
std::int32_t NextListCapacity(std::int32_t capacity);

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_LINE_STORE_H_

// For tests and benchmarks only: reads a SortedKeyIndex by position and
// tells what memory it holds. The program never includes this.

#ifndef MLFSORT_INDEX_SORTED_KEY_INDEX_TEST_HELPER_H_
#define MLFSORT_INDEX_SORTED_KEY_INDEX_TEST_HELPER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string_view>

#include "index/sorted_key_index.h"

namespace mlfsort {

class SortedKeyIndexTestHelper {
 public:
  SortedKeyIndexTestHelper() = delete;

  // The line index at `position`; std::out_of_range unless `position` lies
  // in 0 .. Count() - 1.
  static std::uint32_t LineIndexAt(SortedKeyIndex& index,
                                   std::int32_t position) {
    const std::span<const std::uint32_t> read = index.LineIndexesFrom(position);
    if (read.empty()) throw std::out_of_range("no such position");
    return read.front();
  }

  // The key text at `position`, through the index's key source.
  static std::string_view KeyAt(SortedKeyIndex& index, std::int32_t position) {
    return index.keys_.KeyOf(LineIndexAt(index, position));
  }

  // Bytes of memory the index holds, the index object included.
  static std::size_t AllocatedBytes(const SortedKeyIndex& index) {
    return sizeof index + index.entries_.capacity * sizeof(key_index::Entry) +
           index.run_ends_.capacity * sizeof(std::size_t) +
           (index.batch_.capacity + index.sorting_.capacity) *
               sizeof(SortedKeyIndex::BatchEntry) +
           index.scratch_.capacity * sizeof(key_index::Entry) +
           index.read_order_.capacity * sizeof(std::uint32_t) +
           index.cursors_.capacity * sizeof(key_index::RunCursor) +
           index.merge_slots_.capacity * sizeof(key_index::MergeSlot);
  }
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_SORTED_KEY_INDEX_TEST_HELPER_H_

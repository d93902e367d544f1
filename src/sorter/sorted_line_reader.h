// Reads the held lines back in key order for the write phase.

#ifndef MLFSORT_SORTER_SORTED_LINE_READER_H_
#define MLFSORT_SORTER_SORTED_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sorter/line_store.h"
#include "sorter/sorted_key_index.h"

namespace mlfsort {

// The line that each index entry names, by position. Read positions in
// ascending order: each read asks for the memory of the lines a little
// further on, which lie all over the store, so that it has arrived by the
// time they are read.
class SortedLineReader {
 public:
  SortedLineReader(SortedKeyIndex& index, const LineStore& lines);

  std::int32_t Count() const { return count_; }

  // The line of the entry at `position`; a position outside 0 .. Count() - 1
  // raises the index error.
  std::string_view LineAt(std::int32_t position);

 private:
  SortedKeyIndex& index_;
  const LineStore& lines_;
  const std::int32_t count_;
};

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_SORTED_LINE_READER_H_

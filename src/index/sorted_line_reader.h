// Reads the held lines back in key order for the write phase.

#ifndef MLFSORT_INDEX_SORTED_LINE_READER_H_
#define MLFSORT_INDEX_SORTED_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "index/line_store.h"
#include "index/sorted_key_index.h"

namespace mlfsort {

// The lines that the index entries name, in the index's order. Each read
// asks for the memory of the lines a little further on, which lie all over
// the store, so that it has arrived by the time they are read.
class SortedLineReader {
 public:
  SortedLineReader(SortedKeyIndex& index, const LineStore& lines)
      : index_(index), lines_(lines) {}

  // Sets `line` to the next line and returns true; false after the last.
  bool Next(std::string_view* line);

 private:
  SortedKeyIndex& index_;
  const LineStore& lines_;
  // The line indexes at hand, from the index's position `position_` on.
  std::span<const std::uint32_t> ahead_;
  std::int32_t position_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_SORTED_LINE_READER_H_

// Reads the held lines back in key order for the write phase.

#ifndef MLFSORT_SORTER_SORTED_LINE_READER_H_
#define MLFSORT_SORTER_SORTED_LINE_READER_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sorter/line_store.h"
#include "sorter/sorted_key_index.h"

namespace mlfsort {

// The line that each index entry names, by position, for an index whose
// keys are views of stored lines from byte `key_start` on, cut at
// `key_limit` bytes. Read positions in ascending order: each read asks for
// the memory of the lines a little further on, which lie all over the
// store, so that it has arrived by the time they are read.
class SortedLineReader {
 public:
  SortedLineReader(SortedKeyIndex& index, const LineStore& lines,
                   std::size_t key_start, std::size_t key_limit);

  std::int32_t Count() const { return count_; }

  // The line of the entry at `position`; a position outside 0 .. Count() - 1
  // raises the index error.
  std::string_view LineAt(std::int32_t position);

 private:
  // A key shorter than the limit ends where its line ends, so the line is
  // at hand without asking the store; other lines the store looks up.
  bool KeyHoldsLineEnd(std::string_view key) const {
    return !key.empty() && key.size() < key_limit_;
  }
  void AskForPlace(std::int32_t position);
  void AskForLine(std::int32_t position);

  SortedKeyIndex& index_;
  const LineStore& lines_;
  const std::size_t key_start_;
  const std::size_t key_limit_;
  const std::int32_t count_;
};

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_SORTED_LINE_READER_H_

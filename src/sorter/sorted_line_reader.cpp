#include "sorter/sorted_line_reader.h"

namespace mlfsort {
namespace {

// How far ahead of the line being read the reader asks for lines (and
// twice as far for where the store keeps the long ones): far enough for
// memory to answer in the meantime.
constexpr std::int32_t kLinesAhead = 16;

}  // namespace

SortedLineReader::SortedLineReader(SortedKeyIndex& index,
                                   const LineStore& lines)
    : index_(index), lines_(lines), count_(index.Count()) {}

std::string_view SortedLineReader::LineAt(std::int32_t position) {
  if (position + 2 * kLinesAhead < count_) {
    lines_.PrefetchPlace(static_cast<std::int32_t>(
        index_.LineIndexAt(position + 2 * kLinesAhead)));
  }
  if (position + kLinesAhead < count_) {
    lines_.PrefetchLine(
        static_cast<std::int32_t>(index_.LineIndexAt(position + kLinesAhead)));
  }
  return lines_.LineAt(static_cast<std::int32_t>(index_.LineIndexAt(position)));
}

}  // namespace mlfsort

#include "sorter/sorted_line_reader.h"

namespace mlfsort {
namespace {

// How far ahead of the line being read the reader asks for lines (and
// twice as far for where the store keeps the long ones): far enough for
// memory to answer in the meantime.
constexpr std::int32_t kLinesAhead = 16;

}  // namespace

SortedLineReader::SortedLineReader(SortedKeyIndex& index,
                                   const LineStore& lines,
                                   std::size_t key_start, std::size_t key_limit)
    : index_(index),
      lines_(lines),
      key_start_(key_start),
      key_limit_(key_limit),
      count_(index.Count()) {}

std::string_view SortedLineReader::LineAt(std::int32_t position) {
  if (position + 2 * kLinesAhead < count_) {
    AskForPlace(position + 2 * kLinesAhead);
  }
  if (position + kLinesAhead < count_) AskForLine(position + kLinesAhead);
  const std::string_view key = index_.KeyAt(position);
  if (KeyHoldsLineEnd(key)) {
    return {key.data() - key_start_, key_start_ + key.size()};
  }
  return lines_.LineAt(static_cast<std::int32_t>(index_.LineIndexAt(position)));
}

void SortedLineReader::AskForPlace(std::int32_t position) {
  if (!KeyHoldsLineEnd(index_.KeyAt(position))) {
    lines_.PrefetchPlace(
        static_cast<std::int32_t>(index_.LineIndexAt(position)));
  }
}

void SortedLineReader::AskForLine(std::int32_t position) {
  const std::string_view key = index_.KeyAt(position);
  if (KeyHoldsLineEnd(key)) {
    __builtin_prefetch(key.data() - key_start_);
    __builtin_prefetch(key.data() + key.size() - 1);
  } else {
    lines_.PrefetchLine(
        static_cast<std::int32_t>(index_.LineIndexAt(position)));
  }
}

}  // namespace mlfsort

#include "index/sorted_line_reader.h"

namespace mlfsort {
namespace {

// How far ahead of the line being read the reader asks for lines (and
// twice as far for where the store keeps the long ones): far enough for
// memory to answer in the meantime.
constexpr std::int32_t kLinesAhead = 16;

}  // namespace

bool SortedLineReader::Next(std::string_view* line) {
  if (ahead_.empty()) {
    ahead_ = index_.LineIndexesFrom(position_);
    if (ahead_.empty()) return false;
  }
  const auto at = [this](std::size_t ahead) {
    return static_cast<std::int32_t>(ahead_[ahead]);
  };
  if (ahead_.size() > 2 * kLinesAhead)
    lines_.PrefetchPlace(at(2 * kLinesAhead));
  if (ahead_.size() > kLinesAhead) lines_.PrefetchLine(at(kLinesAhead));
  *line = lines_.LineAt(at(0));
  ahead_ = ahead_.subspan(1);
  ++position_;
  return true;
}

}  // namespace mlfsort

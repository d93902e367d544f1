#include "labels/label_line.h"

namespace mlfsort {
namespace {

bool IsBlank(char byte) { return byte == ' ' || byte == '\t'; }

bool StartsWithArrow(std::string_view text) {
  return text.starts_with("->") || text.starts_with("=>");
}

}  // namespace

bool IsSubdirectoryLine(std::string_view line) {
  std::size_t at = 0;
  if (line.starts_with('"')) {
    const std::size_t closing = line.find('"', 1);
    if (closing == std::string_view::npos) return false;
    at = closing + 1;
  } else {
    while (at < line.size() && !IsBlank(line[at]) &&
           !StartsWithArrow(line.substr(at))) {
      ++at;
    }
    if (at == 0) return false;  // no pattern before the arrow
  }
  while (at < line.size() && IsBlank(line[at])) ++at;
  return StartsWithArrow(line.substr(at));
}

}  // namespace mlfsort

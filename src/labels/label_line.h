// The lines of a label file as every mode reads them: which lines pass
// straight through, the sort key of a line (bytes 3 to 101) and of an
// entry (its first line from byte 3 on), the line that ends an entry, the
// subdirectory lines that stand between entries, and the header a label
// file begins with.

#ifndef MLFSORT_LABELS_LABEL_LINE_H_
#define MLFSORT_LABELS_LABEL_LINE_H_

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace mlfsort {

// A line's sort key is at most kSortKeyBytes bytes from its byte
// kSortKeyStart + 1 on (counted from 1): bytes 3 to 101. The first two bytes
// of a line never take part in the order.
inline constexpr std::size_t kSortKeyStart = 2;
inline constexpr std::size_t kSortKeyBytes = 99;

// The sort key of a sortable line; empty for a line of 1 or 2 bytes.
inline std::string_view SortKeyOf(std::string_view line) {
  if (line.size() <= kSortKeyStart) return {};
  return line.substr(kSortKeyStart,
                     std::min(line.size() - kSortKeyStart, kSortKeyBytes));
}

// True for a line that passes straight through in the line modes: empty,
// or beginning with "#".
inline bool IsPassThroughLine(std::string_view line) {
  return line.empty() || line.front() == '#';
}

// The sort key of an entry whose first line is `first_line`: the whole line
// from its third byte on, however long (names are often paths longer than
// the line modes' 99-byte key); empty for a line of 1 or 2 bytes.
inline std::string_view EntryKeyOfLine(std::string_view first_line) {
  return first_line.size() <= kSortKeyStart ? std::string_view()
                                            : first_line.substr(kSortKeyStart);
}

// True for the line that closes an entry: exactly ".".
inline bool IsEntryTerminator(std::string_view line) {
  return line.size() == 1 && line.front() == '.';
}

// True for a subdirectory line: its pattern (a double-quoted text, or the
// bytes up to the first blank or arrow), then any blanks, then "->" or "=>".
bool IsSubdirectoryLine(std::string_view line);

// The line a label file begins with. As the first line of a later input it
// is not written again: a merged file has one header.
inline constexpr std::string_view kLabelFileHeader = "#!MLF!#";

}  // namespace mlfsort

#endif  // MLFSORT_LABELS_LABEL_LINE_H_

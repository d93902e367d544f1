// Whole label entries, for sorting a label file by utterance.
//
// Outside an entry these lines pass straight through, in input order: an
// empty line; a line beginning with "#" (the header, comments, the repeated
// headers of concatenated files); a subdirectory line, whose pattern is
// followed by "->" or "=>" (readers try those in file order, so they keep
// it). Any other line starts an entry, which runs through the next line
// that is exactly "." and holds every line in between, whatever it is. A
// lone "." outside an entry is an entry of one line; an entry still open
// when the input ends is kept as it stands.

#ifndef MLFSORT_SORTER_LABEL_ENTRIES_H_
#define MLFSORT_SORTER_LABEL_ENTRIES_H_

#include <string_view>

namespace mlfsort {

// True for a subdirectory line: its pattern (a double-quoted text, or the
// bytes up to the first blank or arrow), then any blanks, then "->" or "=>".
bool IsSubdirectoryLine(std::string_view line);

// Follows a label file line by line and tells each line's part in it.
class EntryTracker {
 public:
  enum class Part {
    kPassThrough,  // outside every entry
    kFirst,        // starts an entry
    kInside,       // belongs to the open entry
  };

  // The part of `line`, read after the lines given before; an entry closes
  // after its "." line.
  Part Take(std::string_view line);

 private:
  bool in_entry_ = false;
};

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_LABEL_ENTRIES_H_

// What a sort run does with each line it reads, one class per mode, and the
// one loop that reads the lines of an input and hands them to a mode.
//
// A mode has Take(line), for the next line, and SkipLine(), for a line the
// run reads but leaves out (the repeated header of a later input), and
// tells with Done() whether it needs more lines. The loop is a template
// instantiated per mode, so each mode's Take is inlined into a loop of its
// own and none slows another.

#ifndef MLFSORT_SORTER_RUN_MODES_H_
#define MLFSORT_SORTER_RUN_MODES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "failure/failure_check.h"
#include "platform/compiler.h"
#include "sorter/label_entries.h"
#include "sorter/line_store.h"
#include "sorter/sort_run.h"
#include "sorter/sorted_key_index.h"
#include "textio/text_stream.h"

namespace mlfsort {

// The line modes: a pass-through line is written at once; every other line
// is held, and its key filed.
class LineMode {
 public:
  LineMode(TextStream& output, LineStore& lines, SortedKeyIndex& index)
      : output_(output), lines_(lines), index_(index) {}

  MLFSORT_ALWAYS_INLINE void Take(std::string_view line) {
    if (IsPassThroughLine(line)) {
      output_.WriteLine(line);
      CheckIo();
      return;
    }
    ++sortable_lines_;
    Hold(line);
  }
  void SkipLine() {}
  static constexpr bool Done() { return false; }

  // The sortable lines taken so far.
  std::uint64_t sortable_lines() const { return sortable_lines_; }

 private:
  // Stores the line and files its key. A line whose key has the bytes of
  // the key filed just before supersedes the line of that key, which is the
  // line stored last: it takes that line's place in the store, so that the
  // many short lines of a label file with the same (empty) key take no more
  // memory than one.
  MLFSORT_ALWAYS_INLINE void Hold(std::string_view line) {
    const std::string_view key = SortKeyOf(line);
    if (index_.LatestKeyIs(key) && lines_.CanReplaceLast(line.size())) {
      index_.RefileLatest(SortKeyOf(lines_.ReplaceLast(line)));
      return;
    }
    const std::string_view stored = lines_.Append(line);
    index_.Insert(SortKeyOf(stored),
                  static_cast<std::uint32_t>(lines_.Count() - 1));
  }

  TextStream& output_;
  LineStore& lines_;
  SortedKeyIndex& index_;
  std::uint64_t sortable_lines_ = 0;
};

// --entries: lines outside entries are written at once; entries are held
// whole.
class EntryMode {
 public:
  EntryMode(TextStream& output, EntryHolder& entries)
      : output_(output), entries_(entries) {}

  MLFSORT_ALWAYS_INLINE void Take(std::string_view line) {
    const EntryTracker::Part part = tracker_.Take(line);
    if (part == EntryTracker::Part::kPassThrough) {
      output_.WriteLine(line);
      CheckIo();
      return;
    }
    entries_.Take(line, part);
  }
  void SkipLine() {}
  static constexpr bool Done() { return false; }

 private:
  TextStream& output_;
  EntryHolder& entries_;
  EntryTracker tracker_;
};

// Reads the lines of `input` to its end (or until `mode` is done) and hands
// each to `mode`; `long_line` holds the lines read the long way. Most lines
// lie whole in the stream's buffer and are taken from there. Never
// inlined, so that each mode's loop stands alone.
template <typename Mode>
MLFSORT_NOINLINE void TakeEveryLine(TextStream& input, Mode& mode,
                                    std::string* long_line) {
  const auto take_line = [&mode](std::string_view line) { mode.Take(line); };
  for (;;) {
    input.ReadBufferedLines(take_line);
    if (mode.Done()) return;
    const bool at_end = input.AtEndOfInput();
    CheckIo();
    if (at_end) return;
    input.ReadLine(long_line);
    input.SkipLineEnd();
    CheckIo();
    mode.Take(*long_line);
  }
}

// Reads the first line of a later input, which `mode` does not see when it
// is exactly the header every label file begins with: the merged file has
// one header.
template <typename Mode>
void TakeFirstLineOfALaterInput(TextStream& input, Mode& mode,
                                std::string* line) {
  const bool at_end = input.AtEndOfInput();
  CheckIo();
  if (at_end) return;
  input.ReadLine(line);
  input.SkipLineEnd();
  CheckIo();
  if (*line == kLabelFileHeader) {
    mode.SkipLine();
  } else {
    mode.Take(*line);
  }
}

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_RUN_MODES_H_

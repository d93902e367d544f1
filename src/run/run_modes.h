// What a sort run does with each line it reads, one class per mode, and the
// one loop that reads the lines of an input and hands them to a mode.
//
// A mode has StartInput(name) before each input's lines, Take(line) for
// the next line, and SkipLine() for a line the
// run reads but leaves out (the repeated header of a later input), and
// tells with Done() whether it needs more lines (a check that has found a
// difference needs no more). The loop is a template
// instantiated per mode, so each mode's Take is inlined into a loop of its
// own and none slows another.

#ifndef MLFSORT_RUN_RUN_MODES_H_
#define MLFSORT_RUN_RUN_MODES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "failure/failure_check.h"
#include "labels/label_entries.h"
#include "labels/label_line.h"
#include "labels/order_check.h"
#include "platform/compiler.h"
#include "run/held_lines.h"
#include "textio/text_stream.h"

namespace mlfsort {

// The line modes: a pass-through line is written at once; every other line
// is held, and its key filed.
class LineMode {
 public:
  LineMode(TextStream& output, HeldLines& held)
      : output_(output), held_(held) {}

  MLFSORT_ALWAYS_INLINE void Take(std::string_view line) {
    if (IsPassThroughLine(line)) {
      output_.WriteLine(line);
      CheckIo();
      return;
    }
    ++sortable_lines_;
    held_.Hold(line);
  }
  void StartInput(std::string_view) {}
  void SkipLine() {}
  static constexpr bool Done() { return false; }

  // The sortable lines taken so far.
  std::uint64_t sortable_lines() const { return sortable_lines_; }

 private:
  TextStream& output_;
  HeldLines& held_;
  std::uint64_t sortable_lines_ = 0;
};

// --entries: lines outside entries are written at once; entries are held
// whole.
class EntryMode {
 public:
  EntryMode(TextStream& output, HeldLines& held)
      : output_(output), held_(held) {}

  MLFSORT_ALWAYS_INLINE void Take(std::string_view line) {
    const EntryTracker::Part part = tracker_.Take(line);
    if (part == EntryTracker::Part::kPassThrough) {
      output_.WriteLine(line);
      CheckIo();
      return;
    }
    held_.HoldEntryLine(line, part);
    if (!tracker_.in_entry()) held_.AtEntryBoundary();
  }
  void StartInput(std::string_view) {}
  void SkipLine() {}
  static constexpr bool Done() { return false; }

 private:
  TextStream& output_;
  HeldLines& held_;
  EntryTracker tracker_;
};

// --check: every line goes to the check, which says when it has found a
// difference.
class CheckMode {
 public:
  explicit CheckMode(OrderCheck& check) : check_(check) {}

  MLFSORT_ALWAYS_INLINE void Take(std::string_view line) {
    done_ = !check_.Take(line);
  }
  void StartInput(std::string_view shown_name) {
    check_.StartInput(shown_name);
  }
  void SkipLine() { check_.SkipLine(); }
  bool Done() const { return done_; }

 private:
  OrderCheck& check_;
  bool done_ = false;
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

#endif  // MLFSORT_RUN_RUN_MODES_H_

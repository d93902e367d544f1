// Whether sorting would give the lines of a run back as they stand: the
// check behind -c, --check.
//
// The lines of one or more inputs are given in order, as the run reads
// them, and taken as one sequence, as sorting them all would take them (an
// entry still open at the end of one input goes on in the next). Sorting
// gives them back, line ends aside, in the same order exactly when:
// - no pass-through line comes after a sortable line (line modes) or after
//   an entry (--entries), since sorting writes every pass-through line
//   first. Pass-through lines are those of IsPassThroughLine (label_line.h) in
//   the line modes, and those EntryTracker calls kPassThrough with
//   --entries (subdirectory lines too);
// - line modes: the key of each sortable line (SortKeyOf, bytes 3 to 101)
//   sorts after the key of the sortable line before it; with an equal key
//   sorting would drop the earlier line;
// - --entries: the key of each entry's first line (EntryKeyOfLine, the
//   whole line from its third byte) does not sort before the key of the
//   entry before it, since entries of equal keys keep their input order.
//   The lines inside an entry are not looked at.
//
// The check stops at the first line that breaks one of these and words it
// as a finding, one line with no "mlfsort: " before it:
//   NAME:N: disorder: LINE
//     line N of input NAME, a sortable line or an entry's first line, has a
//     key that sorts before the key before it; LINE is that line;
//   NAME:N: dropped: the key of line M is the same
//   NAME:N: dropped: the key of OTHER:M is the same
//     line modes: line N and the next sortable line, line M of the same
//     input or of the later input OTHER, have equal keys;
//   NAME:N: pass-through line after sorted lines
//     line N passes through but comes after a sortable line or entry.
// NAME is the name the input was started under. LINE shows control bytes
// as ShowByte (failure_words.h) does, and is cut after about 200 bytes,
// with "..." in place of the rest, so that the finding stays readable.
//
// Only the key of the last sortable line or entry is held, copied into
// storage that is reused, so that checking takes no memory per line.

#ifndef MLFSORT_LABELS_ORDER_CHECK_H_
#define MLFSORT_LABELS_ORDER_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "labels/label_entries.h"
#include "labels/label_line.h"
#include "order/key_order.h"

namespace mlfsort {

class OrderCheck {
 public:
  // Checks under `order`, which must outlive the check; `entries` when
  // whole label entries are sorted (--entries), else single lines.
  OrderCheck(const KeyOrder& order, bool entries);

  OrderCheck(const OrderCheck&) = delete;
  OrderCheck& operator=(const OrderCheck&) = delete;

  // Starts the next input, named `shown_name` in findings (a file name, or
  // "standard input"); its lines count from 1. Comes before the lines of
  // every input, the first included.
  void StartInput(std::string_view shown_name);

  // Takes the next line of the current input, without its line end.
  // Returns false once a difference has been found, at this line or
  // before; lines taken after that change nothing.
  bool Take(std::string_view line);

  // Counts the next line of the current input without taking it: a line
  // the run drops (the repeated header at the start of a later input).
  void SkipLine() { ++line_number_; }

  // The words of the first difference found, or nothing while sorting
  // gives the lines taken so far back as they stand.
  std::optional<std::string> Finding() const { return finding_; }

 private:
  // Checks a sortable line or an entry's first line, `line`, by its key.
  bool TakeKey(std::string_view key, std::string_view line);
  // Finds a pass-through line, `line_number_`, out of place when a key
  // came before it.
  bool TakePassThrough();
  // "NAME:N: " for line `line_number` of the input named `name`.
  static std::string Place(std::string_view name, std::uint64_t line_number);

  const KeyOrder& order_;
  const bool entries_;
  EntryTracker tracker_;
  std::optional<std::string> finding_;
  // The current input: its name, its number (from 1) and the number of its
  // last line taken or skipped.
  std::string input_name_;
  std::uint64_t input_number_ = 0;
  std::uint64_t line_number_ = 0;
  // The last key checked, where it stood, and the name of its input once
  // that input is no longer the current one.
  bool has_previous_ = false;
  std::string previous_key_;
  std::uint64_t previous_input_number_ = 0;
  std::uint64_t previous_line_number_ = 0;
  std::string previous_input_name_;
};

}  // namespace mlfsort

#endif  // MLFSORT_LABELS_ORDER_CHECK_H_

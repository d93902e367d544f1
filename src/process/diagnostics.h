// The lines a run leaves on standard error beside its result: warnings and
// notes, which --quiet drops, and the words of a failure, which nothing
// drops. Each line begins "mlfsort: " and ends in LF; all of them are
// written when the run ends, the failure's last. Standard error is never
// part of a run's result: a failure to write it is ignored.

#ifndef MLFSORT_PROCESS_DIAGNOSTICS_H_
#define MLFSORT_PROCESS_DIAGNOSTICS_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "textio/text_stream.h"

namespace mlfsort {

class Diagnostics {
 public:
  // Drops the warnings and notes from now on, and those given before.
  void SetQuiet(bool quiet) { quiet_ = quiet; }

  // Standard error leads to one of the run's own files: nothing at all may
  // be written there.
  void Silence() { silenced_ = true; }
  bool silenced() const { return silenced_; }

  // A warning or a note: its words, without "mlfsort: " and the line end.
  void Add(std::string line) { lines_.push_back({std::move(line), true}); }

  // A line that tells the run's result (what a check found), which quiet
  // does not drop.
  void Tell(std::string line) { lines_.push_back({std::move(line), false}); }

  // The words of the failure about to be raised, told in place of what the
  // failing stream would say of it (a refusal says why it refuses).
  void Explain(std::string words) { explanation_ = std::move(words); }
  const std::optional<std::string>& explanation() const { return explanation_; }

  // Writes the warnings and notes (unless quiet), then `failure_words` when
  // not empty, each on a line of its own, to `standard_error`; nothing when
  // silenced. Leaves no pending code. Allocates nothing.
  void WriteTo(TextStream& standard_error, std::string_view failure_words);

 private:
  bool quiet_ = false;
  bool silenced_ = false;
  struct Line {
    std::string words;
    bool droppable;
  };
  std::vector<Line> lines_;
  std::optional<std::string> explanation_;
};

}  // namespace mlfsort

#endif  // MLFSORT_PROCESS_DIAGNOSTICS_H_

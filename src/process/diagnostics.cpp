#include "process/diagnostics.h"

#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

void WriteLine(TextStream& standard_error, std::string_view words) {
  standard_error.WriteText("mlfsort: ");
  standard_error.WriteText(words);
  standard_error.WriteText("\n");
  standard_error.EndOfWrite();
}

}  // namespace

void Diagnostics::WriteTo(TextStream& standard_error,
                          std::string_view failure_words) {
  if (silenced_) return;
  // The code of a failure being reported is taken already; anything left
  // here is standard error's own.
  if (!quiet_) {
    for (const std::string& line : lines_) WriteLine(standard_error, line);
  }
  if (!failure_words.empty()) WriteLine(standard_error, failure_words);
  TakePendingIoError();
}

}  // namespace mlfsort

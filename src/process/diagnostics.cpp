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
  for (const Line& line : lines_) {
    if (!quiet_ || !line.droppable) WriteLine(standard_error, line.words);
  }
  if (!failure_words.empty()) WriteLine(standard_error, failure_words);
  TakePendingIoError();
}

}  // namespace mlfsort

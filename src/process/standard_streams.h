// The standard input, output and error streams: the process-wide text
// streams on the standard handles.

#ifndef MLFSORT_PROCESS_STANDARD_STREAMS_H_
#define MLFSORT_PROCESS_STANDARD_STREAMS_H_

#include "platform/platform.h"
#include "textio/text_stream.h"

namespace mlfsort {

struct StandardStreams {
  explicit StandardStreams(Platform& platform)
      : input(platform, TextStream::Role::kStandardInput),
        output(platform, TextStream::Role::kStandardOutput),
        error(platform, TextStream::Role::kStandardError) {}

  // Names all three with the empty name and leaves them closed; each opens
  // itself on first use.
  void Name() {
    input.Name("");
    output.Name("");
    error.Name("");
  }

  // Gives the standard streams the run's line convention: the name line,
  // the empty lines and the failure report (on standard output, or on
  // standard error) follow it.
  void SetLineConvention(LineConvention convention) {
    input.SetLineConvention(convention);
    output.SetLineConvention(convention);
    error.SetLineConvention(convention);
  }

  // Closes standard input (nothing visible), then standard error and
  // standard output, which write out everything they still buffer and keep
  // their handles open. Standard output goes last: it carries the failure
  // report.
  void Close() {
    input.Close();
    error.Close();
    output.Close();
  }

  TextStream input;
  TextStream output;
  // Only for messages about the run; never used in a run that needs none.
  TextStream error;
};

}  // namespace mlfsort

#endif  // MLFSORT_PROCESS_STANDARD_STREAMS_H_

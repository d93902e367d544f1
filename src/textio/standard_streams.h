// The standard input stream and the standard output stream: the two
// process-wide text streams on the standard handles.

#ifndef MLFSORT_TEXTIO_STANDARD_STREAMS_H_
#define MLFSORT_TEXTIO_STANDARD_STREAMS_H_

#include "platform/platform.h"
#include "textio/text_stream.h"

namespace mlfsort {

struct StandardStreams {
  explicit StandardStreams(Platform& platform)
      : input(platform, TextStream::Role::kStandardInput),
        output(platform, TextStream::Role::kStandardOutput) {}

  // Names both with the empty name and leaves them closed; each opens itself
  // on first use.
  void Name() {
    input.Name("");
    output.Name("");
  }

  // Closes standard input (nothing visible), then standard output, which
  // writes out everything it still buffers and keeps its handle open.
  void Close() {
    input.Close();
    output.Close();
  }

  TextStream input;
  TextStream output;
};

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_STANDARD_STREAMS_H_

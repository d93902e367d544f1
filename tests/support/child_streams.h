// The child's standard input and output as RunOptions asks for them, made
// the same way by both process runners. Only the calls that make a pipe or
// open a file differ; each runner passes them in as `Files` (PosixFiles in
// binary_runner.cpp, WindowsFiles in binary_runner_windows.cpp): the owning
// type Files::Handle (movable, with valid() and Reset()), kNullDevice, and
// MakePipe, OpenToRead, OpenToWrite (as a shell's `>` or `>>`),
// MakeScratchFile (gone with its last handle), WriteAll and Rewind. None of
// them makes a handle that a child would inherit: each runner hands the
// child its ends in its own way, and a child must receive no other.

#ifndef MLFSORT_TESTS_SUPPORT_CHILD_STREAMS_H_
#define MLFSORT_TESTS_SUPPORT_CHILD_STREAMS_H_

#include <utility>

#include "support/binary_runner.h"

namespace mlfsort {

template <typename Files>
struct ChildStreams {
  using Handle = typename Files::Handle;

  // Makes the ends `options` asks for; false when one cannot be made.
  bool Open(const RunOptions& options);

  // Once the child has started: closes the runner's copies of the child's
  // ends, so that the runner sees the end of data on every pipe, but keeps
  // a file that is the child's standard output in output_file, to be read
  // back once the child has ended.
  void CloseChildEnds(const RunOptions& options) {
    stdin_child.Reset();
    if (options.output == ChildOutput::kFile) {
      output_file = std::move(stdout_child);
    }
    stdout_child.Reset();
  }

  Handle stdin_child;     // none: the child's descriptor 0 is closed
  Handle stdin_feed;      // with ChildInput::kPipe, the end the runner feeds
  Handle stdout_child;    // none: the child's descriptor 1 is closed
  Handle stdout_capture;  // with ChildOutput::kPipe, the end the runner reads
  Handle output_file;     // see CloseChildEnds
};

template <typename Files>
bool ChildStreams<Files>::Open(const RunOptions& options) {
  switch (options.input) {
    case ChildInput::kPipe:
      if (!Files::MakePipe(&stdin_child, &stdin_feed)) return false;
      break;
    case ChildInput::kFile:
      if (!options.stdin_path.empty()) {
        stdin_child = Files::OpenToRead(options.stdin_path);
      } else {
        stdin_child = Files::MakeScratchFile();
        if (stdin_child.valid() &&
            (!Files::WriteAll(stdin_child, options.stdin_bytes) ||
             !Files::Rewind(stdin_child))) {
          return false;
        }
      }
      if (!stdin_child.valid()) return false;
      break;
    case ChildInput::kDevNull:
      stdin_child = Files::OpenToRead(Files::kNullDevice);
      break;
    case ChildInput::kClosed:
      break;
  }

  switch (options.output) {
    case ChildOutput::kPipe:
      if (!Files::MakePipe(&stdout_capture, &stdout_child)) return false;
      break;
    case ChildOutput::kFile:
      stdout_child =
          options.stdout_path.empty()
              ? Files::MakeScratchFile()
              : Files::OpenToWrite(options.stdout_path, options.stdout_append);
      if (!stdout_child.valid()) return false;
      break;
    case ChildOutput::kReaderGone: {
      Handle reader;
      if (!Files::MakePipe(&reader, &stdout_child)) return false;
      break;  // `reader` closes here, before the child exists
    }
    case ChildOutput::kClosed:
      break;
  }
  return true;
}

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_CHILD_STREAMS_H_

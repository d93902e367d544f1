// The child's standard input and output as RunOptions asks for them, made
// the same way by both process runners (binary_runner.cpp and
// binary_runner_windows.cpp). Only the calls that make a pipe or open a file
// differ between the platforms; each runner passes them in as `Files`:
//
//   Files::Handle            owns one descriptor or handle, moves, tells
//                            with valid() whether it holds one and closes
//                            it with Reset()
//   Files::kNullDevice       the name of the device that reads as empty
//   Files::MakePipe(Handle* read_end, Handle* write_end) -> bool
//   Files::OpenToRead(const std::string& path) -> Handle
//   Files::OpenToWrite(const std::string& path, bool append) -> Handle,
//                            opened as a shell's `>` opens it (created or
//                            emptied), or as `>>` does (appended to)
//   Files::MakeScratchFile() -> Handle, a file for reading and writing that
//                            goes away with its last handle
//   Files::WriteAll(const Handle&, const std::string& bytes) -> bool
//   Files::Rewind(const Handle&) -> bool, back to the start of the file
//
// Files makes no handle that a child would inherit (each is close-on-exec,
// or not inheritable): each runner hands the child its ends in its own way,
// and a child must receive no other.

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

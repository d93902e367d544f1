// The files of a sort run: the inputs and the output as the command line
// (or the prompt) names them, the refusals that keep a run from destroying
// a file it needs, and the order in which they are opened: the output
// first, created when missing but emptied only once every input is open, so
// that a mistyped input name costs no earlier sorted copy.

#ifndef MLFSORT_RUN_RUN_FILES_H_
#define MLFSORT_RUN_RUN_FILES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "process/process_frame.h"
#include "textio/text_stream.h"

namespace mlfsort {

struct RunNames {
  // Where the sorted lines go.
  enum class Output {
    kDerived,         // the file named after the input (OutputNameFor)
    kNamed,           // the file -o names
    kStandardOutput,  // -o -: standard output, and nothing else goes there
    kNone,            // --check: nowhere
  };

  // The inputs in the order they are read; "" is standard input.
  std::vector<std::string> inputs;
  Output output_kind = Output::kDerived;
  // The output file's name, for kDerived and kNamed.
  std::string output;

  bool writes_a_file() const {
    return output_kind == Output::kDerived || output_kind == Output::kNamed;
  }
};

// How messages name input `name`: "standard input" for "".
std::string ShownInputName(std::string_view name);

// Refuses, before anything is created or emptied, names that no platform
// call may see (a zero byte, or longer than the platform takes: cut short,
// they would designate another file), then a run that would destroy a file
// it needs: an output that is an input (under any name), an output or an
// input behind standard output, an output behind standard input when that
// is an input, and any of them behind standard error (then nothing at all
// is written there). Each refusal is the sharing conflict an open would
// meet, "I/O error 32.", with its reason on standard error.
void RefuseConflictingFiles(Process& process, const RunNames& names);

// The open files of a run. Every open is followed by the failure check.
class RunFiles {
 public:
  // Opens the output for writing without emptying it (created when
  // missing), then each input in order (standard input is the process's
  // standard input stream, which may have given the name line already),
  // then empties the output. Every stream takes `convention`.
  RunFiles(Process& process, const RunNames& names, LineConvention convention);
  RunFiles(const RunFiles&) = delete;
  RunFiles& operator=(const RunFiles&) = delete;

  // The stream the sorted lines go to; only where RunNames has an output.
  TextStream& output() { return output_; }

  std::size_t input_count() const { return inputs_.size(); }
  TextStream& input(std::size_t index) { return *inputs_[index]; }

  // Closes the output, then the inputs in order, each followed by the
  // failure check.
  void Close();

 private:
  bool has_output_;
  TextStream output_;
  // Streams of the named input files; standard input is the process's.
  std::vector<std::unique_ptr<TextStream>> files_;
  std::vector<TextStream*> inputs_;
};

}  // namespace mlfsort

#endif  // MLFSORT_RUN_RUN_FILES_H_

// Command-line options: what a run is asked to do beside sorting its input
// under the derived name.
//
// An argument that begins with "--", anywhere before a lone "--", is an
// option; after a lone "--" every argument is a plain argument. An option
// that takes a value has it as "--name=value" or as the next argument
// ("--name value"). Plain arguments keep the meaning they have without
// options: the first non-empty one is the input name, the rest are ignored.
// A name beginning with a single "-" is a plain argument.
//
// The options are rows of one table (options.cpp), from which both the
// parser and the --help text are made, so the two cannot drift apart. An
// option is added as one row and the field it sets below.

#ifndef MLFSORT_PROCESS_OPTIONS_H_
#define MLFSORT_PROCESS_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "process/process_frame.h"
#include "textio/text_stream.h"

namespace mlfsort {

// What the command line asks for.
struct CommandOptions {
  enum class Action {
    kSort,        // the tool's job, under the options below
    kHelp,        // --help: the help text on standard output, status 0
    kVersion,     // --version: the version text on standard output, status 0
    kUsageError,  // a wrong option: the error on standard error, status 2
  };

  Action action = Action::kSort;
  // The first non-empty plain argument; without one the run asks for it.
  std::optional<std::string> input_name;
  // --output: the name of the sorted copy, instead of the derived one.
  std::optional<std::string> output_name;
  // --lf: how lines end in the input, the output file and on the standard
  // streams.
  LineConvention line_convention = LineConvention::kCr;
  // --entries: sort whole label entries by their first lines rather than
  // single lines, keeping every line.
  bool entries = false;
  // --threads: how many threads the sort may use (1: all on one thread).
  // The sort chooses when the command line does not say.
  std::optional<int> threads;
  // kUsageError: what is wrong, such as "unrecognized option '--x'".
  std::string usage_error;
};

// Parses `arguments`, the arguments after the program's name. Stops at the
// first option that asks for help, the version or is wrong: the action says
// which.
CommandOptions ParseCommandOptions(const std::vector<std::string>& arguments);

// The options of the process's command line.
CommandOptions ReadCommandOptions(Platform& platform);

// Carries out an action other than kSort and returns true; returns false,
// doing nothing, for kSort. Nothing is read or created: the help or version
// text goes to standard output, which is then written out and checked (a
// failure there ends in the failure report); a usage error goes to standard
// error, whose failure is ignored, and makes the exit status 2.
bool ActWithoutSorting(Process& process, const CommandOptions& options);

// The help text: usage, what the tool does, every option of the table, the
// output-name rule, the exit statuses and where the manual is. Lines end in
// LF.
std::string HelpText();

}  // namespace mlfsort

#endif  // MLFSORT_PROCESS_OPTIONS_H_

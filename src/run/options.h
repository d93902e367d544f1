// Command-line options: what a run is asked to do beside sorting its input
// under the derived name.
//
// Options are read as getopt reads them. Before a lone "--", an argument of
// two or more bytes that begins with "-" is an option: a long option when it
// begins with "--" ("--output"), else a bundle of one-letter short options
// ("-le" is "-l -e"). Every other argument is a plain argument: a lone "-",
// one that does not begin with "-", and every argument after a lone "--";
// so "./-x.mlf" or "-- -x.mlf" name a file "-x.mlf". An option that takes a
// value has it attached
// ("--output=FILE", "-oFILE", at the end of a bundle "-leoFILE") or as the
// next argument ("--output FILE", "-o FILE"). A next argument that looks
// like an option is not taken as the value but is a usage error, so that a
// forgotten value neither names a file after an option nor drops that
// option; such a value is given attached, or as "./-x" for a file. A lone
// "-" is a value like any other.
//
// Plain arguments are names: without -o or -c the first non-empty one is the
// input and the others are ignored (with a warning); with -o or -c every one
// is an input, read in turn. A lone "-" is standard input.
//
// The options are rows of one table (options.cpp), from which both the
// parser and the --help text are made, so the two cannot drift apart. An
// option is added as one row and the field it sets below.

#ifndef MLFSORT_RUN_OPTIONS_H_
#define MLFSORT_RUN_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process/process_frame.h"
#include "textio/text_stream.h"

namespace mlfsort {

// How much memory the held lines may take: bytes, or a share of physical
// memory.
struct BufferSize {
  std::uint64_t amount;  // bytes, or percent (0 to 100)
  bool percent;

  bool operator==(const BufferSize&) const = default;
};

// What the command line asks for.
struct CommandOptions {
  enum class Action {
    kSort,        // the tool's job, under the options below
    kHelp,        // -h, --help: the help text on standard output, status 0
    kVersion,     // -V, --version: the version text on standard output,
                  // status 0
    kUsageError,  // a wrong option: the error on standard error, status 2
  };

  Action action = Action::kSort;
  // The non-empty plain arguments, in order. The first is the input name;
  // without one the run asks for it.
  std::vector<std::string> names;
  // -o, --output: the name of the sorted copy, instead of the derived one;
  // the last of several counts.
  std::optional<std::string> output_name;
  // How many -o or --output were given.
  int outputs_given = 0;
  // -l, --lf: how lines end in the input, the output file and on the standard
  // streams.
  LineConvention line_convention = LineConvention::kCr;
  // -e, --entries: sort whole label entries by their first lines rather than
  // single lines, keeping every line.
  bool entries = false;
  // -c, --check: only check whether sorting would give the input back as
  // it stands; no file is written. Never given with -o, --output.
  bool check = false;
  // --threads: how many threads the sort may use (1: all on one thread).
  // The sort chooses when the command line does not say.
  std::optional<int> threads;
  // -q, --quiet: no warnings are wanted; failures are reported all the same.
  bool quiet = false;
  // -S, --buffer-size: the most memory the held lines and their index may
  // take before sorted runs go to temporary files. The run chooses when the
  // command line does not say.
  std::optional<BufferSize> buffer_size;
  // -T, --temporary-directory: where temporary files go.
  std::optional<std::string> temporary_directory;
  // kUsageError: what is wrong, such as "unrecognized option '--x'" or
  // "invalid option -- 'x'"; one line.
  std::string usage_error;
};

// A size as -S takes it: a whole number followed by nothing (KiB), "b"
// (bytes), "K" or "k" (KiB), "M", "G", "T", "P", "E" (each 1024 times the
// one before), or "%" (of physical memory, at most 100). Nothing when
// `text` is none of these or the size does not fit 64 bits.
std::optional<BufferSize> ParseBufferSize(std::string_view text);

// Parses `arguments`, the arguments after the program's name. Stops at the
// first option that asks for help, the version or is wrong: the action says
// which. An option is wrong, too, when it makes -c and -o given together.
CommandOptions ParseCommandOptions(const std::vector<std::string>& arguments);

// The options of the process's command line.
CommandOptions ReadCommandOptions(Platform& platform);

// Carries out an action other than kSort and returns true; returns false,
// doing nothing, for kSort. Nothing is read or created: the help or version
// text goes to standard output, which is then written out and checked (a
// failure there ends in the failure report); a usage error goes to standard
// error, whose failure is ignored, and makes the exit status 2.
bool ActWithoutSorting(Process& process, const CommandOptions& options);

// Ends the run with a usage error: "mlfsort: <what>" and the line that
// points to --help on standard error (a failure there is ignored), and exit
// status 2. Nothing is read or created.
void EndWithUsageError(Process& process, std::string_view what);

// The help text: usage, what the tool does, every option of the table, the
// output-name rule, the exit statuses and where the manual is. Lines end in
// LF.
std::string HelpText();

}  // namespace mlfsort

#endif  // MLFSORT_RUN_OPTIONS_H_

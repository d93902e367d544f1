#include "run/options.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include "failure/failure_check.h"
#include "process/command_line.h"
#include "textio/pending_io_error.h"

#ifndef MLFSORT_VERSION
#error "MLFSORT_VERSION must be defined by the build (the project version)"
#endif

namespace mlfsort {
namespace {

// One option: its short letter ('\0' for none), its long name without the
// leading "--", the name of its value in the help text (empty for an option
// without a value), its description in the help text, and how it is
// recorded. `record` returns false when the value is not one the option
// takes.
struct OptionRow {
  char letter;
  std::string_view name;
  std::string_view value_name;
  std::string_view description;
  bool (*record)(std::string_view value, CommandOptions* options);
};

constexpr char kNoLetter = '\0';
// The value name of options whose value is a file name.
constexpr std::string_view kFileValue = "FILE";
constexpr std::string_view kDirectoryValue = "DIR";

constexpr OptionRow kOptionTable[] = {
    {'l', "lf", "", "lines end at LF, CR LF or CR; written lines end in LF",
     [](std::string_view, CommandOptions* options) {
       options->line_convention = LineConvention::kLf;
       return true;
     }},
    {'e', "entries", "", "sort whole label entries by their first lines",
     [](std::string_view, CommandOptions* options) {
       options->entries = true;
       return true;
     }},
    {'c', "check", "", "check whether the input is sorted; write nothing",
     [](std::string_view, CommandOptions* options) {
       options->check = true;
       return true;
     }},
    {'o', "output", kFileValue,
     "write the sorted copy to FILE, not the derived name",
     [](std::string_view value, CommandOptions* options) {
       options->output_name = std::string(value);
       ++options->outputs_given;
       return true;
     }},
    {kNoLetter, "threads", "N",
     "sort with at most N threads; 1 keeps all work on one",
     [](std::string_view value, CommandOptions* options) {
       int threads = 0;
       const auto [end, error] =
           std::from_chars(value.data(), value.data() + value.size(), threads);
       if (error != std::errc() || end != value.data() + value.size() ||
           threads < 1) {
         return false;
       }
       options->threads = threads;
       return true;
     }},
    {'S', "buffer-size", "SIZE",
     "hold up to SIZE of lines, then sort via temporary files",
     [](std::string_view value, CommandOptions* options) {
       const std::optional<BufferSize> size = ParseBufferSize(value);
       if (!size) return false;
       options->buffer_size = *size;
       return true;
     }},
    {'T', "temporary-directory", "DIR",
     "put temporary files in DIR, not $TMPDIR or /tmp",
     [](std::string_view value, CommandOptions* options) {
       options->temporary_directory = std::string(value);
       return true;
     }},
    {'q', "quiet", "", "write no warnings (failures are always reported)",
     [](std::string_view, CommandOptions* options) {
       options->quiet = true;
       return true;
     }},
    {'h', "help", "", "display this help and exit",
     [](std::string_view, CommandOptions* options) {
       options->action = CommandOptions::Action::kHelp;
       return true;
     }},
    {'V', "version", "", "output version information and exit",
     [](std::string_view, CommandOptions* options) {
       options->action = CommandOptions::Action::kVersion;
       return true;
     }},
};

constexpr std::string_view kLongPrefix = "--";
constexpr std::string_view kEndOfOptions = "--";

constexpr std::string_view kHelpHead =
    "Usage: mlfsort [OPTION]... [FILE]...\n"
    "Write a sorted copy of the master label file FILE. Empty lines and lines\n"
    "beginning with '#' are copied at once; every other line is held, and one\n"
    "line per sort key (bytes 3 to 101, ignoring letter case) is written in\n"
    "key order, the last one read of each key.\n"
    "\n"
    "When FILE is -, read standard input. Without FILE, ask for its name (an\n"
    "empty name reads standard input).\n"
    "\n"
    "Mandatory arguments to long options are mandatory for short options "
    "too.\n";

constexpr std::string_view kHelpTail =
    "\n"
    "Without --lf, lines end at CR or CR LF (an LF alone is part of the line,\n"
    "so a file with LF line ends is one line), byte 26 ends the input, and\n"
    "written lines end in CR LF.\n"
    "\n"
    "With --entries, each label entry (its name line through the next line "
    "that\n"
    "is exactly '.') stays whole and no line is dropped: entries are written\n"
    "after the copied lines, in the key order of their first lines (the whole\n"
    "line from its third byte), entries of equal keys in input order. Between\n"
    "entries, empty lines, lines beginning with '#' and subdirectory lines (a\n"
    "pattern, then '->' or '=>') are copied at once.\n"
    "\n"
    "The sorted copy is named after FILE up to and including its first '.',\n"
    "followed by 'srt' (train.mlf gives train.srt, labels gives srt), unless "
    "-o\n"
    "names it (the last of several -o counts). It is created when missing\n"
    "before FILE is opened, and emptied only once every input is open. A run\n"
    "that would write over an input, or whose standard output or standard\n"
    "error leads to an input or to the copy, is refused with I/O error 32.\n"
    "\n"
    "With -o - the sorted copy goes to standard output, which then carries "
    "the\n"
    "sorted lines and nothing else; a failure report goes to standard error,\n"
    "and FILE must be given. With -o, every FILE is an input: all are read in\n"
    "order as one, a '#!MLF!#' line that begins a later one left out. Without\n"
    "-o, FILEs after the first are ignored.\n"
    "\n"
    "With --check, every FILE (one at least) is read as a sort would read it,\n"
    "and nothing is written: the exit status is 0 when sorting would give "
    "back\n"
    "the same lines in the same order, else 1, with the first line that\n"
    "differs named on standard error; 2 after a failure, whose report goes to\n"
    "standard error.\n"
    "\n"
    "-S SIZE is the most memory the held lines and their index may take: a\n"
    "number of KiB, or a number followed by b, K, M, G, T, P or E (each 1024\n"
    "times the one before) or by % (of physical memory); never less than 64K.\n"
    "Without -S, half of physical memory, at most half of what the process\n"
    "may take. Past it, the held lines go as sorted runs to temporary files,\n"
    "which have no name, in DIR (else $TMPDIR, else /tmp; on Windows, the\n"
    "user's temporary directory), merged at the end: the output is the same.\n"
    "\n"
    "Warnings and notes (lines dropped, LF bytes read as part of a line,\n"
    "ignored arguments, several -o, a surprising output name) go to standard\n"
    "error as the run ends, each on a line beginning 'mlfsort: '; -q leaves\n"
    "them out. A failure is told there too, naming what failed and why,\n"
    "whatever -q says.\n"
    "\n"
    "Short options may be bundled (-le). An argument beginning with '-' is an\n"
    "option, except '-' alone, until a lone '--', after which every argument "
    "is\n"
    "a name: write ./-x.mlf or -- -x.mlf for a file named -x.mlf. A value "
    "given\n"
    "as the next argument must not begin with '-' unless it is '-' alone: "
    "write\n"
    "-o ./-x.srt, or attach it (-o-x.srt, --output=-x.srt).\n"
    "\n"
    "Exit status:\n"
    "   0  the sorted copy was written completely; with -c, the input is "
    "sorted\n"
    "   1  a failure, reported on standard output (with -o -, on standard\n"
    "      error) and on standard error; with -c, the input is not sorted\n"
    "   2  a usage error; with -c, also a failure\n"
    " 203  memory ran out as the process started\n"
    "\n"
    "Full documentation: man mlfsort\n";

constexpr std::string_view kVersionText =
    "mlfsort " MLFSORT_VERSION
    "\n"
    "Copyright 2026 mlfsort developers\n"
    "License Apache-2.0: Apache License, Version 2.0\n"
    "<https://www.apache.org/licenses/LICENSE-2.0>\n";

constexpr std::string_view kTryHelp =
    "Try 'mlfsort --help' for more information.\n";

const OptionRow* FindLongOption(std::string_view name) {
  const auto row = std::ranges::find(
      kOptionTable, name, [](const OptionRow& option) { return option.name; });
  return row == std::end(kOptionTable) ? nullptr : row;
}

const OptionRow* FindShortOption(char letter) {
  if (letter == kNoLetter) return nullptr;
  const auto row =
      std::ranges::find(kOptionTable, letter,
                        [](const OptionRow& option) { return option.letter; });
  return row == std::end(kOptionTable) ? nullptr : row;
}

// An option or a bundle of them; a lone "-" is a name.
bool LooksLikeOption(std::string_view argument) {
  return argument.size() >= 2 && argument.front() == '-';
}

CommandOptions UsageError(std::string what) {
  CommandOptions options;
  options.action = CommandOptions::Action::kUsageError;
  options.usage_error = std::move(what);
  return options;
}

// The error for a value left out before an argument, `next`, that looks
// like an option, with the way to give `next` as the value after all: a
// file name as a path, any other value attached.
std::string ValueLooksLikeOption(const OptionRow& option, bool is_long,
                                 const std::string& written,
                                 std::string_view next) {
  const bool is_file =
      option.value_name == kFileValue || option.value_name == kDirectoryValue;
  std::string escape = written;
  if (is_file) {
    escape += " ./";
  } else if (is_long) {
    escape += '=';
  }
  escape += next;
  return "option '" + written + "' requires an argument; '" +
         std::string(next) + "' looks like an option (write " + escape +
         (is_file ? " for a file of that name)" : " to give it as the value)");
}

// Records `option`, written as `written` ("--output" or "-o"). Its value, if
// it takes one, is `attached` or else the next argument, which `index` then
// passes. Returns the usage error, or "" when there is none.
std::string RecordOption(const OptionRow& option, const std::string& written,
                         std::optional<std::string_view> attached,
                         const std::vector<std::string>& arguments,
                         std::size_t& index, CommandOptions& options) {
  const bool is_long = written.starts_with(kLongPrefix);
  std::string_view value = attached.value_or("");
  if (option.value_name.empty()) {
    if (attached) return "option '" + written + "' doesn't allow an argument";
  } else {
    if (!attached && index + 1 < arguments.size()) {
      value = arguments[index + 1];
      if (LooksLikeOption(value)) {
        return ValueLooksLikeOption(option, is_long, written, value);
      }
      ++index;
    }
    // An empty value names nothing (as a file name it would stand for
    // standard output).
    if (value.empty()) {
      return is_long
                 ? "option '" + written + "' requires an argument"
                 : "option requires an argument -- '" + written.substr(1) + "'";
    }
  }
  if (!option.record(value, &options)) {
    return "invalid argument '" + std::string(value) + "' for '" + written +
           "'";
  }
  return "";
}

// Whether parsing ends after an option: on `error`, which then becomes the
// result, when the option completes a pair that cannot be combined, or when
// it asked for help or the version.
bool EndsParsing(std::string error, CommandOptions& options) {
  // A check writes no file, so a name for one is a mistake.
  if (error.empty() && options.check && options.outputs_given > 0) {
    error = "options '-c' and '-o' cannot be combined";
  }
  if (!error.empty()) options = UsageError(std::move(error));
  return options.action != CommandOptions::Action::kSort;
}

// Records the long option arguments[index], "--name" or "--name=VALUE".
// Returns whether parsing ends there.
bool ParseLongOption(const std::vector<std::string>& arguments,
                     std::size_t& index, CommandOptions& options) {
  const std::string_view body =
      std::string_view(arguments[index]).substr(kLongPrefix.size());
  const std::size_t equals = body.find('=');
  const OptionRow* option = FindLongOption(body.substr(0, equals));
  if (option == nullptr) {
    return EndsParsing("unrecognized option '" + arguments[index] + "'",
                       options);
  }
  std::optional<std::string_view> attached;
  if (equals != std::string_view::npos) attached = body.substr(equals + 1);
  const std::string written =
      std::string(kLongPrefix) + std::string(option->name);
  return EndsParsing(
      RecordOption(*option, written, attached, arguments, index, options),
      options);
}

// Records the bundle of short options arguments[index], such as "-le" or
// "-leoFILE". Returns whether parsing ends there.
bool ParseShortOptions(const std::vector<std::string>& arguments,
                       std::size_t& index, CommandOptions& options) {
  const std::string_view bundle = arguments[index];
  for (std::size_t at = 1; at < bundle.size(); ++at) {
    const char letter = bundle[at];
    const OptionRow* option = FindShortOption(letter);
    if (option == nullptr) {
      return EndsParsing(std::string("invalid option -- '") + letter + "'",
                         options);
    }
    // A value ends the bundle: the rest of it, if any, is the value.
    std::optional<std::string_view> attached;
    if (!option->value_name.empty() && at + 1 < bundle.size()) {
      attached = bundle.substr(at + 1);
    }
    if (EndsParsing(RecordOption(*option, {'-', letter}, attached, arguments,
                                 index, options),
                    options)) {
      return true;
    }
    if (attached) break;
  }
  return false;
}

// "-o, --output=FILE", or "    --threads=N" for an option without a short
// letter, as the help text shows the option.
std::string Synopsis(const OptionRow& option) {
  std::string synopsis;
  if (option.letter == kNoLetter) {
    synopsis = "    ";
  } else {
    synopsis = {'-', option.letter, ',', ' '};
  }
  synopsis += kLongPrefix;
  synopsis += option.name;
  if (!option.value_name.empty()) {
    synopsis += '=';
    synopsis += option.value_name;
  }
  return synopsis;
}

}  // namespace

std::optional<BufferSize> ParseBufferSize(std::string_view text) {
  std::uint64_t amount = 0;
  const auto [end, error] =
      std::from_chars(text.data(), text.data() + text.size(), amount);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  const std::string_view suffix(end, text.data() + text.size() - end);
  if (suffix == "%") {
    if (amount > 100) return std::nullopt;
    return BufferSize{amount, true};
  }
  // No suffix counts in KiB; each letter is 1024 times the one before.
  static constexpr std::string_view kSuffixes = "bKMGTPE";
  std::size_t power = 1;
  if (suffix.size() == 1) {
    const char letter = suffix[0] == 'k' ? 'K' : suffix[0];
    power = kSuffixes.find(letter);
    if (power == std::string_view::npos) return std::nullopt;
  } else if (!suffix.empty()) {
    return std::nullopt;
  }
  for (std::size_t step = 0; step < power; ++step) {
    if (amount > UINT64_MAX / 1024) return std::nullopt;
    amount *= 1024;
  }
  return BufferSize{amount, false};
}

CommandOptions ParseCommandOptions(const std::vector<std::string>& arguments) {
  CommandOptions options;
  bool options_ended = false;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (options_ended || !LooksLikeOption(argument)) {
      if (!argument.empty()) options.names.push_back(argument);
    } else if (argument == kEndOfOptions) {
      options_ended = true;
    } else if (argument.starts_with(kLongPrefix)
                   ? ParseLongOption(arguments, index, options)
                   : ParseShortOptions(arguments, index, options)) {
      return options;
    }
  }
  return options;
}

CommandOptions ReadCommandOptions(Platform& platform) {
  return ParseCommandOptions(ArgumentsAfterName(platform.GetCommandLine()));
}

std::string HelpText() {
  // Descriptions start in one column, wrapped at blanks to end by column
  // 79; a synopsis too long for that column has its description on the
  // next line.
  constexpr std::size_t kLongestInline = 20;
  constexpr std::size_t kWidth = 79;
  std::size_t column = 0;
  for (const OptionRow& option : kOptionTable) {
    const std::size_t size = Synopsis(option).size();
    if (size <= kLongestInline) column = std::max(column, size);
  }
  column += 4;
  std::string text(kHelpHead);
  for (const OptionRow& option : kOptionTable) {
    const std::string synopsis = "  " + Synopsis(option);
    text += synopsis;
    std::size_t at = synopsis.size();
    if (at + 2 > column) {
      text += '\n';
      at = 0;
    }
    text.append(column - at, ' ');
    at = column;
    std::string_view rest = option.description;
    while (!rest.empty()) {
      std::size_t take = rest.size();
      if (at + take > kWidth) {
        take = rest.rfind(' ', kWidth - at);
        if (take == std::string_view::npos) take = rest.find(' ');
        if (take == std::string_view::npos) take = rest.size();
      }
      text += rest.substr(0, take);
      rest.remove_prefix(std::min(rest.size(), take + 1));
      if (!rest.empty()) {
        text += '\n';
        text.append(column, ' ');
      }
    }
    text += '\n';
  }
  text += kHelpTail;
  return text;
}

void EndWithUsageError(Process& process, std::string_view what) {
  TextStream& standard_error = process.streams.error;
  standard_error.WriteText("mlfsort: ");
  standard_error.WriteText(what);
  standard_error.WriteText("\n");
  standard_error.WriteText(kTryHelp);
  standard_error.EndOfWrite();
  // When standard error cannot take the message, the exit status still
  // tells the caller.
  TakePendingIoError();
  process.exit_status = 2;
}

bool ActWithoutSorting(Process& process, const CommandOptions& options) {
  TextStream& standard_output = process.streams.output;
  switch (options.action) {
    case CommandOptions::Action::kSort:
      return false;
    case CommandOptions::Action::kHelp:
      standard_output.WriteText(HelpText());
      break;
    case CommandOptions::Action::kVersion:
      standard_output.WriteText(kVersionText);
      break;
    case CommandOptions::Action::kUsageError:
      EndWithUsageError(process, options.usage_error);
      return true;
  }
  // The text must reach standard output, or the run fails like any other
  // whose output is lost (a full disk, for example).
  standard_output.Close();
  CheckIo();
  return true;
}

}  // namespace mlfsort

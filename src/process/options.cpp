#include "process/options.h"

#include <algorithm>
#include <charconv>
#include <iterator>
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

// One option: its name without the leading "--", the name of its value in
// the help text (empty for an option without a value), its description in
// the help text, and how it is recorded. `record` returns false when the
// value is not one the option takes.
struct OptionRow {
  std::string_view name;
  std::string_view value_name;
  std::string_view description;
  bool (*record)(std::string_view value, CommandOptions* options);
};

constexpr OptionRow kOptionTable[] = {
    {"lf", "", "lines end at LF, CR LF or CR; written lines end in LF",
     [](std::string_view, CommandOptions* options) {
       options->line_convention = LineConvention::kLf;
       return true;
     }},
    {"entries", "", "sort whole label entries by their first lines",
     [](std::string_view, CommandOptions* options) {
       options->entries = true;
       return true;
     }},
    {"output", "FILE", "write the sorted copy to FILE, not the derived name",
     [](std::string_view value, CommandOptions* options) {
       options->output_name = std::string(value);
       return true;
     }},
    {"threads", "N", "sort with at most N threads; 1 keeps all work on one",
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
    {"help", "", "display this help and exit",
     [](std::string_view, CommandOptions* options) {
       options->action = CommandOptions::Action::kHelp;
       return true;
     }},
    {"version", "", "output version information and exit",
     [](std::string_view, CommandOptions* options) {
       options->action = CommandOptions::Action::kVersion;
       return true;
     }},
};

constexpr std::string_view kOptionPrefix = "--";

constexpr std::string_view kHelpHead =
    "Usage: mlfsort [OPTION]... [FILE]\n"
    "Write a sorted copy of the master label file FILE (without FILE, ask for\n"
    "its name; an empty name reads standard input). Empty lines and lines\n"
    "beginning with '#' are copied at once; every other line is held, and one\n"
    "line per sort key (bytes 3 to 101, ignoring letter case) is written in\n"
    "key order, the last one read of each key.\n"
    "\n";

constexpr std::string_view kHelpTail =
    "\n"
    "Without --lf, lines end at CR or CR LF (an LF alone is part of the line,\n"
    "so a file with LF line ends is one line), byte 26 ends the input, and\n"
    "written lines end in CR LF.\n"
    "\n"
    "With --entries, each label entry (its name line through the next line "
    "that\n"
    "is exactly '.') stays whole and no line is dropped: entries are written\n"
    "after the copied lines, in the key order of their first lines, entries "
    "of\n"
    "equal keys in input order. Between entries, empty lines, lines beginning\n"
    "with '#' and subdirectory lines (a pattern, then '->' or '=>') are "
    "copied\n"
    "at once.\n"
    "\n"
    "The sorted copy is named after FILE up to and including its first '.',\n"
    "followed by 'srt' (train.mlf gives train.srt, labels gives srt). It is\n"
    "created or emptied before FILE is opened, and never over FILE itself.\n"
    "\n"
    "Exit status:\n"
    " 0  the sorted copy was written completely\n"
    " 1  a failure, reported on standard output\n"
    " 2  a wrong option\n"
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

const OptionRow* FindOption(std::string_view name) {
  const auto row = std::ranges::find(
      kOptionTable, name, [](const OptionRow& option) { return option.name; });
  return row == std::end(kOptionTable) ? nullptr : row;
}

CommandOptions UsageError(std::string what) {
  CommandOptions options;
  options.action = CommandOptions::Action::kUsageError;
  options.usage_error = std::move(what);
  return options;
}

// "--name" or "--name=VALUE", as the help text shows the option.
std::string Synopsis(const OptionRow& option) {
  std::string synopsis(kOptionPrefix);
  synopsis += option.name;
  if (!option.value_name.empty()) {
    synopsis += '=';
    synopsis += option.value_name;
  }
  return synopsis;
}

}  // namespace

CommandOptions ParseCommandOptions(const std::vector<std::string>& arguments) {
  CommandOptions options;
  bool options_ended = false;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& argument = arguments[index];
    if (options_ended || !argument.starts_with(kOptionPrefix)) {
      if (!options.input_name && !argument.empty()) {
        options.input_name = argument;
      }
      continue;
    }
    if (argument == kOptionPrefix) {
      options_ended = true;
      continue;
    }
    const std::string_view body =
        std::string_view(argument).substr(kOptionPrefix.size());
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    const OptionRow* option = FindOption(name);
    if (option == nullptr) {
      return UsageError("unrecognized option '" + argument + "'");
    }
    const std::string quoted_name = "'--" + std::string(name) + "'";
    std::optional<std::string_view> value;
    if (equals != std::string_view::npos) value = body.substr(equals + 1);
    if (option->value_name.empty()) {
      if (value) {
        return UsageError("option " + quoted_name +
                          " doesn't allow an argument");
      }
    } else {
      // As with --name=VALUE, the next argument is the value whatever it
      // looks like.
      if (!value && index + 1 < arguments.size()) value = arguments[++index];
      // An empty value names nothing (as a file name it would stand for
      // standard output).
      if (!value || value->empty()) {
        return UsageError("option " + quoted_name + " requires an argument");
      }
    }
    if (!option->record(value.value_or(""), &options)) {
      return UsageError("invalid argument '" + std::string(value.value_or("")) +
                        "' for " + quoted_name);
    }
    if (options.action != CommandOptions::Action::kSort) return options;
  }
  return options;
}

CommandOptions ReadCommandOptions(Platform& platform) {
  return ParseCommandOptions(ArgumentsAfterName(platform.GetCommandLine()));
}

std::string HelpText() {
  std::size_t column = 0;
  for (const OptionRow& option : kOptionTable) {
    column = std::max(column, Synopsis(option).size());
  }
  std::string text(kHelpHead);
  for (const OptionRow& option : kOptionTable) {
    const std::string synopsis = Synopsis(option);
    text += "  ";
    text += synopsis;
    text.append(column - synopsis.size() + 2, ' ');
    text += option.description;
    text += '\n';
  }
  text += kHelpTail;
  return text;
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
    case CommandOptions::Action::kUsageError: {
      TextStream& standard_error = process.streams.error;
      standard_error.WriteText("mlfsort: ");
      standard_error.WriteText(options.usage_error);
      standard_error.WriteText("\n");
      standard_error.WriteText(kTryHelp);
      standard_error.EndOfWrite();
      // When standard error cannot take the message, the exit status still
      // tells the caller.
      TakePendingIoError();
      process.exit_status = 2;
      return true;
    }
  }
  // The text must reach standard output, or the run fails like any other
  // whose output is lost (a full disk, for example).
  standard_output.Close();
  CheckIo();
  return true;
}

}  // namespace mlfsort

#include "run/sort_run.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "failure/failure_check.h"
#include "failure/failure_words.h"
#include "index/line_store.h"
#include "index/sorted_key_index.h"
#include "index/sorted_line_reader.h"
#include "labels/label_entries.h"
#include "labels/order_check.h"
#include "order/collation_key_order.h"
#include "order/key_order.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "run/options.h"
#include "run/run_files.h"
#include "run/run_modes.h"
#include "run/run_warnings.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

constexpr std::string_view kPrompt = "Enter MLF file to sort: ";
// As a name: standard input; as the output's name: standard output.
constexpr std::string_view kStandardStreamName = "-";

// The name typed after the prompt.
std::string InputName(Process& process) {
  TextStream& standard_output = process.streams.output;
  TextStream& standard_input = process.streams.input;
  standard_output.WriteText(kPrompt);
  standard_output.EndOfWrite();
  CheckIo();
  std::string name;
  standard_input.ReadLine(&name);
  standard_input.SkipLineEnd();
  CheckIo();
  return name;
}

// The platform's locale collation where it has one, else the portable order.
class RunKeyOrder {
 public:
  explicit RunKeyOrder(Platform& platform) {
    if (const LocaleCollation* collation = platform.Collation()) {
      locale_order_.emplace(*collation);
    }
  }
  const KeyOrder& get() const {
    return locale_order_ ? static_cast<const KeyOrder&>(*locale_order_)
                         : PortableKeyOrder::Instance();
  }

 private:
  std::optional<CollationKeyOrder> locale_order_;
};

// Threads the run may use: as the options say, else both cores where there
// are two or more. More than two use no more.
int ThreadsFor(const CommandOptions& options) {
  if (options.threads) return *options.threads;
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

// The names of the run's files: the inputs (the first name, or with -o
// every name; "-" is standard input; without a name, the one typed after
// the prompt) and the output. Writes the empty line that follows the name
// where standard output is not the result, and warns of names left unread
// and of several outputs. Nothing, after a usage error, when a name is
// needed but standard output may carry no prompt, or "-" comes twice.
std::optional<RunNames> NameTheFiles(Process& process,
                                     const CommandOptions& options) {
  RunNames names;
  if (options.check) {
    // Nothing goes to standard output, and a failure is told from disorder
    // by its status.
    names.output_kind = RunNames::Output::kNone;
    process.report_on_standard_error = true;
    process.failure_status = 2;
  } else if (options.output_name == kStandardStreamName) {
    names.output_kind = RunNames::Output::kStandardOutput;
  } else if (options.output_name) {
    names.output_kind = RunNames::Output::kNamed;
    names.output = *options.output_name;
  }
  if (options.names.empty() &&
      (names.output_kind == RunNames::Output::kStandardOutput ||
       names.output_kind == RunNames::Output::kNone)) {
    EndWithUsageError(process,
                      "no input named (FILE, or - for standard input)");
    return std::nullopt;
  }
  const bool all_are_inputs = names.output_kind != RunNames::Output::kDerived;
  if (options.names.empty()) {
    names.inputs.push_back(InputName(process));
  } else {
    const std::size_t count = all_are_inputs ? options.names.size() : 1;
    for (std::size_t at = 0; at < count; ++at) {
      const std::string& name = options.names[at];
      const bool standard_input = name == kStandardStreamName;
      if (standard_input && std::ranges::find(names.inputs, std::string()) !=
                                names.inputs.end()) {
        EndWithUsageError(process,
                          "standard input ('-') is named more than once");
        return std::nullopt;
      }
      names.inputs.push_back(standard_input ? std::string() : name);
    }
    if (!all_are_inputs && options.names.size() > 1) {
      process.diagnostics.Add(IgnoredArgumentsWarning(
          std::span<const std::string>(options.names).subspan(1)));
    }
  }
  if (names.output_kind == RunNames::Output::kStandardOutput) {
    // Standard output carries the sorted lines and nothing else.
    process.report_on_standard_error = true;
    process.standard_output_is_the_result = true;
  } else if (names.output_kind != RunNames::Output::kNone) {
    process.streams.output.WriteLineEnd();
    CheckIo();
  }
  if (names.output_kind == RunNames::Output::kDerived) {
    names.output = OutputNameFor(names.inputs.front());
  }
  if (options.outputs_given > 1) {
    process.diagnostics.Add(
        SeveralOutputsWarning(options.outputs_given, *options.output_name));
  }
  return names;
}

// Reads every input into `mode`, a later input's repeated header left
// out, and warns of lines that hold an LF byte under the CR convention.
template <typename Mode>
void TakeTheInputs(Process& process, const RunNames& names, RunFiles& files,
                   Mode& mode) {
  std::string long_line;
  for (std::size_t at = 0; at < files.input_count() && !mode.Done(); ++at) {
    TextStream& input = files.input(at);
    mode.StartInput(ShownInputName(names.inputs[at]));
    // Standard input may have given the name line already.
    const std::uint64_t line_feeds_before = input.LinesHoldingLineFeeds();
    if (at > 0) TakeFirstLineOfALaterInput(input, mode, &long_line);
    TakeEveryLine(input, mode, &long_line);
    const std::uint64_t line_feeds =
        input.LinesHoldingLineFeeds() - line_feeds_before;
    if (line_feeds > 0) {
      process.diagnostics.Add(LineFeedsWarning(line_feeds, names.inputs[at]));
    }
  }
}

// The most memory the held lines and their index may take: what -S says
// (a share of physical memory with "%"), else half of physical memory and
// a quarter of the memory the process may take in all (the index reserves
// room ahead, and the rest of the process needs some). Never below
// kLeastBudget.
std::uint64_t MemoryBudget(Platform& platform, const CommandOptions& options) {
  constexpr std::uint64_t kLeastBudget = 64 * 1024;
  const std::uint64_t physical = platform.PhysicalMemoryBytes();
  std::uint64_t budget = UINT64_MAX;
  if (options.buffer_size && options.buffer_size->percent) {
    budget = physical / 100 * options.buffer_size->amount;
  } else if (options.buffer_size) {
    budget = options.buffer_size->amount;
  } else {
    if (physical > 0) budget = physical / 2;
    budget = std::min(budget, platform.MemoryLimitBytes() / 4);
  }
  return std::max(budget, kLeastBudget);
}

// Holds every line of the inputs, and writes the held lines in key order
// after the lines that pass through.
void SortInto(Process& process, const CommandOptions& options,
              const RunNames& names, RunFiles& files) {
  Platform& platform = process.platform;
  TextStream& output = files.output();
  const RunKeyOrder order(platform);
  HeldLines::Settings settings;
  settings.entries = options.entries;
  settings.convention = options.line_convention;
  settings.threaded = ThreadsFor(options) > 1;
  settings.memory_budget = MemoryBudget(platform, options);
  settings.temporary_directory =
      options.temporary_directory.value_or(platform.TemporaryDirectory());
  HeldLines held(platform, order.get(), std::move(settings));
  if (options.entries) {
    EntryMode mode(output, held);
    TakeTheInputs(process, names, files, mode);
    held.WriteSorted(output);
    return;
  }
  LineMode mode(output, held);
  TakeTheInputs(process, names, files, mode);
  const std::uint64_t written = held.WriteSorted(output);
  const std::uint64_t sortable = mode.sortable_lines();
  if (written < sortable) {
    process.diagnostics.Add(DroppedLinesWarning(sortable - written, sortable));
  }
}

// Checks whether sorting would give the inputs back as they stand: status
// 0 when it would, else 1 and the first difference on standard error.
void CheckTheOrder(Process& process, const CommandOptions& options,
                   const RunNames& names, RunFiles& files) {
  const RunKeyOrder order(process.platform);
  OrderCheck check(order.get(), options.entries);
  CheckMode mode(check);
  TakeTheInputs(process, names, files, mode);
  if (std::optional<std::string> finding = check.Finding()) {
    process.diagnostics.Tell(std::move(*finding));
    process.exit_status = 1;
  }
}

// Ends a run that has written its output: the empty line on standard
// output, and where the copy went when its derived name may surprise.
void EndTheRun(Process& process, const RunNames& names) {
  if (names.output_kind == RunNames::Output::kStandardOutput ||
      names.output_kind == RunNames::Output::kNone) {
    return;
  }
  process.streams.output.WriteLineEnd();
  CheckIo();
  if (names.output_kind == RunNames::Output::kDerived) {
    if (auto note = OutputNameNote(names.inputs.front(), names.output)) {
      process.diagnostics.Add(std::move(*note));
    }
  }
}

}  // namespace

std::string OutputNameFor(std::string_view input_name) {
  const std::size_t first_dot = input_name.find('.');
  const std::size_t prefix =
      first_dot == std::string_view::npos ? 0 : first_dot + 1;
  std::string output_name(input_name.substr(0, prefix));
  output_name += "srt";
  return output_name;
}

void RunSort(Process& process) {
  const CommandOptions options = ReadCommandOptions(process.platform);
  if (ActWithoutSorting(process, options)) return;
  process.diagnostics.SetQuiet(options.quiet);
  process.streams.SetLineConvention(options.line_convention);
  const std::optional<RunNames> names = NameTheFiles(process, options);
  if (!names) return;
  RefuseConflictingFiles(process, *names);
  RunFiles files(process, *names, options.line_convention);
  if (options.check) {
    CheckTheOrder(process, options, *names, files);
  } else {
    SortInto(process, options, *names, files);
  }
  files.Close();
  EndTheRun(process, *names);
}

}  // namespace mlfsort

#include "sorter/sort_run.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <utility>

#include "failure/failure_check.h"
#include "failure/failure_words.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "process/options.h"
#include "sorter/collation_key_order.h"
#include "sorter/key_order.h"
#include "sorter/label_entries.h"
#include "sorter/line_store.h"
#include "sorter/run_files.h"
#include "sorter/run_modes.h"
#include "sorter/run_warnings.h"
#include "sorter/sorted_key_index.h"
#include "sorter/sorted_line_reader.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

constexpr std::string_view kPrompt = "Enter MLF file to sort: ";
// As a name: standard input; as the output's name: standard output.
constexpr std::string_view kStandardStreamName = "-";
constexpr std::size_t kSortKeyStart = 2;  // the key starts at the third byte
constexpr std::size_t kSortKeyBytes = 99;

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

// The sort keys of the stored lines, for the index.
class StoredKeys final : public KeySource {
 public:
  explicit StoredKeys(const LineStore& lines) : lines_(lines) {}
  std::string_view KeyOf(std::uint32_t line_index) const override {
    return SortKeyOf(lines_.LineAt(static_cast<std::int32_t>(line_index)));
  }
  void AskForPlace(std::uint32_t line_index) const override {
    lines_.PrefetchPlace(static_cast<std::int32_t>(line_index));
  }
  void AskForKey(std::uint32_t line_index) const override {
    lines_.PrefetchLine(static_cast<std::int32_t>(line_index));
  }

 private:
  const LineStore& lines_;
};

// With --entries: writes the held entries in the index's order.
MLFSORT_NOINLINE void WriteEntries(SortedKeyIndex& index,
                                   const LineStore& lines,
                                   LineConvention line_convention,
                                   TextStream& output) {
  SortedEntryReader sorted(index, lines, line_convention);
  std::string_view piece;
  while (sorted.Next(&piece)) {
    output.WriteText(piece);
    output.EndOfWrite();
    CheckIo();
  }
}

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
  if (options.output_name == kStandardStreamName) {
    names.output_kind = RunNames::Output::kStandardOutput;
  } else if (options.output_name) {
    names.output_kind = RunNames::Output::kNamed;
    names.output = *options.output_name;
  }
  if (options.names.empty() &&
      names.output_kind == RunNames::Output::kStandardOutput) {
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
  } else {
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

// Holds every line of the inputs, and writes the held lines in key order
// after the lines that pass through.
void SortInto(Process& process, const CommandOptions& options,
              const RunNames& names, RunFiles& files) {
  Platform& platform = process.platform;
  TextStream& output = files.output();
  // The index refers to key bytes held in the line store, so it is
  // declared after the store and released before it. With --entries it
  // files the first line of each entry, and keeps entries of equal keys in
  // input order.
  LineStore lines(&platform.BulkMemory());
  const StoredKeys line_keys(lines);
  const EntryKeys entry_keys(lines, options.line_convention);
  const RunKeyOrder order(platform);
  SortedKeyIndex index(
      order.get(),
      options.entries ? static_cast<const KeySource&>(entry_keys) : line_keys,
      &platform.BulkMemory(), ThreadsFor(options) > 1,
      options.entries ? SortedKeyIndex::EqualKeys::kKeepAll
                      : SortedKeyIndex::EqualKeys::kKeepLatest);
  if (options.entries) {
    EntryHolder entries(lines, index, options.line_convention);
    EntryMode mode(output, entries);
    TakeTheInputs(process, names, files, mode);
    entries.Finish();
    WriteEntries(index, lines, options.line_convention, output);
    return;
  }
  LineMode mode(output, lines, index);
  TakeTheInputs(process, names, files, mode);
  SortedLineReader sorted(index, lines);
  std::string_view line;
  std::uint64_t written = 0;
  while (sorted.Next(&line)) {
    output.WriteLine(line);
    CheckIo();
    ++written;
  }
  const std::uint64_t sortable = mode.sortable_lines();
  if (written < sortable) {
    process.diagnostics.Add(DroppedLinesWarning(sortable - written, sortable));
  }
}

// Ends a run that has written its output: the empty line on standard
// output, and where the copy went when its derived name may surprise.
void EndTheRun(Process& process, const RunNames& names) {
  if (names.output_kind == RunNames::Output::kStandardOutput) return;
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

std::string_view SortKeyOf(std::string_view line) {
  if (line.size() <= kSortKeyStart) return {};
  return {line.data() + kSortKeyStart,
          std::min(line.size() - kSortKeyStart, kSortKeyBytes)};
}

bool IsPassThroughLine(std::string_view line) {
  return line.empty() || line.front() == '#';
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
  SortInto(process, options, *names, files);
  files.Close();
  EndTheRun(process, *names);
}

}  // namespace mlfsort

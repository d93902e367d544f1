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
#include "sorter/run_warnings.h"
#include "sorter/sorted_key_index.h"
#include "sorter/sorted_line_reader.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

constexpr std::string_view kPrompt = "Enter MLF file to sort: ";
constexpr std::size_t kSortKeyStart = 2;  // the key starts at the third byte
constexpr std::size_t kSortKeyBytes = 99;

std::string InputName(Process& process, const CommandOptions& options) {
  if (!options.names.empty()) return options.names.front();
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

// Why a name cannot be used as it stands: it holds a zero byte, or is
// longer than the platform takes (cut short, it would designate another
// file). Empty when it can be.
std::string NameRefusalWords(std::uint32_t refusal, std::string_view name,
                             const Platform& platform) {
  if (refusal == platform_error::kInvalidName) {
    return "the name " + QuotedName(name) + " holds a zero byte";
  }
  return "the name " + QuotedName(name) + " is longer than the " +
         WithThousands(platform.MaxNameBytes()) + " bytes a name may hold";
}

// Why writing `output_name` would destroy a file the run still needs, or
// empty when it would not: the input (emptied before it is read), the file
// behind standard output (the run's own line ends would land in the sorted
// copy) or, when standard input is the input, the file behind it. An input
// that is the file behind standard output is refused too: the shell has
// emptied it, or the run's line ends would land in it, and an earlier
// sorted copy would go as well.
std::string FileInUseWords(Process& process, const std::string& input_name,
                           const std::string& output_name) {
  Platform& platform = process.platform;
  const Handle standard_output = process.streams.output.handle();
  const char* const output = output_name.c_str();
  const std::string quoted_output = QuotedName(output_name);
  constexpr std::string_view kChooseAnother = "; choose another output with -o";
  if (!input_name.empty()) {
    const char* const input = input_name.c_str();
    if (input_name == output_name) {
      return quoted_output + " is the input file" + std::string(kChooseAnother);
    }
    if (platform.IsSameFile(input, output)) {
      return quoted_output + " is the input file " + QuotedName(input_name) +
             " under another name" + std::string(kChooseAnother);
    }
  }
  if (platform.IsFileOfHandle(output, standard_output)) {
    return "standard output leads to the output file " + quoted_output +
           kChooseAnother.data();
  }
  if (input_name.empty()) {
    if (platform.IsFileOfHandle(output, process.streams.input.handle())) {
      return quoted_output + " is the file behind standard input, which is " +
             "being sorted" + std::string(kChooseAnother);
    }
    return {};
  }
  if (platform.IsFileOfHandle(input_name.c_str(), standard_output)) {
    return "standard output leads to the input file " + QuotedName(input_name) +
           "; send it elsewhere";
  }
  return {};
}

// Whether standard error leads to the input or the output: then not a word
// may be written there, and the run is refused as one whose standard
// output meets them.
bool StandardErrorMeetsTheRunsFiles(Process& process,
                                    const std::string& input_name,
                                    const std::string& output_name) {
  Platform& platform = process.platform;
  const Handle standard_error = platform.GetStdHandle(StandardHandle::kError);
  if (standard_error == kInvalidHandle) return false;
  return platform.IsFileOfHandle(output_name.c_str(), standard_error) ||
         (!input_name.empty() &&
          platform.IsFileOfHandle(input_name.c_str(), standard_error));
}

// Refuses, before anything is created or emptied, names that no platform
// call may see, then a run that would meet a file in use; that refusal is
// the sharing conflict the open would meet. The words of the refusal go to
// standard error, unless standard error is one of those files.
void RefuseConflictingFiles(Process& process, const std::string& input_name,
                            const std::string& output_name) {
  Platform& platform = process.platform;
  std::uint32_t refusal = 0;
  std::string words;
  for (const std::string* name : {&input_name, &output_name}) {
    refusal = TextStream::NameRefusal(*name, platform);
    if (refusal != 0) {
      words = NameRefusalWords(refusal, *name, platform);
      break;
    }
  }
  if (refusal == 0) {
    if (StandardErrorMeetsTheRunsFiles(process, input_name, output_name)) {
      process.diagnostics.Silence();
      refusal = platform_error::kSharingViolation;
    } else {
      words = FileInUseWords(process, input_name, output_name);
      if (!words.empty()) refusal = platform_error::kSharingViolation;
    }
  }
  if (refusal != 0) {
    process.diagnostics.Explain(std::move(words));
    SetPendingIoError(static_cast<std::int32_t>(refusal));
    CheckIo();
  }
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

// With --entries: reads every line of `input`, writing the lines outside
// entries to `output` at once and giving the others to `entries`; the last
// line read the long way is left in `long_line`. Kept apart from the
// default mode's loop (not inlined) so that neither slows the other.
MLFSORT_NOINLINE void HoldEntries(TextStream& input, TextStream& output,
                                  EntryHolder& entries,
                                  std::string* long_line) {
  EntryTracker tracker;
  const auto take_line = [&output, &entries, &tracker](std::string_view line) {
    const EntryTracker::Part part = tracker.Take(line);
    if (part == EntryTracker::Part::kPassThrough) {
      output.WriteLine(line);
      CheckIo();
      return;
    }
    entries.Take(line, part);
  };
  for (;;) {
    input.ReadBufferedLines(take_line);
    const bool at_end = input.AtEndOfInput();
    CheckIo();
    if (at_end) break;
    input.ReadLine(long_line);
    input.SkipLineEnd();
    CheckIo();
    take_line(*long_line);
  }
  entries.Finish();
}

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

// Holds a sortable line: stores it and files its key. A line whose key has
// the bytes of the key filed just before supersedes the line of that key,
// which is the line stored last: it takes that line's place in the store,
// so that the many short lines of a label file with the same (empty) key
// take no more memory than one.
MLFSORT_ALWAYS_INLINE void Hold(std::string_view line, LineStore& lines,
                                SortedKeyIndex& index) {
  const std::string_view key = SortKeyOf(line);
  if (index.LatestKeyIs(key) && lines.CanReplaceLast(line.size())) {
    index.RefileLatest(SortKeyOf(lines.ReplaceLast(line)));
    return;
  }
  const std::string_view stored = lines.Append(line);
  index.Insert(SortKeyOf(stored),
               static_cast<std::uint32_t>(lines.Count() - 1));
}

// Threads the run may use: as the options say, else both cores where there
// are two or more. More than two use no more.
int ThreadsFor(const CommandOptions& options) {
  if (options.threads) return *options.threads;
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
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
  Diagnostics& diagnostics = process.diagnostics;
  diagnostics.SetQuiet(options.quiet);
  if (options.names.size() > 1) {
    diagnostics.Add(IgnoredArgumentsWarning(
        std::span<const std::string>(options.names).subspan(1)));
  }
  if (options.outputs_given > 1) {
    diagnostics.Add(
        SeveralOutputsWarning(options.outputs_given, *options.output_name));
  }
  const LineConvention line_convention = options.line_convention;
  process.streams.SetLineConvention(line_convention);

  Platform& platform = process.platform;
  TextStream& standard_output = process.streams.output;

  const std::string input_name = InputName(process, options);
  standard_output.WriteLineEnd();
  CheckIo();

  const std::string output_name =
      options.output_name.value_or(OutputNameFor(input_name));
  RefuseConflictingFiles(process, input_name, output_name);
  // The output is opened (created when missing) before the input, but an
  // existing one is emptied only once the input is open: a mistyped input
  // name must not destroy an earlier sorted copy.
  TextStream output(platform);
  output.SetLineConvention(line_convention);
  output.Name(output_name);
  output.OpenForWriting(TextStream::Contents::kKept);
  CheckIo();

  // An empty input name reads standard input. The standard input stream
  // itself goes on, right after the name line: a second stream on the same
  // handle would lose what the first had already taken into its buffer.
  TextStream input_file(platform);
  input_file.SetLineConvention(line_convention);
  TextStream& input = input_name.empty() ? process.streams.input : input_file;
  if (!input_name.empty()) {
    input_file.Name(input_name);
    input_file.OpenForReading();
    CheckIo();
  }
  output.Empty();
  CheckIo();

  {
    // The index refers to key bytes held in the line store, so it is
    // declared after the store and released before it. With --entries it
    // files the first line of each entry, and keeps entries of equal keys
    // in input order.
    LineStore lines(&platform.BulkMemory());
    const StoredKeys line_keys(lines);
    const EntryKeys entry_keys(lines, line_convention);
    const RunKeyOrder order(platform);
    SortedKeyIndex index(
        order.get(),
        options.entries ? static_cast<const KeySource&>(entry_keys) : line_keys,
        &platform.BulkMemory(), ThreadsFor(options) > 1,
        options.entries ? SortedKeyIndex::EqualKeys::kKeepAll
                        : SortedKeyIndex::EqualKeys::kKeepLatest);
    std::string long_line;
    // Standard input may have given the name line already.
    const std::uint64_t line_feeds_before = input.LinesHoldingLineFeeds();
    std::uint64_t sortable_lines = 0;
    if (options.entries) {
      EntryHolder entries(lines, index, line_convention);
      HoldEntries(input, output, entries, &long_line);
    } else {
      // Most lines lie whole in the stream's buffer and are taken from
      // there; the others are read as the stream's operations would.
      const auto take_line = [&output, &lines, &index,
                              &sortable_lines](std::string_view line) {
        if (IsPassThroughLine(line)) {
          output.WriteLine(line);
          CheckIo();
          return;
        }
        ++sortable_lines;
        Hold(line, lines, index);
      };
      for (;;) {
        input.ReadBufferedLines(take_line);
        const bool at_end = input.AtEndOfInput();
        CheckIo();
        if (at_end) break;
        input.ReadLine(&long_line);
        input.SkipLineEnd();
        CheckIo();
        take_line(long_line);
      }
    }
    const std::uint64_t line_feeds =
        input.LinesHoldingLineFeeds() - line_feeds_before;
    if (line_feeds > 0) {
      diagnostics.Add(LineFeedsWarning(line_feeds, input_name));
    }

    if (options.entries) {
      WriteEntries(index, lines, line_convention, output);
    } else {
      SortedLineReader sorted(index, lines);
      std::string_view line;
      std::uint64_t written = 0;
      while (sorted.Next(&line)) {
        output.WriteLine(line);
        CheckIo();
        ++written;
      }
      if (written < sortable_lines) {
        diagnostics.Add(
            DroppedLinesWarning(sortable_lines - written, sortable_lines));
      }
    }
  }

  output.Close();
  CheckIo();
  input.Close();
  CheckIo();
  standard_output.WriteLineEnd();
  CheckIo();
  if (!options.output_name) {
    if (auto note = OutputNameNote(input_name, output_name)) {
      diagnostics.Add(std::move(*note));
    }
  }
}

}  // namespace mlfsort

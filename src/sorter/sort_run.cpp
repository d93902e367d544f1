#include "sorter/sort_run.h"

#include <algorithm>
#include <cstdint>
#include <thread>

#include "failure/failure_check.h"
#include "platform/platform.h"
#include "sorter/key_order.h"
#include "sorter/line_store.h"
#include "sorter/sorted_key_index.h"
#include "sorter/sorted_line_reader.h"
#include "textio/command_line.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

constexpr std::string_view kPrompt = "Enter MLF file to sort: ";
constexpr std::size_t kSortKeyStart = 2;  // the key starts at the third byte
constexpr std::size_t kSortKeyBytes = 99;

std::string InputName(Process& process) {
  const ProcessArguments arguments = process.platform.GetCommandLine();
  if (ArgumentCount(arguments) >= 1) return Argument(arguments, 1);
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

// Refuses an output name that designates the input file itself, before
// anything is created or emptied: the input would be destroyed unread. The
// refusal is the sharing conflict the open of such an input would meet.
void RefuseOutputOverInput(Platform& platform, const std::string& input_name,
                           const std::string& output_name) {
  if (input_name.empty()) return;
  if (input_name == output_name ||
      platform.IsSameFile(input_name.c_str(), output_name.c_str())) {
    SetPendingIoError(
        static_cast<std::int32_t>(platform_error::kSharingViolation));
    CheckIo();
  }
}

const KeyOrder& KeyOrderOf(Platform& platform) {
  const KeyOrder* native = platform.NativeKeyOrder();
  return native != nullptr ? *native : PortableKeyOrder::Instance();
}

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

// Holds a sortable line: stores it and files its key. A line whose key has
// the bytes of the key filed just before supersedes the line of that key,
// which is the line stored last: it takes that line's place in the store,
// so that the many short lines of a label file with the same (empty) key
// take no more memory than one.
[[gnu::always_inline]] inline void Hold(std::string_view line, LineStore& lines,
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

int SortSettings::DefaultSortThreads() {
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

void RunSort(Process& process) { RunSortWith(process, SortSettings{}); }

void RunSortWith(Process& process, const SortSettings& settings) {
  Platform& platform = process.platform;
  TextStream& standard_output = process.streams.output;

  const std::string input_name = InputName(process);
  standard_output.WriteLineEnd();
  CheckIo();

  const std::string output_name = OutputNameFor(input_name);
  RefuseOutputOverInput(platform, input_name, output_name);
  TextStream output(platform);
  output.Name(output_name);
  output.OpenForWriting();
  CheckIo();

  // An empty input name reads standard input. The standard input stream
  // itself goes on, right after the name line: a second stream on the same
  // handle would lose what the first had already taken into its buffer.
  TextStream input_file(platform);
  TextStream& input = input_name.empty() ? process.streams.input : input_file;
  if (!input_name.empty()) {
    input_file.Name(input_name);
    input_file.OpenForReading();
    CheckIo();
  }

  {
    // The index refers to key bytes held in the line store, so it is
    // declared after the store and released before it.
    LineStore lines(&platform.BulkMemory());
    const StoredKeys keys(lines);
    SortedKeyIndex index(KeyOrderOf(platform), keys, &platform.BulkMemory(),
                         settings.threads > 1);
    // Most lines lie whole in the stream's buffer and are taken from there;
    // the others are read as the stream's operations would.
    const auto take_line = [&output, &lines, &index](std::string_view line) {
      if (IsPassThroughLine(line)) {
        output.WriteLine(line);
        CheckIo();
        return;
      }
      Hold(line, lines, index);
    };
    std::string long_line;
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

    SortedLineReader sorted(index, lines);
    std::string_view line;
    while (sorted.Next(&line)) {
      output.WriteLine(line);
      CheckIo();
    }
  }

  output.Close();
  CheckIo();
  input.Close();
  CheckIo();
  standard_output.WriteLineEnd();
  CheckIo();
}

}  // namespace mlfsort

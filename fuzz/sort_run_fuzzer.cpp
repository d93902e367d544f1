// Runs the whole tool on arbitrary bytes as its input, in memory, and
// compares the output file byte for byte with the plain model of the sort
// (or, in check mode, its verdict with the model's check). Optionally one
// platform call fails, and the run must then either shrug it off with the
// right result or end with one failure report and an output file that
// holds only whole blocks of the right output.
//
// Input: two control bytes, then (only when a failure is injected) the
// number of the call to fail, then the input, or, in many-lines mode, the
// steps that make it. First control byte: bit 7 injects a failure; bits
// 0-2 pick its code; bit 6 selects many-lines mode; bit 5 gives its keys a
// long common lead; bit 4 keeps all work on one thread (else a worker
// thread sorts while the run reads); bit 3 sorts whole entries (--entries).
// Second control byte: bits 0-1 split the input into that many more files,
// sorted into one (-o) or checked together; bit 2 checks (--check) instead
// of sorting; bits 3-4 hold at most 64 KiB, 256 KiB or 1 MiB in memory
// (-S), the rest in temporary files, or (0) whatever the machine allows.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "process/process_frame.h"
#include "run/sort_run.h"
#include "support/memory_platform.h"
#include "support/sort_model.h"
#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {
namespace {

// Aborts with a message, so libFuzzer keeps the input as a crash.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "sort_run: %s\n", what);
    std::abort();
  }
}

constexpr std::uint32_t kInjectedCodes[] = {
    platform_error::kFileNotFound,  platform_error::kAccessDenied,
    platform_error::kInvalidHandle, platform_error::kSharingViolation,
    platform_error::kBrokenPipe,    platform_error::kDiskFull,
    platform_error::kNoData,        platform_error::kIoDevice,
};

constexpr std::string_view kReportStart = "Exception ";

// Many-lines mode: a few step bytes make thousands of sortable lines, so
// the sorted key index fills, sorts and merges whole batches of keys, which
// plain bytes within the input size limit hardly reach. Each pair of
// step bytes (move, repeat) makes repeat + 1 lines, moving a 16-bit counter
// by (move - 128) before each; so a pair inserts an ascending or descending
// run, repeats a key, or hops about. The key spells the counter in four
// characters: the upper three in key order, the last from a set that holds
// two case pairs and a tie-breaker byte, so distinct counters can still give
// equal keys, and lines with equal keys can differ in case. The long lead is
// longer than any summary, so those keys tie on summaries. For --entries
// each line is followed by a "." line, which makes it an entry, and entries
// of equal keys must keep their input order.
class ManyLines {
 public:
  ManyLines(std::string_view steps, bool long_lead, bool entries)
      : lead_(long_lead ? "/corpus/speaker01/session02/utterance" : ""),
        entries_(entries) {
    std::uint16_t counter = 0x8000;
    for (std::size_t pair = 0; pair + 1 < steps.size(); pair += 2) {
      const int move = static_cast<unsigned char>(steps[pair]) - 128;
      const int repeat = static_cast<unsigned char>(steps[pair + 1]);
      for (int made = 0; made <= repeat && counters_.size() < kMaxLines;
           ++made) {
        counter = static_cast<std::uint16_t>(counter + move);
        counters_.push_back(counter);
        input_ += LineOf(counter);
        if (entries_) input_ += ".\r\n";
      }
    }
  }

  const std::string& input() const { return input_; }

  // What the model's sort makes of the whole input, found in time linear in
  // the lines (the model itself is too slow for thousands of lines per run):
  // for each key in order, the last line read with it.
  // For --entries: every entry, in key order and else in input order.
  std::string SortedOutput() const {
    const std::vector<std::uint16_t>& ranks = KeyRanks();
    if (entries_) {
      std::vector<std::size_t> in_order(counters_.size());
      for (std::size_t line = 0; line < in_order.size(); ++line) {
        in_order[line] = line;
      }
      std::stable_sort(in_order.begin(), in_order.end(),
                       [this, &ranks](std::size_t a, std::size_t b) {
                         return ranks[counters_[a]] < ranks[counters_[b]];
                       });
      std::string output;
      for (const std::size_t line : in_order) {
        output += LineOf(counters_[line]) + ".\r\n";
      }
      return output;
    }
    std::vector<int> last_line(kKeyCount, -1);
    for (std::size_t line = 0; line < counters_.size(); ++line) {
      last_line[ranks[counters_[line]]] = static_cast<int>(line);
    }
    std::string output;
    for (const int line : last_line) {
      if (line >= 0) output += LineOf(counters_[line]);
    }
    return output;
  }

 private:
  // Enough for an index three levels deep, few enough to keep a run quick.
  static constexpr std::size_t kMaxLines = 8192;
  static constexpr std::size_t kKeyCount = 0x10000;

  static std::string KeyOf(std::uint16_t counter) {
    static constexpr std::string_view kInOrder = " !./0123456789bm";
    static constexpr std::string_view kLast = " !'./019aAbmZz\x80\xff";
    static_assert(kInOrder.size() == 16 && kLast.size() == 16);
    std::string key;
    for (int shift = 12; shift > 0; shift -= 4) {
      key += kInOrder[(counter >> shift) & 0xf];
    }
    key += kLast[counter & 0xf];
    return key;
  }

  // The place of every counter's key in the model's order, equal keys
  // sharing one. The lead adds the same to every key, so it changes nothing.
  static const std::vector<std::uint16_t>& KeyRanks() {
    static const std::vector<std::uint16_t> ranks = [] {
      std::vector<std::string> keys;
      std::vector<std::uint16_t> in_order;
      for (std::size_t counter = 0; counter < kKeyCount; ++counter) {
        keys.push_back(KeyOf(static_cast<std::uint16_t>(counter)));
        in_order.push_back(static_cast<std::uint16_t>(counter));
      }
      std::sort(in_order.begin(), in_order.end(),
                [&keys](std::uint16_t a, std::uint16_t b) {
                  return ModelCompareKeys(keys[a], keys[b]) < 0;
                });
      std::vector<std::uint16_t> rank_of(kKeyCount);
      std::uint16_t rank = 0;
      for (std::size_t i = 1; i < kKeyCount; ++i) {
        if (ModelCompareKeys(keys[in_order[i - 1]], keys[in_order[i]]) != 0) {
          ++rank;
        }
        rank_of[in_order[i]] = rank;
      }
      return rank_of;
    }();
    return ranks;
  }

  std::string LineOf(std::uint16_t counter) const {
    return "xx" + lead_ + KeyOf(counter) + "\r\n";
  }

  std::string lead_;
  bool entries_;
  std::vector<std::uint16_t> counters_;
  std::string input_;
};

// What the run could see of the input file `name`: all of it, unless a
// read of it failed with the broken-pipe code, which ends the data like the
// end of a pipe.
std::string InputSeen(const MemoryPlatform& platform, const std::string& name,
                      std::string_view input) {
  std::size_t whole_reads = 0;
  for (const PlatformCall& call : platform.calls()) {
    if (call.kind != PlatformCall::kReadFile || call.name != name) continue;
    if (call.succeeded) {
      ++whole_reads;
    } else if (call.error == platform_error::kBrokenPipe) {
      // Reads are never cut short here, so each earlier one took a block.
      return std::string(input.substr(
          0,
          std::min(input.size(), whole_reads * TextStream::kBufferCapacity)));
    }
  }
  return std::string(input);
}

// `input` cut into `parts` files near equal shares; with `at_line_ends`
// only after a line end, so that no line is split.
std::vector<std::string> SplitInput(std::string_view input, std::size_t parts,
                                    bool at_line_ends) {
  std::vector<std::string> files;
  std::size_t from = 0;
  for (std::size_t part = 1; part <= parts; ++part) {
    std::size_t to = part == parts ? input.size() : input.size() * part / parts;
    if (at_line_ends && part < parts) {
      const std::size_t line_end = input.find('\n', to);
      to = line_end == std::string_view::npos ? input.size() : line_end + 1;
    }
    to = std::max(to, from);
    files.emplace_back(input.substr(from, to - from));
    from = to;
  }
  return files;
}

const PlatformCall* FailedCall(const MemoryPlatform& platform) {
  for (const PlatformCall& call : platform.calls()) {
    if (!call.succeeded) return &call;
  }
  return nullptr;
}

// Standard output after a failure: the empty line written once the name was
// known (missing when the failure came first), then exactly one report.
bool HoldsOneReport(std::string_view standard_output) {
  if (standard_output.starts_with("\r\n")) standard_output.remove_prefix(2);
  return standard_output.starts_with(kReportStart) &&
         standard_output.find(kReportStart, 1) == std::string_view::npos &&
         standard_output.ends_with("\r\n") &&
         standard_output.find("\r\n") == standard_output.size() - 2;
}

void CheckSortRun(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return;
  const std::uint8_t control = data[0];
  const std::uint8_t extra = data[1];
  const bool inject = (control & 0x80) != 0;
  const std::size_t header = inject ? 3 : 2;
  if (size < header) return;
  const std::string_view rest(reinterpret_cast<const char*>(data) + header,
                              size - header);
  const bool entries = (control & 0x08) != 0;
  const std::size_t parts = 1 + (extra & 0x03);
  const bool check = (extra & 0x04) != 0;
  static constexpr const char* kBufferSizes[] = {nullptr, "-S64K", "-S256K",
                                                 "-S1M"};
  const char* const buffer_size = kBufferSizes[(extra >> 3) & 0x03];
  std::optional<ManyLines> many_lines;
  if ((control & 0x40) != 0) {
    many_lines.emplace(rest, (control & 0x20) != 0, entries);
  }
  const std::string input =
      many_lines ? many_lines->input() : std::string(rest);
  const std::vector<std::string> files =
      SplitInput(input, parts, many_lines.has_value());

  SetPendingIoError(0);
  MemoryPlatform platform;
  std::vector<std::string> arguments = {
      "mlfsort", "-q", (control & 0x10) != 0 ? "--threads=1" : "--threads=2"};
  if (entries) arguments.push_back("--entries");
  if (check) arguments.push_back("--check");
  if (buffer_size != nullptr) arguments.push_back(buffer_size);
  std::vector<std::string> names;
  if (parts == 1) {
    names.push_back("in.mlf");
  } else {
    if (!check) arguments.insert(arguments.end(), {"-o", "in.srt"});
    for (std::size_t part = 0; part < parts; ++part) {
      names.push_back("in" + std::to_string(part) + ".mlf");
    }
  }
  for (std::size_t part = 0; part < parts; ++part) {
    platform.AddFile(names[part], files[part]);
  }
  arguments.insert(arguments.end(), names.begin(), names.end());
  platform.SetArguments(arguments);
  if (inject) platform.FailCall(1 + data[2], kInjectedCodes[control & 7]);

  const int status = RunProcess(platform, SystemModules(), &RunSort);
  Require(platform.exited() && platform.exit_status() == status,
          "the exit status did not reach the platform");
  const PlatformCall* failed = FailedCall(platform);
  Require(inject || failed == nullptr, "a platform call failed by itself");
  const int failure_status = check ? 2 : 1;
  for (const std::string& name : names) {
    Require(!platform.IsOpen(name) || status == failure_status,
            "an input stayed open after a normal run");
  }
  std::vector<std::string> seen;
  bool saw_everything = true;
  for (std::size_t part = 0; part < parts; ++part) {
    seen.push_back(InputSeen(platform, names[part], files[part]));
    saw_everything = saw_everything && seen.back().size() == files[part].size();
  }
  const ModelMode mode = entries ? ModelMode::kEntries : ModelMode::kLines;

  if (check) {
    Require(platform.StandardOutput().empty(), "a check wrote standard output");
    if (status == 2) {
      Require(failed != nullptr, "a check without a failure reported one");
      return;
    }
    std::vector<ModelInput> model_inputs;
    for (std::size_t part = 0; part < parts; ++part) {
      model_inputs.push_back({names[part], seen[part]});
    }
    const ModelCheckResult verdict =
        ModelCheck(model_inputs, LineConvention::kCr, mode);
    Require(status == (verdict.in_order ? 0 : 1),
            "the check's status differs from the model's");
    const std::string said =
        verdict.in_order ? "" : "mlfsort: " + verdict.finding + "\n";
    // A failed write of standard error loses what it said, and no more.
    Require(platform.StandardError() == said ||
                (failed != nullptr &&
                 failed->handle == MemoryPlatform::kStandardError),
            "the check's finding differs from the model's");
    return;
  }

  const std::string expected =
      many_lines && saw_everything
          ? many_lines->SortedOutput()
          : ModelSortedInputs(seen, LineConvention::kCr, mode);
  const std::string output = platform.FileContents("in.srt");
  const std::string& standard_output = platform.StandardOutput();

  if (status == 0) {
    Require(output == expected, "the output differs from the model");
    // Only the final write-out of standard output fails unnoticed.
    const bool lost_standard_output =
        failed != nullptr && failed->kind == PlatformCall::kWriteFile &&
        failed->handle == MemoryPlatform::kStandardOutput;
    Require(standard_output == (lost_standard_output ? "" : "\r\n\r\n"),
            "standard output is not two empty lines");
    Require(platform.TemporaryFileCount() == 0,
            "a temporary file stayed open after a normal run");
    return;
  }
  Require(status == 1, "the run ended with neither status 0 nor 1");
  Require(failed != nullptr, "a run without a failure reported one");
  Require(HoldsOneReport(standard_output),
          "standard output does not hold exactly one failure report");
  Require(std::string_view(expected).starts_with(output),
          "the output after a failure is not a prefix of the right output");
  Require(output.size() == expected.size() ||
              output.size() % TextStream::kBufferCapacity == 0,
          "the output after a failure holds a part of a block");
}

}  // namespace
}  // namespace mlfsort

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  mlfsort::CheckSortRun(data, size);
  return 0;
}

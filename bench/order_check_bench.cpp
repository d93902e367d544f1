#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "labels/label_line.h"
#include "labels/order_check.h"
#include "order/key_order.h"

namespace mlfsort {
namespace {

constexpr std::size_t kLineCount = 1000000;

// A million label lines as the benchmark kit writes them (generate_mlf.py
// --kind utterances), "*/spk0042/utt000123.lab" 1200000 3400000 don't
// -512.25 or a run of phones, in sorted order with no two keys equal: the
// check reads every line. Held in one block, as a read buffer holds them.
class SortedLabelLines {
 public:
  SortedLabelLines() {
    static constexpr const char* kWords[] = {
        "the", "of", "don't", "Paris", "sil", "years", "well-known"};
    static constexpr const char* kPhones = "sil sp aa ae ah ao aw ax ay b ch";
    std::mt19937 rng(42);
    const auto draw = [&rng](unsigned below) {
      return static_cast<unsigned>(rng() % below);
    };
    std::vector<std::string> lines;
    lines.reserve(kLineCount);
    char line[128];
    for (std::size_t utterance = 0; utterance < kLineCount; ++utterance) {
      const unsigned speaker = draw(1250);
      const unsigned start = draw(100) * 100000;
      if (draw(2) == 0) {
        std::snprintf(line, sizeof line,
                      "\"*/spk%04u/utt%06zu.lab\" %u %u %s %s -%u.%02u",
                      speaker, utterance, start,
                      start + (1 + draw(59)) * 100000, kWords[draw(7)],
                      kWords[draw(7)], draw(1000), draw(100));
      } else {
        std::snprintf(line, sizeof line, "\"*/spk%04u/utt%06zu.lab\" %s",
                      speaker, utterance, kPhones);
      }
      lines.emplace_back(line);
    }
    const KeyOrder& order = PortableKeyOrder::Instance();
    std::sort(lines.begin(), lines.end(),
              [&order](const std::string& a, const std::string& b) {
                return order.Compare(SortKeyOf(a), SortKeyOf(b)) < 0;
              });
    for (const std::string& line : lines) {
      starts_.push_back(bytes_.size());
      bytes_ += line;
    }
    starts_.push_back(bytes_.size());
  }

  std::size_t size() const { return starts_.size() - 1; }
  std::string_view operator[](std::size_t index) const {
    return std::string_view(bytes_).substr(starts_[index],
                                           starts_[index + 1] - starts_[index]);
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> starts_;
};

const SortedLabelLines& Lines() {
  static const SortedLabelLines lines;
  return lines;
}

// Every line sortable: one key compared and copied per line.
void BM_CheckSortedLines(benchmark::State& state) {
  const SortedLabelLines& lines = Lines();
  for (auto _ : state) {
    OrderCheck check(PortableKeyOrder::Instance(), /*entries=*/false);
    check.StartInput("train.mlf");
    for (std::size_t index = 0; index < lines.size(); ++index) {
      check.Take(lines[index]);
    }
    if (check.Finding()) {
      state.SkipWithError(check.Finding()->c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(BM_CheckSortedLines)->Unit(benchmark::kMillisecond);

// With --entries, each line an entry closed by ".": per line taken, half a
// key compared and copied.
void BM_CheckSortedEntries(benchmark::State& state) {
  const SortedLabelLines& lines = Lines();
  for (auto _ : state) {
    OrderCheck check(PortableKeyOrder::Instance(), /*entries=*/true);
    check.StartInput("train.mlf");
    for (std::size_t index = 0; index < lines.size(); ++index) {
      check.Take(lines[index]);
      check.Take(".");
    }
    if (check.Finding()) {
      state.SkipWithError(check.Finding()->c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * 2 *
                          static_cast<std::int64_t>(lines.size()));
}
BENCHMARK(BM_CheckSortedEntries)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mlfsort

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "index/sorted_key_index.h"
#include "index/sorted_key_index_test_helper.h"
#include "order/key_order.h"

namespace mlfsort {
namespace {

// Reads the index by position and tells the memory it holds.
using Probe = SortedKeyIndexTestHelper;

enum class Arrival { kRandom, kSorted, kReversed };

// Where keys first differ: after a long shared path, as in most label files,
// so that key summaries tie and the key bytes decide; or at once, so that
// the summaries alone do.
enum class Shape { kSharedPrefix, kNumberFirst };

// Sort keys of about 60 bytes as the sorter cuts them from label lines,
// sharing long prefixes. They are held in one block in arrival order, as
// the line store holds them, so the key being inserted is the one written
// last.
class LabelKeys {
 public:
  // `distinct` different keys, each `copies` times.
  LabelKeys(std::size_t distinct, std::size_t copies, Arrival arrival,
            Shape shape = Shape::kSharedPrefix) {
    std::vector<std::size_t> numbers;
    for (std::size_t number = 0; number < distinct; ++number) {
      numbers.insert(numbers.end(), copies, number);
    }
    if (arrival == Arrival::kRandom) {
      std::shuffle(numbers.begin(), numbers.end(), std::mt19937(1));
    } else if (arrival == Arrival::kReversed) {
      std::reverse(numbers.begin(), numbers.end());
    }
    constexpr std::size_t kKeyBytes = 60;
    bytes_.reserve(numbers.size() * kKeyBytes);
    char text[2 * kKeyBytes];
    for (std::size_t number : numbers) {
      if (shape == Shape::kSharedPrefix) {
        std::snprintf(text, sizeof text,
                      "/corpus/train/spk%04zu/sess%02zu/utt%08zu.lab\" 0 %06zu",
                      number / 4000, number / 100 % 40, number,
                      number % 999983);
      } else {
        std::snprintf(text, sizeof text,
                      "%08zu/corpus/train/spk%04zu/sess%02zu/utt.lab\" 0",
                      number, number / 4000, number / 100 % 40);
      }
      std::string key = text;
      key.resize(kKeyBytes, ' ');
      keys_.emplace_back(bytes_.data() + bytes_.size(), kKeyBytes);
      bytes_.append(key);
    }
  }

  const std::vector<std::string_view>& keys() const { return keys_; }

  // The keys filed under their positions.
  class Source final : public KeySource {
   public:
    explicit Source(const LabelKeys& keys) : keys_(keys.keys_) {}
    std::string_view KeyOf(std::uint32_t line_index) const override {
      return keys_[line_index];
    }

   private:
    const std::vector<std::string_view>& keys_;
  };

 private:
  std::string bytes_;
  std::vector<std::string_view> keys_;
};

// Builds an index of `keys` once per iteration and reports inserts per
// second and the index's bytes per entry.
void RunInserts(benchmark::State& state, const LabelKeys& label_keys) {
  const std::vector<std::string_view>& keys = label_keys.keys();
  const LabelKeys::Source source(label_keys);
  double bytes_per_entry = 0;
  for (auto _ : state) {
    SortedKeyIndex index(PortableKeyOrder::Instance(), source);
    for (std::size_t line = 0; line < keys.size(); ++line) {
      index.Insert(keys[line], static_cast<std::uint32_t>(line));
    }
    bytes_per_entry =
        static_cast<double>(Probe::AllocatedBytes(index)) / index.Count();
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(keys.size()));
  state.counters["bytes_per_entry"] = bytes_per_entry;
}

std::size_t KeyCount(const benchmark::State& state) {
  return static_cast<std::size_t>(state.range(0));
}

void BM_InsertRandom(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state), 1, Arrival::kRandom);
  RunInserts(state, keys);
}
BENCHMARK(BM_InsertRandom)
    ->Arg(1'000'000)
    ->Arg(10'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_InsertRandomNumberFirst(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state), 1, Arrival::kRandom,
                       Shape::kNumberFirst);
  RunInserts(state, keys);
}
BENCHMARK(BM_InsertRandomNumberFirst)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_InsertSorted(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state), 1, Arrival::kSorted);
  RunInserts(state, keys);
}
BENCHMARK(BM_InsertSorted)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_InsertReversed(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state), 1, Arrival::kReversed);
  RunInserts(state, keys);
}
BENCHMARK(BM_InsertReversed)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Every key eight times, in random order.
void BM_InsertManyDuplicates(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state) / 8, 8, Arrival::kRandom);
  RunInserts(state, keys);
}
BENCHMARK(BM_InsertManyDuplicates)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

// The write phase: every position in order, from an index built in random
// order.
void BM_SequentialWalk(benchmark::State& state) {
  const LabelKeys keys(KeyCount(state), 1, Arrival::kRandom);
  const LabelKeys::Source source(keys);
  SortedKeyIndex index(PortableKeyOrder::Instance(), source);
  for (std::size_t line = 0; line < keys.keys().size(); ++line) {
    index.Insert(keys.keys()[line], static_cast<std::uint32_t>(line));
  }
  for (auto _ : state) {
    std::uint64_t sum = 0;
    for (std::int32_t position = 0; position < index.Count(); ++position) {
      sum += Probe::LineIndexAt(index, position);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * index.Count());
}
BENCHMARK(BM_SequentialWalk)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mlfsort

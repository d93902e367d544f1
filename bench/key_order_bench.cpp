#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "order/key_order.h"

namespace mlfsort {
namespace {

constexpr std::size_t kKeyCount = 4096;

// Keys as the sorter cuts them from label lines: bytes 3 to 101 of lines
// such as "*/spk0042/utt000123.lab" 0 100 sil, sharing long prefixes.
std::vector<std::string> LabelKeys() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> speaker(0, 63);
  std::uniform_int_distribution<int> utterance(0, 999999);
  std::vector<std::string> keys;
  char key[64];
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    std::snprintf(key, sizeof key, "/spk%04d/utt%06d.lab\" 0 100 sil",
                  speaker(rng), utterance(rng));
    keys.emplace_back(key);
  }
  return keys;
}

// Runs Compare over kKeyCount pairs, the second key of each made from the
// first by make_partner.
template <typename MakePartner>
void RunComparePairs(benchmark::State& state, MakePartner make_partner) {
  const std::vector<std::string> keys = LabelKeys();
  std::vector<std::pair<std::string, std::string>> pairs;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    pairs.emplace_back(keys[i], make_partner(keys, i));
  }
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& [a, b] = pairs[next];
    benchmark::DoNotOptimize(order.Compare(a, b));
    next = (next + 1) % pairs.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_CompareRandomKeys(benchmark::State& state) {
  RunComparePairs(state,
                  [](const std::vector<std::string>& keys, std::size_t i) {
                    return keys[(i * 2654435761u + 1) % keys.size()];
                  });
}
BENCHMARK(BM_CompareRandomKeys);

void BM_CompareEqualKeys(benchmark::State& state) {
  RunComparePairs(state, [](const std::vector<std::string>& keys,
                            std::size_t i) { return keys[i]; });
}
BENCHMARK(BM_CompareEqualKeys);

void BM_CompareCaseDifferentKeys(benchmark::State& state) {
  RunComparePairs(state, [](const std::vector<std::string>& keys,
                            std::size_t i) {
    std::string upper = keys[i];
    for (char& byte : upper) {
      byte = static_cast<char>(std::toupper(static_cast<unsigned char>(byte)));
    }
    return upper;
  });
}
BENCHMARK(BM_CompareCaseDifferentKeys);

// Differ only in a hyphen near the end, so the tie-breakers decide.
void BM_CompareHyphenVariants(benchmark::State& state) {
  RunComparePairs(state,
                  [](const std::vector<std::string>& keys, std::size_t i) {
                    std::string variant = keys[i];
                    variant.insert(variant.find(".lab"), 1, '-');
                    return variant;
                  });
}
BENCHMARK(BM_CompareHyphenVariants);

void BM_SortLabelKeys(benchmark::State& state) {
  const std::vector<std::string> keys = LabelKeys();
  const KeyOrder& order = PortableKeyOrder::Instance();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::string> sorted = keys;
    state.ResumeTiming();
    std::sort(sorted.begin(), sorted.end(),
              [&order](const std::string& a, const std::string& b) {
                return order.Compare(a, b) < 0;
              });
    benchmark::DoNotOptimize(sorted.data());
  }
  state.SetItemsProcessed(state.iterations() * keys.size());
}
BENCHMARK(BM_SortLabelKeys);

void BM_Summary(benchmark::State& state) {
  const std::vector<std::string> keys = LabelKeys();
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(order.Summary(keys[next]));
    next = (next + 1) % keys.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Summary);

// Against a reference from the same file, as the sorted key index takes
// them.
void BM_SummaryAgainst(benchmark::State& state) {
  const std::vector<std::string> keys = LabelKeys();
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(order.SummaryAgainst(keys[next], keys[0]));
    next = (next + 1) % keys.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SummaryAgainst);

void BM_Fingerprint(benchmark::State& state) {
  const std::vector<std::string> keys = LabelKeys();
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(order.Fingerprint(keys[next]));
    next = (next + 1) % keys.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Fingerprint);

}  // namespace
}  // namespace mlfsort

#include "index/key_index_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "order/key_order.h"

namespace mlfsort::key_index {
namespace {

// Ties told apart by the portable order over keys held by line index.
class KeysByLineIndex final : public KeyTieBreak {
 public:
  explicit KeysByLineIndex(const std::vector<std::string>& keys)
      : keys_(keys) {}
  std::string_view KeyOf(const Entry& entry) const override {
    return keys_[entry.line_index];
  }
  int CompareKeys(std::string_view a, std::string_view b) const override {
    return PortableKeyOrder::Instance().Compare(a, b);
  }

 private:
  const std::vector<std::string>& keys_;
};

// Answers at random, and differently each time: no order at all.
class RandomTieBreak final : public KeyTieBreak {
 public:
  std::string_view KeyOf(const Entry&) const override { return "k"; }
  int CompareKeys(std::string_view, std::string_view) const override {
    return static_cast<int>(random_() % 3) - 1;
  }

 private:
  mutable std::mt19937 random_{17};
};

// Entries for `keys`, each filed under its position in `keys`, with the
// leading 96 bits of its wide summary; none with `no_summary`.
std::vector<Entry> EntriesOf(const std::vector<std::string>& keys,
                             bool no_summary = false) {
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::vector<Entry> entries;
  for (const std::string& key : keys) {
    const WideKeySummary summary = no_summary ? 0 : order.WideSummary(key);
    entries.push_back({static_cast<std::uint64_t>(summary >> 64),
                       static_cast<std::uint32_t>(summary >> 32),
                       static_cast<std::uint32_t>(entries.size())});
  }
  return entries;
}

std::vector<std::uint32_t> LineIndexesOf(const std::vector<Entry>& entries) {
  std::vector<std::uint32_t> line_indexes;
  for (const Entry& entry : entries) line_indexes.push_back(entry.line_index);
  return line_indexes;
}

std::vector<std::uint32_t> StableOrderOf(const std::vector<std::string>& keys) {
  std::vector<std::uint32_t> expected(keys.size());
  for (std::uint32_t at = 0; at < keys.size(); ++at) expected[at] = at;
  std::stable_sort(expected.begin(), expected.end(),
                   [&keys](std::uint32_t a, std::uint32_t b) {
                     return PortableKeyOrder::Instance().Compare(keys[a],
                                                                 keys[b]) < 0;
                   });
  return expected;
}

TEST(KeyIndexRunsTest, SortIsStableAtEverySize) {
  std::mt19937 random(3);
  // Scattered, and arriving in key order or in reverse, as sorted files do.
  for (const int arrival : {0, 1, -1}) {
    for (const bool no_summary : {false, true}) {
      for (const std::size_t count : {0, 1, 15, 24, 25, 33, 1000, 5000}) {
        std::vector<std::string> keys;
        for (std::size_t i = 0; i < count; ++i) {
          // Few distinct keys, in both cases, so that most have equals; some
          // share more than a summary holds, so that the keys decide.
          const std::string lead = random() % 4 ? "" : std::string(30, 'p');
          keys.push_back(lead + (random() % 2 ? "utt" : "UTT") +
                         std::to_string(random() % 40));
        }
        if (arrival != 0) {
          std::vector<std::string> ordered;
          for (const std::uint32_t at : StableOrderOf(keys)) {
            ordered.push_back(keys[at]);
          }
          // Equal keys keep their arrival in both directions.
          if (arrival < 0) {
            std::stable_sort(ordered.begin(), ordered.end(),
                             [](const std::string& a, const std::string& b) {
                               return PortableKeyOrder::Instance().Compare(
                                          a, b) > 0;
                             });
          }
          keys = ordered;
        }
        std::vector<Entry> items = EntriesOf(keys, no_summary);
        std::vector<Entry> scratch(count);
        SortEntries(items.data(), scratch.data(), count, KeysByLineIndex(keys));
        EXPECT_EQ(LineIndexesOf(items), StableOrderOf(keys))
            << count << " arriving " << arrival
            << (no_summary ? " without summaries" : "");
      }
    }
  }
}

TEST(KeyIndexRunsTest, FoldAndMergeKeepTheLatestEntryOfEachKey) {
  const std::vector<std::string> keys = {"b", "d", "f",             // the run
                                         "a", "B", "b", "e", "F"};  // a batch
  const KeysByLineIndex ties(keys);
  std::vector<Entry> entries = EntriesOf(keys);
  std::vector<Entry> batch(entries.begin() + 3, entries.end());
  std::vector<Entry> scratch(batch.size());
  SortEntries(batch.data(), scratch.data(), batch.size(), ties);
  ASSERT_EQ(FoldEqualKeys(batch.data(), batch.size(), ties), 4u);
  // The batch as close behind the run as the merge allows.
  entries.resize(3 + 4);
  entries.insert(entries.end(), batch.begin(), batch.begin() + 4);
  const std::size_t count =
      MergeBatch(entries.data(), 3, entries.data() + 7, 4, ties);
  entries.resize(count);
  EXPECT_EQ(LineIndexesOf(entries),
            (std::vector<std::uint32_t>{3, 5, 1, 6, 7}));
}

TEST(KeyIndexRunsTest, MergeOfRunsKeepsTheLatestRunsEntryOfEachKey) {
  // Three runs, filed in this order; "b" in all of them, "D" and "d" in
  // two. Keys past the summary's reach decide between the "x" keys.
  const std::string lead(40, 'x');
  const std::vector<std::string> keys = {
      "a", "b", "d",        lead + "2",  // run 0
      "B", "c", lead + "1", lead + "3",  // run 1
      "b", "D", "e"};                    // run 2
  const KeysByLineIndex ties(keys);
  std::vector<Entry> entries = EntriesOf(keys);
  std::vector<RunCursor> runs;
  for (const auto& [begin, end] : {std::pair{0, 4}, {4, 8}, {8, 11}}) {
    std::vector<Entry> scratch(end - begin);
    SortEntries(entries.data() + begin, scratch.data(), end - begin, ties);
    runs.push_back({entries.data() + begin, entries.data() + end});
  }
  std::vector<MergeSlot> slots(MergeSlotsFor(runs.size()));
  RunMerger merger(runs.data(), runs.size(), slots.data(), ties);
  // Three at a time: a stretch may end while an equal key could follow.
  std::vector<std::uint32_t> line_indexes;
  while (!merger.done()) {
    std::uint32_t stretch[3];
    const std::size_t written = merger.Merge(stretch, 3);
    ASSERT_TRUE(written == 3 || merger.done());
    line_indexes.insert(line_indexes.end(), stretch, stretch + written);
  }
  EXPECT_EQ(line_indexes,
            (std::vector<std::uint32_t>{0, 8, 5, 9, 10, 6, 3, 7}));
}

TEST(KeyIndexRunsTest, OrderWithoutConsistencyLosesNoEntry) {
  const RandomTieBreak ties;
  const std::vector<std::string> keys(3000, "k");
  std::vector<Entry> items = EntriesOf(keys);
  std::vector<Entry> scratch(items.size());
  SortEntries(items.data(), scratch.data(), items.size(), ties);
  std::vector<std::uint32_t> line_indexes = LineIndexesOf(items);
  std::sort(line_indexes.begin(), line_indexes.end());
  EXPECT_EQ(line_indexes, LineIndexesOf(EntriesOf(keys)));

  // Folding and merging stay within their arrays however it answers.
  const std::size_t kept = FoldEqualKeys(items.data(), items.size(), ties);
  std::vector<Entry> entries(items.begin(), items.begin() + 1000);
  entries.resize(1000 + 2 * kept);
  std::copy(items.begin(), items.begin() + kept, entries.begin() + 1000 + kept);
  const std::size_t count = MergeBatch(
      entries.data(), 1000, entries.data() + 1000 + kept, kept, ties);
  EXPECT_GE(count, std::max<std::size_t>(1000, kept));
  EXPECT_LE(count, 1000 + kept);
  std::vector<RunCursor> runs;
  for (std::size_t begin = 0; begin < items.size(); begin += 700) {
    runs.push_back({items.data() + begin,
                    items.data() + std::min(begin + 700, items.size())});
  }
  std::vector<MergeSlot> slots(MergeSlotsFor(runs.size()));
  std::vector<std::uint32_t> merged(items.size() + 1);
  RunMerger merger(runs.data(), runs.size(), slots.data(), ties);
  EXPECT_LE(merger.Merge(merged.data(), merged.size()), items.size());
  EXPECT_TRUE(merger.done());
}

}  // namespace
}  // namespace mlfsort::key_index

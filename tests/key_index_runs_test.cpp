#include "sorter/key_index_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sorter/key_order.h"

namespace mlfsort::key_index {
namespace {

// Answers at random, and differently each time: no order at all.
class RandomOrder final : public KeyOrder {
 public:
  int Compare(std::string_view, std::string_view) const override {
    return static_cast<int>(random_() % 3) - 1;
  }
  std::uint64_t Summary(std::string_view) const override { return 0; }

 private:
  mutable std::mt19937 random_{17};
};

// Entries for `keys`, each filed under its position in `keys`.
std::vector<Entry> EntriesOf(const std::vector<std::string>& keys) {
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::vector<Entry> entries;
  for (const std::string& key : keys) {
    entries.push_back({order.WideSummary(key), key.data(),
                       static_cast<std::uint32_t>(key.size()),
                       static_cast<std::uint32_t>(entries.size())});
  }
  return entries;
}

std::vector<std::uint32_t> LineIndexesOf(const std::vector<Entry>& entries) {
  std::vector<std::uint32_t> line_indexes;
  for (const Entry& entry : entries) line_indexes.push_back(entry.line_index);
  return line_indexes;
}

TEST(KeyIndexRunsTest, SortIsStableAtEverySize) {
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::mt19937 random(3);
  for (const std::size_t count : {0, 1, 15, 16, 17, 33, 1000, 5000}) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < count; ++i) {
      // Few distinct keys, in both cases, so that most have equals.
      keys.push_back((random() % 2 ? "utt" : "UTT") +
                     std::to_string(random() % 40));
    }
    std::vector<Entry> items = EntriesOf(keys);
    std::vector<Entry> expected = items;
    std::stable_sort(expected.begin(), expected.end(),
                     [&order](const Entry& a, const Entry& b) {
                       return order.Compare(a.key(), b.key()) < 0;
                     });
    std::vector<Entry> sorted(count);
    SortInto(order, items.data(), sorted.data(), count);
    EXPECT_EQ(LineIndexesOf(sorted), LineIndexesOf(expected)) << count;
  }
}

TEST(KeyIndexRunsTest, FoldAndMergeKeepTheLatestEntryOfEachKey) {
  const KeyOrder& order = PortableKeyOrder::Instance();
  const std::vector<std::string> keys = {"b", "d", "f",             // the run
                                         "a", "B", "b", "e", "F"};  // a batch
  std::vector<Entry> entries = EntriesOf(keys);
  std::vector<Entry> batch(entries.begin() + 3, entries.end());
  std::vector<Entry> sorted(batch.size());
  SortInto(order, batch.data(), sorted.data(), batch.size());
  ASSERT_EQ(FoldEqualKeys(order, sorted.data(), sorted.size()), 4u);
  // The batch as close behind the run as the merge allows.
  entries.resize(3 + 4);
  entries.insert(entries.end(), sorted.begin(), sorted.begin() + 4);
  const std::size_t count =
      MergeBatch(order, entries.data(), 3, entries.data() + 7, 4);
  entries.resize(count);
  std::vector<std::string> texts;
  for (const Entry& entry : entries) texts.emplace_back(entry.key());
  EXPECT_EQ(texts, (std::vector<std::string>{"a", "b", "d", "e", "F"}));
  EXPECT_EQ(LineIndexesOf(entries),
            (std::vector<std::uint32_t>{3, 5, 1, 6, 7}));
}

TEST(KeyIndexRunsTest, OrderWithoutConsistencyLosesNoEntry) {
  const RandomOrder order;
  std::vector<std::string> keys(3000, "k");
  std::vector<Entry> items = EntriesOf(keys);
  std::vector<Entry> sorted(items.size());
  SortInto(order, items.data(), sorted.data(), items.size());
  std::vector<std::uint32_t> line_indexes = LineIndexesOf(sorted);
  std::sort(line_indexes.begin(), line_indexes.end());
  EXPECT_EQ(line_indexes, LineIndexesOf(EntriesOf(keys)));

  // Folding and merging stay within their arrays however it answers.
  const std::size_t kept = FoldEqualKeys(order, sorted.data(), sorted.size());
  std::vector<Entry> entries(sorted.begin(), sorted.begin() + 1000);
  entries.resize(1000 + 2 * kept);
  std::copy(sorted.begin(), sorted.begin() + kept,
            entries.begin() + 1000 + kept);
  const std::size_t count = MergeBatch(order, entries.data(), 1000,
                                       entries.data() + 1000 + kept, kept);
  EXPECT_GE(count, std::max<std::size_t>(1000, kept));
  EXPECT_LE(count, 1000 + kept);
}

}  // namespace
}  // namespace mlfsort::key_index

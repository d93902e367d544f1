#include "index/sorted_key_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory_resource>
#include <new>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "index/sorted_key_index_test_helper.h"
#include "order/key_order.h"
#include "support/failing_memory.h"
#include "support/sort_model.h"

namespace mlfsort {
namespace {

// Reads the index by position and tells the memory it holds.
using Probe = SortedKeyIndexTestHelper;

using std::string_literals::operator""s;

// Byte order with ASCII letter case folded, a prefix first; counts the calls
// to Compare. With `summarize` the summary is the first eight folded bytes,
// so most comparisons end there; without, every one reaches Compare.
class CaseBlindOrder final : public KeyOrder {
 public:
  explicit CaseBlindOrder(bool summarize) : summarize_(summarize) {}

  int Compare(std::string_view a, std::string_view b) const override {
    ++comparisons_;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
      if (Fold(a[i]) != Fold(b[i])) return Fold(a[i]) - Fold(b[i]);
    }
    return (a.size() > b.size()) - (a.size() < b.size());
  }

  std::uint64_t Summary(std::string_view key) const override {
    std::uint64_t summary = 0;
    for (std::size_t i = 0; summarize_ && i < 8; ++i) {
      summary = summary << 8 | (i < key.size() ? Fold(key[i]) : 0);
    }
    return summary;
  }

  int comparisons() const { return comparisons_; }

 private:
  static int Fold(char byte) {
    const auto value = static_cast<unsigned char>(byte);
    return value >= 'A' && value <= 'Z' ? value - 'A' + 'a' : value;
  }

  bool summarize_;
  // Counted on the worker thread too.
  mutable std::atomic<int> comparisons_ = 0;
};

// Holds key bytes at fixed addresses for as long as an index views them,
// and finds them again by the line index filed with them.
class KeyStore final : public KeySource {
 public:
  std::string_view Keep(std::string key, std::uint32_t line_index) {
    return by_line_index_[line_index] = keys_.emplace_back(std::move(key));
  }
  std::string_view KeyOf(std::uint32_t line_index) const override {
    return by_line_index_.at(line_index);
  }

 private:
  std::deque<std::string> keys_;
  std::map<std::uint32_t, std::string_view> by_line_index_;
};

// Keys filed under their positions in a list.
class KeyList final : public KeySource {
 public:
  explicit KeyList(const std::vector<std::string>& keys) : keys_(keys) {}
  std::string_view KeyOf(std::uint32_t line_index) const override {
    return keys_.at(line_index);
  }

 private:
  const std::vector<std::string>& keys_;
};

struct ModelEntry {
  std::string key;
  std::uint32_t line_index;
  bool operator==(const ModelEntry&) const = default;
};

// The index's behaviour on a plain sorted vector.
class ReferenceIndex {
 public:
  explicit ReferenceIndex(const KeyOrder& order) : order_(order) {}

  void Insert(std::string_view key, std::uint32_t line_index) {
    auto place = std::lower_bound(
        entries_.begin(), entries_.end(), key,
        [this](const ModelEntry& entry, std::string_view probe) {
          return order_.Compare(entry.key, probe) < 0;
        });
    if (place == entries_.end() || order_.Compare(place->key, key) != 0) {
      place = entries_.insert(place, ModelEntry{});
    }
    *place = {std::string(key), line_index};
  }

  const std::vector<ModelEntry>& entries() const { return entries_; }

 private:
  const KeyOrder& order_;
  std::vector<ModelEntry> entries_;
};

std::vector<ModelEntry> Contents(SortedKeyIndex& index) {
  std::vector<ModelEntry> contents;
  for (std::int32_t position = 0; position < index.Count(); ++position) {
    contents.push_back({std::string(Probe::KeyAt(index, position)),
                        Probe::LineIndexAt(index, position)});
  }
  return contents;
}

// Utterance-like keys from a small pool, so that many repeat, in random
// letter case; a few short ones with zero bytes, hyphens and apostrophes.
std::vector<std::string> MakeKeys(int count, int distinct, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::string> keys;
  for (int i = 0; i < count; ++i) {
    const int pick = static_cast<int>(random() % distinct);
    std::string key =
        pick % 50 == 0
            ? "x\0-'"s.substr(0, pick / 50 % 5) + std::to_string(pick)
            : "*/spk" + std::to_string(pick % 37) + "/utt" +
                  std::to_string(pick) + ".lab";
    for (char& byte : key) {
      if (random() % 2 == 0) byte = static_cast<char>(std::toupper(byte));
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

class SortedKeyIndexEdgeTest : public ::testing::Test {
 protected:
  void Insert(std::string key, std::uint32_t line_index) {
    index_.Insert(keys_.Keep(std::move(key), line_index), line_index);
  }

  // Runs `read` and returns the index error's message, or "" without one.
  KeyStore keys_;
  CaseBlindOrder order_{false};
  SortedKeyIndex index_{order_, keys_};
};

TEST_F(SortedKeyIndexEdgeTest, FirstInsertMakesNoComparison) {
  Insert("utt1", 5);
  EXPECT_EQ(index_.Count(), 1);
  EXPECT_EQ(Probe::LineIndexAt(index_, 0), 5u);
  EXPECT_EQ(order_.comparisons(), 0);
}

TEST_F(SortedKeyIndexEdgeTest, KeysEndAscendingWithTheirLineIndexes) {
  Insert("c", 0);
  Insert("a", 1);
  Insert("b", 2);
  EXPECT_EQ(Contents(index_),
            (std::vector<ModelEntry>{{"a", 1}, {"b", 2}, {"c", 0}}));
  Insert("0", 3);  // before all: the others move up
  EXPECT_EQ(Contents(index_),
            (std::vector<ModelEntry>{{"0", 3}, {"a", 1}, {"b", 2}, {"c", 0}}));
}

TEST_F(SortedKeyIndexEdgeTest, EqualKeysKeepTheLatestTextAndLineIndex) {
  Insert("ab", 0);
  Insert("AB", 1);
  EXPECT_EQ(Contents(index_), (std::vector<ModelEntry>{{"AB", 1}}));
  // Folded within one batch, then a batch folded into the sorted entries.
  Insert("x", 4);
  Insert("X", 7);
  EXPECT_EQ(Contents(index_), (std::vector<ModelEntry>{{"AB", 1}, {"X", 7}}));
  Insert("Ab", 8);
  Insert("x", 9);
  EXPECT_EQ(Contents(index_), (std::vector<ModelEntry>{{"Ab", 8}, {"x", 9}}));
}

TEST_F(SortedKeyIndexEdgeTest, EmptyKeysAreEqual) {
  Insert("", 3);
  Insert("", 8);
  EXPECT_EQ(Contents(index_), (std::vector<ModelEntry>{{"", 8}}));
}

TEST_F(SortedKeyIndexEdgeTest, KeyWithZeroByteTakesPartWhole) {
  Insert("a\0c"s, 0);
  Insert("a"s, 1);
  Insert("a\0b"s, 2);
  Insert("A\0B"s, 3);
  EXPECT_EQ(Contents(index_),
            (std::vector<ModelEntry>{{"a", 1}, {"A\0B"s, 3}, {"a\0c"s, 0}}));
}

TEST_F(SortedKeyIndexEdgeTest, PositionsOutsideReadNothing) {
  Insert("a", 0);
  Insert("b", 1);
  EXPECT_TRUE(index_.LineIndexesFrom(2).empty());
  EXPECT_TRUE(index_.LineIndexesFrom(-1).empty());
  EXPECT_EQ(index_.LineIndexesFrom(1).size(), 1u);
  EXPECT_EQ(Contents(index_), (std::vector<ModelEntry>{{"a", 0}, {"b", 1}}));
}

TEST(SortedKeyIndexReadTest, EmptyIndexHasNoPositions) {
  const KeyStore keys;
  SortedKeyIndex index(PortableKeyOrder::Instance(), keys);
  EXPECT_EQ(index.Count(), 0);
  EXPECT_TRUE(index.LineIndexesFrom(0).empty());
}

TEST(SortedKeyIndexReadTest, ReadAfterInsertSeesMovedPositions) {
  const CaseBlindOrder order(true);
  const std::vector<std::string> keys = MakeKeys(5000, 1 << 30, 7);
  const KeyList key_list(keys);
  SortedKeyIndex index(order, key_list);
  ReferenceIndex reference(order);
  std::mt19937 random(11);
  for (std::uint32_t line = 0; line < keys.size(); ++line) {
    // Leave the read cursor somewhere, then insert in front of it.
    const auto before = static_cast<std::int32_t>(random() % (line + 1));
    if (before < index.Count()) Probe::LineIndexAt(index, before);
    index.Insert(keys[line], line);
    reference.Insert(keys[line], line);
    const std::int32_t probe = std::min(before + 1, index.Count() - 1);
    ASSERT_EQ(Probe::LineIndexAt(index, probe),
              reference.entries()[probe].line_index);
  }
  // Backwards, then forwards, as the write phase does.
  for (std::int32_t position = index.Count() - 1; position >= 0; --position) {
    ASSERT_EQ(Probe::LineIndexAt(index, position),
              reference.entries()[position].line_index);
  }
  EXPECT_EQ(Contents(index), reference.entries());
}

enum class Arrival { kRandom, kSorted, kReversed };

struct ModelCase {
  const char* name;
  const KeyOrder* order;
  Arrival arrival;
};

void PrintTo(const ModelCase& model_case, std::ostream* out) {
  *out << model_case.name;
}

const CaseBlindOrder kUnsummarizedOrder(false);
const CaseBlindOrder kSummarizedOrder(true);

class SortedKeyIndexModelTest : public ::testing::TestWithParam<ModelCase> {
 protected:
  // 30000 keys out of 8000 distinct ones, in the case's arrival order.
  std::vector<std::string> Keys() const {
    const KeyOrder& order = *GetParam().order;
    std::vector<std::string> keys = MakeKeys(30000, 8000, 3);
    const auto ascending = [&order](const std::string& a,
                                    const std::string& b) {
      return order.Compare(a, b) < 0;
    };
    if (GetParam().arrival != Arrival::kRandom) {
      std::stable_sort(keys.begin(), keys.end(), ascending);
    }
    if (GetParam().arrival == Arrival::kReversed) {
      std::reverse(keys.begin(), keys.end());
    }
    return keys;
  }
};

TEST_P(SortedKeyIndexModelTest, MatchesReferenceWhereverRead) {
  const std::vector<std::string> keys = Keys();
  const KeyList key_list(keys);
  // On this thread, and with full batches sorted on the worker.
  for (const bool threaded : {false, true}) {
    SortedKeyIndex index(*GetParam().order, key_list, &OperatorNewMemory(),
                         threaded);
    ReferenceIndex reference(*GetParam().order);
    for (std::uint32_t line = 0; line < keys.size(); ++line) {
      index.Insert(keys[line], line);
      reference.Insert(keys[line], line);
      // Reads at uneven intervals, so that batches of every size are
      // sorted, and the runs merged at every count.
      if (line % 9973 == line / 9973 % 7 * 1409) {
        ASSERT_EQ(Contents(index), reference.entries())
            << "insert " << line << (threaded ? " threaded" : "");
      }
    }
    EXPECT_EQ(Contents(index), reference.entries());
  }
}

// Kept all, equal keys come out in insert order: on a batch's sort, when a
// batch joins the last run, across merged runs, and in runs read one after
// another (runs in key order may begin with the key the run before ends
// with; in reverse order they may not be chained then).
TEST_P(SortedKeyIndexModelTest, KeepingEqualKeysIsAStableSort) {
  const std::vector<std::string> keys = Keys();
  const KeyList key_list(keys);
  const KeyOrder& order = *GetParam().order;
  for (const bool threaded : {false, true}) {
    SortedKeyIndex index(order, key_list, &OperatorNewMemory(), threaded,
                         SortedKeyIndex::EqualKeys::kKeepAll);
    std::vector<ModelEntry> reference;
    for (std::uint32_t line = 0; line < keys.size(); ++line) {
      index.Insert(keys[line], line);
      reference.push_back({keys[line], line});
      if (line % 9973 == line / 9973 % 7 * 1409 || line + 1 == keys.size()) {
        std::stable_sort(reference.begin(), reference.end(),
                         [&order](const ModelEntry& a, const ModelEntry& b) {
                           return order.Compare(a.key, b.key) < 0;
                         });
        ASSERT_EQ(index.Count(), static_cast<std::int32_t>(line + 1));
        ASSERT_EQ(Contents(index), reference)
            << "insert " << line << (threaded ? " threaded" : "");
      }
    }
  }
}

TEST_P(SortedKeyIndexModelTest, FailedAllocationLeavesIndexAsItWas) {
  const std::vector<std::string> keys = Keys();
  const KeyList key_list(keys);
  FailingMemory memory;
  {
    SortedKeyIndex index(*GetParam().order, key_list, &memory);
    ReferenceIndex reference(*GetParam().order);
    for (std::uint32_t line = 0; line < 10000; ++line) {
      // Fail at each allocation the insert makes in turn, until it needs
      // no more than it is allowed.
      for (int allowed = 0;; ++allowed) {
        memory.AllowAllocations(allowed);
        try {
          index.Insert(keys[line], line);
          break;
        } catch (const std::bad_alloc&) {
          ASSERT_EQ(Contents(index), reference.entries()) << "insert " << line;
        }
      }
      reference.Insert(keys[line], line);
      ASSERT_EQ(memory.outstanding_bytes(),
                Probe::AllocatedBytes(index) - sizeof(SortedKeyIndex));
    }
    memory.AllowAllocations(-1);
    EXPECT_EQ(Contents(index), reference.entries());
  }
  EXPECT_EQ(memory.outstanding_bytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    OrdersAndArrivals, SortedKeyIndexModelTest,
    ::testing::Values(
        ModelCase{"UnsummarizedRandom", &kUnsummarizedOrder, Arrival::kRandom},
        ModelCase{"SummarizedRandom", &kSummarizedOrder, Arrival::kRandom},
        ModelCase{"SummarizedSorted", &kSummarizedOrder, Arrival::kSorted},
        ModelCase{"SummarizedReversed", &kSummarizedOrder, Arrival::kReversed},
        ModelCase{"PortableRandom", &PortableKeyOrder::Instance(),
                  Arrival::kRandom},
        ModelCase{"PortableSorted", &PortableKeyOrder::Instance(),
                  Arrival::kSorted},
        ModelCase{"PortableReversed", &PortableKeyOrder::Instance(),
                  Arrival::kReversed}),
    [](const ::testing::TestParamInfo<ModelCase>& info) {
      return std::string(info.param.name);
    });

// Label-like keys that part early, at the speaker, but need more than the
// fourteen weights a summary holds after the lead they share with the
// reference, and variants that tie on their summaries: letter case, a tail,
// '_' for a digit, hyphens and apostrophes, and keys cut short.
std::vector<std::string> EarlyKeys(int count, unsigned seed) {
  std::mt19937 random(seed);
  const auto below = [&random](std::size_t bound) { return random() % bound; };
  std::vector<std::string> keys;
  for (int i = 0; i < count; ++i) {
    std::string key = "/spk000" + std::to_string(below(4)) + "/session/utt" +
                      std::to_string(1000000 + below(2000)) + ".lab\"";
    const std::size_t number_at = key.find("utt") + 3;
    switch (below(6)) {
      case 0:
        key += " " + std::to_string(below(3));
        break;
      case 1:
        key[number_at + below(7)] = '_';
        break;
      case 2:
        key.insert(below(key.size() + 1), 1, "-'"[below(2)]);
        break;
      case 3:
        key.resize(number_at + below(8));
        break;
      default:
        break;
    }
    for (char& byte : key) {
      if (below(4) == 0) byte = static_cast<char>(std::toupper(byte));
    }
    keys.push_back(std::move(key));
  }
  return keys;
}

// The keys in the model's order, equal keys in insert order, with their
// line indexes; with `keep_latest`, only the latest of each equal run.
std::vector<ModelEntry> ModelContents(const std::vector<std::string>& keys,
                                      bool keep_latest) {
  std::vector<ModelEntry> sorted;
  for (std::uint32_t line = 0; line < keys.size(); ++line) {
    sorted.push_back({keys[line], line});
  }
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const ModelEntry& a, const ModelEntry& b) {
                     return ModelCompareKeys(a.key, b.key) < 0;
                   });
  if (!keep_latest) return sorted;
  std::vector<ModelEntry> latest;
  for (const ModelEntry& entry : sorted) {
    if (!latest.empty() &&
        ModelCompareKeys(latest.back().key, entry.key) == 0) {
      latest.back() = entry;
    } else {
      latest.push_back(entry);
    }
  }
  return latest;
}

// Ties on the summaries are decided by the keys: in a batch's sort, in the
// fold of equal keys, when a batch joins the last run, and in the merge of
// the runs, with and without the worker, folding equal keys or keeping all.
TEST(SortedKeyIndexTieTest, KeysPastTheSummaryStandAsTheModelOrdersThem) {
  const std::vector<std::string> keys = EarlyKeys(70000, 23);
  const KeyList key_list(keys);
  for (const bool keep_latest : {true, false}) {
    const std::vector<ModelEntry> expected = ModelContents(keys, keep_latest);
    for (const bool threaded : {false, true}) {
      SortedKeyIndex index(PortableKeyOrder::Instance(), key_list,
                           &OperatorNewMemory(), threaded,
                           keep_latest ? SortedKeyIndex::EqualKeys::kKeepLatest
                                       : SortedKeyIndex::EqualKeys::kKeepAll);
      for (std::uint32_t line = 0; line < keys.size(); ++line) {
        index.Insert(keys[line], line);
        // One read mid-way: the batch after it joins the last run.
        if (line == 5000) index.Count();
      }
      EXPECT_EQ(Contents(index), expected)
          << (keep_latest ? "latest" : "all") << (threaded ? " threaded" : "");
    }
  }
}

class SortedKeyIndexCostTest : public ::testing::TestWithParam<Arrival> {
 protected:
  // 100000 distinct keys in the parameter's arrival order.
  std::vector<std::string> Keys() const {
    std::vector<std::string> keys;
    for (int i = 0; i < 100000; ++i) {
      keys.push_back("*/spk" + std::to_string(i % 97) + "/utt" +
                     std::to_string(1000000 + i) + ".lab");
    }
    if (GetParam() == Arrival::kRandom) {
      std::shuffle(keys.begin(), keys.end(), std::mt19937(5));
    } else {
      std::sort(keys.begin(), keys.end());
    }
    if (GetParam() == Arrival::kReversed) {
      std::reverse(keys.begin(), keys.end());
    }
    return keys;
  }
};

TEST_P(SortedKeyIndexCostTest, ComparisonsStayLogarithmicPerInsert) {
  const CaseBlindOrder order(false);
  const std::vector<std::string> keys = Keys();
  const KeyList key_list(keys);
  SortedKeyIndex index(order, key_list);
  // Each key twice in a row, a new key and then a duplicate; then all of
  // them again, far from their first insert.
  for (int round = 0; round < 2; ++round) {
    for (std::uint32_t line = 0; line < keys.size(); ++line) {
      index.Insert(keys[line], line);
      index.Insert(keys[line], line);
    }
  }
  EXPECT_EQ(index.Count(), static_cast<int>(keys.size()));
  const auto inserts = static_cast<std::uint32_t>(4 * keys.size());
  EXPECT_LE(order.comparisons(),
            static_cast<int>(inserts * std::bit_width(inserts)));
  // Runs of keys in order or in reverse are read one after another.
  for (std::int32_t position = 1; position < index.Count(); ++position) {
    ASSERT_LT(order.Compare(Probe::KeyAt(index, position - 1),
                            Probe::KeyAt(index, position)),
              0)
        << position;
  }
}

TEST_P(SortedKeyIndexCostTest, MemoryPerEntryStaysSmall) {
  const std::vector<std::string> keys = Keys();
  const KeyList key_list(keys);
  SortedKeyIndex index(PortableKeyOrder::Instance(), key_list);
  for (std::uint32_t line = 0; line < keys.size(); ++line) {
    index.Insert(keys[line], line);
  }
  // Per key inserted, while the index still fills: 16 bytes an entry, in
  // an array with room for the runs and two batches of at most an eighth of
  // them each; 4 bytes of read order with room for one more batch; the batch
  // filling and the batch being sorted, a 16-byte key view each. An array
  // that grows doubles, so it holds at most twice what it needs. The index
  // object is left out: its size is fixed.
  static_assert(sizeof(key_index::Entry) == 16);
  const double bytes_per_entry =
      static_cast<double>(Probe::AllocatedBytes(index) -
                          sizeof(SortedKeyIndex)) /
      static_cast<double>(keys.size());
  EXPECT_LE(bytes_per_entry,
            2 * (16 * (1 + 2.0 / 8) + 4 * (1 + 1.0 / 8) + 2 * 16 / 8.0) + 1);
}

INSTANTIATE_TEST_SUITE_P(Arrivals, SortedKeyIndexCostTest,
                         ::testing::Values(Arrival::kRandom, Arrival::kSorted,
                                           Arrival::kReversed));

}  // namespace
}  // namespace mlfsort

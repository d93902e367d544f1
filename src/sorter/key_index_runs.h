// The entries of the sorted key index and the steps that put them in order:
// a stable sort of newly added entries, folding equal keys into one entry,
// and merging a sorted batch into the sorted run.
//
// Every step stays within the bounds it is given whatever the key order
// answers, so an order that is not consistent can leave entries out of
// order but can never make a step read or write outside its arrays.

#ifndef MLFSORT_SORTER_KEY_INDEX_RUNS_H_
#define MLFSORT_SORTER_KEY_INDEX_RUNS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sorter/key_order.h"

namespace mlfsort::key_index {

// One key, by its summary and a view of its bytes (which the index does not
// own), with the line index filed under it.
struct Entry {
  WideKeySummary summary;
  const char* key_data;
  std::uint32_t key_size;
  std::uint32_t line_index;

  std::string_view key() const { return {key_data, key_size}; }
};

// Three-way comparison of two entries' keys: by summary where the summaries
// differ, else by the key order.
inline int CompareEntries(const KeyOrder& order, const Entry& a,
                          const Entry& b) {
  if (a.summary != b.summary) return a.summary < b.summary ? -1 : 1;
  return order.Compare(a.key(), b.key());
}

// Sorts `items[0, count)` by key, equal keys kept in their order, and leaves
// the result in `scratch[0, count)`; `items` is left in no useful order.
// The two ranges must not overlap.
void SortInto(const KeyOrder& order, Entry* items, Entry* scratch,
              std::size_t count);

// Folds each run of equal keys in the sorted `items[0, count)` into one
// entry, the run's last (the latest filed). Returns the number of entries
// left.
std::size_t FoldEqualKeys(const KeyOrder& order, Entry* items,
                          std::size_t count);

// Merges the sorted batch `batch[0, batch_count)` into the sorted run
// `run[0, run_count)`; both hold one entry per key, and the batch's entries
// were filed after the run's. The batch must lie at or after
// run + run_count + batch_count, so that the merge, working from the back,
// never writes over an entry it has yet to read. A key in both keeps the
// batch's entry. Returns the new run count.
std::size_t MergeBatch(const KeyOrder& order, Entry* run, std::size_t run_count,
                       const Entry* batch, std::size_t batch_count);

}  // namespace mlfsort::key_index

#endif  // MLFSORT_SORTER_KEY_INDEX_RUNS_H_

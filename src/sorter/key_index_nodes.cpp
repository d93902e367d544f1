#include "sorter/key_index_nodes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <string_view>
#include <type_traits>

namespace mlfsort::key_index {
namespace {

// The key fields of a node's items.
struct KeyColumns {
  const WideKeySummary* summaries;
  const char* const* key_data;
  const std::uint32_t* key_sizes;
};

// Binary search of the keys in slots `low` to `high`. Summaries decide on
// their own where they differ; only the run of slots whose summary equals
// the probe's needs the key bytes, which are likely far away in memory. All
// of that run is fetched at once before the search, so the misses overlap
// instead of following one another.
SearchResult SearchKeys(const KeyOrder& order, const KeyColumns& keys, int low,
                        int high, const Probe& probe) {
  const WideKeySummary* const first = keys.summaries + low;
  const WideKeySummary* const last = keys.summaries + high + 1;
  const WideKeySummary* const run_begin =
      std::lower_bound(first, last, probe.summary);
  const WideKeySummary* const run_end =
      std::upper_bound(run_begin, last, probe.summary);
  low = static_cast<int>(run_begin - keys.summaries);
  high = static_cast<int>(run_end - keys.summaries) - 1;
  for (int slot = low; slot <= high; ++slot) {
    __builtin_prefetch(keys.key_data[slot]);
  }
  while (low <= high) {
    const int middle = (low + high) / 2;
    const int comparison = order.Compare(
        std::string_view(keys.key_data[middle], keys.key_sizes[middle]),
        probe.key);
    if (comparison < 0) {
      low = middle + 1;
    } else if (comparison > 0) {
      high = middle - 1;
    } else {
      return {true, middle};
    }
  }
  return {false, low};
}

// The array functions below work on one field of a node's items at a time;
// the node functions apply them to every field.

template <typename T, std::size_t kCapacity>
void InsertIntoArray(T (&items)[kCapacity], int size, int at,
                     std::type_identity_t<T> item) {
  std::copy_backward(items + at, items + size, items + size + 1);
  items[at] = item;
}

template <typename T, std::size_t kCapacity>
void SplitArray(T (&left)[kCapacity], T (&right)[kCapacity], int at,
                std::type_identity_t<T> item, int kept) {
  constexpr int kFull = static_cast<int>(kCapacity);
  if (at < kept) {
    std::copy(left + kept - 1, left + kFull, right);
    std::copy_backward(left + at, left + kept - 1, left + kept);
    left[at] = item;
  } else {
    T* next = std::copy(left + kept, left + at, right);
    *next++ = item;
    std::copy(left + at, left + kFull, next);
  }
}

template <typename T, std::size_t kCapacity>
void ShareArrays(T (&left)[kCapacity], int left_size, T (&right)[kCapacity],
                 int right_size, int at, std::type_identity_t<T> item,
                 int left_size_after) {
  T all[2 * kCapacity];
  T* end = std::copy(left, left + left_size, all);
  end = std::copy(right, right + right_size, end);
  std::copy_backward(all + at, end, end + 1);
  all[at] = item;
  std::copy(all, all + left_size_after, left);
  std::copy(all + left_size_after, end + 1, right);
}

// Calls apply(left field array, right field array, entry's field value) for
// every field of a leaf.
template <typename Apply>
void ForEachField(LeafNode& left, LeafNode& right, const Entry& entry,
                  Apply apply) {
  apply(left.summaries, right.summaries, entry.summary);
  apply(left.key_data, right.key_data, entry.key_data);
  apply(left.key_sizes, right.key_sizes, entry.key_size);
  apply(left.line_indexes, right.line_indexes, entry.line_index);
}

template <typename Apply>
void ForEachField(InnerNode& left, InnerNode& right, const InnerSlot& slot,
                  Apply apply) {
  apply(left.first_summaries, right.first_summaries, slot.first_summary);
  apply(left.subtree_sizes, right.subtree_sizes, slot.subtree_size);
  apply(left.children, right.children, slot.child);
  apply(left.first_key_data, right.first_key_data, slot.first_key_data);
  apply(left.first_key_sizes, right.first_key_sizes, slot.first_key_size);
}

}  // namespace

SearchResult SearchLeaf(const KeyOrder& order, const LeafNode& leaf,
                        const Probe& probe) {
  return SearchKeys(order, {leaf.summaries, leaf.key_data, leaf.key_sizes}, 0,
                    leaf.size - 1, probe);
}

SearchResult SearchInner(const KeyOrder& order, const InnerNode& inner,
                         const Probe& probe) {
  // The first child has no dividing key before it.
  const SearchResult result = SearchKeys(
      order,
      {inner.first_summaries, inner.first_key_data, inner.first_key_sizes}, 1,
      inner.size - 1, probe);
  return result.found ? result : SearchResult{false, result.slot - 1};
}

std::int32_t SubtreeSize(const InnerNode& inner) {
  return std::accumulate(inner.subtree_sizes, inner.subtree_sizes + inner.size,
                         std::int32_t{0});
}

int KeptOnSplit(int capacity, int at, bool leftmost, bool rightmost,
                int first_slot) {
  // Sorted input keeps adding at the right end of the index and reversed
  // input at the left end; splitting off only the new item there leaves the
  // nodes behind the growing end full instead of half full.
  if (rightmost && at == capacity) return capacity;
  if (leftmost && at == first_slot) return at + 1;
  return (capacity + 1) / 2;
}

void InsertEntry(LeafNode& leaf, int at, const Entry& entry) {
  ForEachField(leaf, leaf, entry, [&](auto& items, auto&, auto item) {
    InsertIntoArray(items, leaf.size, at, item);
  });
  ++leaf.size;
}

void SplitEntries(LeafNode& left, LeafNode& right, int at, const Entry& entry,
                  int kept) {
  ForEachField(left, right, entry,
               [&](auto& left_items, auto& right_items, auto item) {
                 SplitArray(left_items, right_items, at, item, kept);
               });
  left.size = kept;
  right.size = kLeafCapacity + 1 - kept;
}

void ShareEntries(LeafNode& left, LeafNode& right, int at, const Entry& entry) {
  const int total = left.size + right.size + 1;
  const int left_size_after = (total + 1) / 2;
  ForEachField(left, right, entry,
               [&](auto& left_items, auto& right_items, auto item) {
                 ShareArrays(left_items, left.size, right_items, right.size, at,
                             item, left_size_after);
               });
  left.size = left_size_after;
  right.size = total - left_size_after;
}

void InsertSlot(InnerNode& inner, int at, const InnerSlot& slot) {
  ForEachField(inner, inner, slot, [&](auto& items, auto&, auto item) {
    InsertIntoArray(items, inner.size, at, item);
  });
  ++inner.size;
}

void SplitSlots(InnerNode& left, InnerNode& right, int at,
                const InnerSlot& slot, int kept) {
  ForEachField(left, right, slot,
               [&](auto& left_items, auto& right_items, auto item) {
                 SplitArray(left_items, right_items, at, item, kept);
               });
  left.size = kept;
  right.size = kInnerCapacity + 1 - kept;
}

}  // namespace mlfsort::key_index

#include "sorter/key_index_runs.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace mlfsort::key_index {
namespace {

// Short stretches are sorted by insertion before the merge passes begin.
constexpr std::size_t kInsertionRun = 16;
// 16 Ki entries of 32 bytes, and as much scratch: 1 MiB in all.
constexpr std::size_t kCachedRun = 16 * 1024;

void InsertionSort(const KeyOrder& order, Entry* items, std::size_t count) {
  for (std::size_t next = 1; next < count; ++next) {
    const Entry item = items[next];
    std::size_t slot = next;
    while (slot > 0 && CompareEntries(order, item, items[slot - 1]) < 0) {
      items[slot] = items[slot - 1];
      --slot;
    }
    items[slot] = item;
  }
}

// Merges the sorted from[low, middle) and from[middle, high) into
// to[low, high), taking from the left on equal keys.
void MergeRuns(const KeyOrder& order, const Entry* from, Entry* to,
               std::size_t low, std::size_t middle, std::size_t high) {
  std::size_t left = low;
  std::size_t right = middle;
  std::size_t out = low;
  // Sorted and reversed files give runs already in order, or wholly out of
  // order, which one comparison tells.
  if (right == high) {
    std::memcpy(to + low, from + low, (high - low) * sizeof(Entry));
    return;
  }
  if (CompareEntries(order, from[right], from[middle - 1]) >= 0) {
    std::memcpy(to + low, from + low, (high - low) * sizeof(Entry));
    return;
  }
  if (CompareEntries(order, from[high - 1], from[low]) < 0) {
    std::memcpy(to + low, from + middle, (high - middle) * sizeof(Entry));
    std::memcpy(to + low + (high - middle), from + low,
                (middle - low) * sizeof(Entry));
    return;
  }
  while (left < middle && right < high) {
    if (CompareEntries(order, from[right], from[left]) < 0) {
      to[out++] = from[right++];
    } else {
      to[out++] = from[left++];
    }
  }
  std::memcpy(to + out, from + left, (middle - left) * sizeof(Entry));
  out += middle - left;
  std::memcpy(to + out, from + right, (high - right) * sizeof(Entry));
}

// Merges runs of `width` entries into runs of twice that, pass after pass,
// until one run is left. Starts in `items` and returns the array it ended in.
Entry* MergePasses(const KeyOrder& order, Entry* items, Entry* scratch,
                   std::size_t count, std::size_t width) {
  Entry* from = items;
  Entry* to = scratch;
  for (; width < count; width *= 2) {
    for (std::size_t low = 0; low < count; low += 2 * width) {
      const std::size_t middle = std::min(low + width, count);
      const std::size_t high = std::min(low + 2 * width, count);
      MergeRuns(order, from, to, low, middle, high);
    }
    std::swap(from, to);
  }
  return from;
}

}  // namespace

void SortInto(const KeyOrder& order, Entry* items, Entry* scratch,
              std::size_t count) {
  // Stretches small enough to stay in the processor's cache are sorted
  // whole first, so that only the passes above them go out to memory.
  for (std::size_t low = 0; low < count; low += kCachedRun) {
    const std::size_t size = std::min(kCachedRun, count - low);
    for (std::size_t run = low; run < low + size; run += kInsertionRun) {
      InsertionSort(order, items + run,
                    std::min(kInsertionRun, low + size - run));
    }
    const Entry* const sorted =
        MergePasses(order, items + low, scratch + low, size, kInsertionRun);
    if (sorted != items + low) {
      std::memcpy(items + low, sorted, size * sizeof(Entry));
    }
  }
  if (MergePasses(order, items, scratch, count, kCachedRun) != scratch) {
    std::memcpy(scratch, items, count * sizeof(Entry));
  }
}

std::size_t FoldEqualKeys(const KeyOrder& order, Entry* items,
                          std::size_t count) {
  if (count == 0) return 0;
  std::size_t kept = 1;
  for (std::size_t next = 1; next < count; ++next) {
    if (CompareEntries(order, items[kept - 1], items[next]) != 0) ++kept;
    items[kept - 1] = items[next];
  }
  return kept;
}

std::size_t MergeBatch(const KeyOrder& order, Entry* run, std::size_t run_count,
                       const Entry* batch, std::size_t batch_count) {
  // Fills run[0, run_count + batch_count) from the back. With `folded` keys
  // found in both so far, the next slot written is run_left + batch_left +
  // folded - 1, always at or after the unread part of the run.
  std::size_t run_left = run_count;
  std::size_t batch_left = batch_count;
  std::size_t out = run_count + batch_count;
  while (batch_left > 0 && run_left > 0) {
    const int comparison =
        CompareEntries(order, run[run_left - 1], batch[batch_left - 1]);
    if (comparison > 0) {
      run[--out] = run[--run_left];
    } else if (comparison < 0) {
      run[--out] = batch[--batch_left];
    } else {
      --run_left;
      run[--out] = batch[--batch_left];
    }
  }
  while (batch_left > 0) run[--out] = batch[--batch_left];
  // What is left of the run is in place; close the gap the folded keys left.
  const std::size_t folded = out - run_left;
  if (folded > 0) {
    std::memmove(run + run_left, run + out,
                 (run_count + batch_count - out) * sizeof(Entry));
  }
  return run_count + batch_count - folded;
}

}  // namespace mlfsort::key_index

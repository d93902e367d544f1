#include "sorter/key_index_runs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

namespace mlfsort::key_index {
namespace {

// Groups this small are put in order by insertion rather than by digits.
constexpr std::size_t kInsertionLimit = 24;
// Bits of the summary that one pass of the radix sort distributes on.
constexpr int kDigitBits = 8;
constexpr std::size_t kBuckets = std::size_t{1} << kDigitBits;

void InsertionSort(Entry* items, std::size_t count, const KeyTieBreak& keys) {
  for (std::size_t next = 1; next < count; ++next) {
    const Entry item = items[next];
    std::size_t slot = next;
    while (slot > 0 && CompareEntries(item, items[slot - 1], keys) < 0) {
      items[slot] = items[slot - 1];
      --slot;
    }
    items[slot] = item;
  }
}

// Merges the sorted from[low, middle) and from[middle, high) into
// to[low, high), taking from the left on equal keys.
void MergeHalves(const Entry* from, Entry* to, std::size_t low,
                 std::size_t middle, std::size_t high,
                 const KeyTieBreak& keys) {
  std::size_t left = low;
  std::size_t right = middle;
  std::size_t out = low;
  while (left < middle && right < high) {
    if (CompareEntries(from[right], from[left], keys) < 0) {
      to[out++] = from[right++];
    } else {
      to[out++] = from[left++];
    }
  }
  std::memcpy(to + out, from + left, (middle - left) * sizeof(Entry));
  out += middle - left;
  std::memcpy(to + out, from + right, (high - right) * sizeof(Entry));
}

// A stable merge sort, for entries whose summaries all tie: only their
// keys tell them apart. The result is left in `items`.
void MergeSort(Entry* items, Entry* scratch, std::size_t count,
               const KeyTieBreak& keys) {
  for (std::size_t low = 0; low < count; low += kInsertionLimit) {
    InsertionSort(items + low, std::min(kInsertionLimit, count - low), keys);
  }
  Entry* from = items;
  Entry* to = scratch;
  for (std::size_t width = kInsertionLimit; width < count; width *= 2) {
    for (std::size_t low = 0; low < count; low += 2 * width) {
      MergeHalves(from, to, low, std::min(low + width, count),
                  std::min(low + 2 * width, count), keys);
    }
    std::swap(from, to);
  }
  if (from != items) std::memcpy(items, from, count * sizeof(Entry));
}

// The summary as one 96-bit number, shifted right by `shift` (below 96) and
// cut to the digit's bits.
inline std::size_t DigitAt(const Entry& entry, int shift) {
  const std::uint64_t bits = shift >= 32 ? entry.summary_high >> (shift - 32)
                                         : entry.summary_high << (32 - shift) |
                                               entry.summary_low >> shift;
  return static_cast<std::size_t>(bits & (kBuckets - 1));
}

// Sorts items[0, count), leaving the result there.
void RadixSort(Entry* items, Entry* scratch, std::size_t count,
               const KeyTieBreak& keys) {
  if (count <= kInsertionLimit) {
    InsertionSort(items, count, keys);
    return;
  }
  // The digit starts at the most significant bit in which any two summaries
  // differ: bits the whole group shares cost no pass.
  std::uint64_t high_differs = 0;
  std::uint32_t low_differs = 0;
  for (std::size_t i = 1; i < count; ++i) {
    high_differs |= items[i].summary_high ^ items[0].summary_high;
    low_differs |= items[i].summary_low ^ items[0].summary_low;
  }
  if (high_differs == 0 && low_differs == 0) {
    MergeSort(items, scratch, count, keys);
    return;
  }
  const int top_bit = high_differs != 0 ? 95 - std::countl_zero(high_differs)
                                        : 31 - std::countl_zero(low_differs);
  const int shift = std::max(top_bit + 1 - kDigitBits, 0);
  std::array<std::size_t, kBuckets> starts{};
  for (std::size_t i = 0; i < count; ++i) ++starts[DigitAt(items[i], shift)];
  std::size_t start = 0;
  for (std::size_t& bucket : starts) {
    start += std::exchange(bucket, start);
  }
  // Distributes in order, so that equal digits keep their order; the
  // starts end as each bucket's end.
  for (std::size_t i = 0; i < count; ++i) {
    scratch[starts[DigitAt(items[i], shift)]++] = items[i];
  }
  std::size_t bucket_start = 0;
  for (const std::size_t bucket_end : starts) {
    const std::size_t size = bucket_end - bucket_start;
    if (size > 1) {
      RadixSort(scratch + bucket_start, items + bucket_start, size, keys);
    }
    bucket_start = bucket_end;
  }
  std::memcpy(items, scratch, count * sizeof(Entry));
}

}  // namespace

void SortEntries(Entry* items, Entry* scratch, std::size_t count,
                 const KeyTieBreak& keys) {
  RadixSort(items, scratch, count, keys);
}

std::size_t FoldEqualKeys(Entry* items, std::size_t count,
                          const KeyTieBreak& keys) {
  if (count == 0) return 0;
  std::size_t kept = 1;
  for (std::size_t next = 1; next < count; ++next) {
    if (CompareEntries(items[kept - 1], items[next], keys) != 0) ++kept;
    items[kept - 1] = items[next];
  }
  return kept;
}

std::size_t MergeBatch(Entry* run, std::size_t run_count, const Entry* batch,
                       std::size_t batch_count, const KeyTieBreak& keys) {
  // Fills run[0, run_count + batch_count) from the back. With `folded` keys
  // found in both so far, the next slot written is run_left + batch_left +
  // folded - 1, always at or after the unread part of the run.
  std::size_t run_left = run_count;
  std::size_t batch_left = batch_count;
  std::size_t out = run_count + batch_count;
  while (batch_left > 0 && run_left > 0) {
    const int comparison =
        CompareEntries(run[run_left - 1], batch[batch_left - 1], keys);
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

std::size_t MergeSlotsFor(std::size_t run_count) {
  return std::bit_ceil(std::max<std::size_t>(run_count, 1));
}

std::size_t MergeRuns(RunCursor* runs, std::size_t run_count,
                      std::uint32_t* slots, std::uint32_t* line_indexes,
                      const KeyTieBreak& keys) {
  // A tree of matches between the runs' next entries (a loser tree): each
  // inner node 1 .. leaves - 1 keeps the loser of its match, and the winner
  // goes on up. Leaves past the runs are empty runs. Equal keys go to the
  // earlier run, so they leave in the order they were filed.
  const std::size_t leaves = MergeSlotsFor(run_count);
  const auto before = [runs, run_count, &keys](std::uint32_t a,
                                               std::uint32_t b) {
    const bool a_done = a >= run_count || runs[a].next == runs[a].end;
    const bool b_done = b >= run_count || runs[b].next == runs[b].end;
    if (a_done || b_done) return !a_done;
    const int comparison = CompareEntries(*runs[a].next, *runs[b].next, keys);
    return comparison < 0 || (comparison == 0 && a < b);
  };
  // Plays the subtree under `node`; returns its winner.
  const auto play = [&](const auto& self, std::size_t node) -> std::uint32_t {
    if (node >= leaves) return static_cast<std::uint32_t>(node - leaves);
    const std::uint32_t left = self(self, 2 * node);
    const std::uint32_t right = self(self, 2 * node + 1);
    const bool left_wins = !before(right, left);
    slots[node] = left_wins ? right : left;
    return left_wins ? left : right;
  };
  std::uint32_t winner = play(play, 1);
  std::size_t written = 0;
  bool holding = false;
  Entry held{};
  while (winner < run_count && runs[winner].next != runs[winner].end) {
    const Entry& entry = *runs[winner].next++;
    // The held entry waits for any equal key from a later run.
    if (holding && CompareEntries(held, entry, keys) != 0) {
      line_indexes[written++] = held.line_index;
    }
    held = entry;
    holding = true;
    for (std::size_t node = (winner + leaves) / 2; node >= 1; node /= 2) {
      if (before(slots[node], winner)) std::swap(slots[node], winner);
    }
  }
  if (holding) line_indexes[written++] = held.line_index;
  return written;
}

}  // namespace mlfsort::key_index

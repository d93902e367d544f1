#include "index/key_index_runs.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>
#include <utility>

namespace mlfsort::key_index {
namespace {

// Groups this small are put in order by insertion rather than by digits.
constexpr std::size_t kInsertionLimit = 24;
// Bits of the summary that one pass of the radix sort distributes on: about
// a quarter as many buckets as entries, so that setting up the buckets
// costs no more than distributing.
constexpr int kMaxDigitBits = 11;
int DigitBitsFor(std::size_t count) {
  return std::clamp(static_cast<int>(std::bit_width(count)) - 3, 3,
                    kMaxDigitBits);
}

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
// cut by `mask`.
inline std::size_t DigitAt(const Entry& entry, int shift, std::uint64_t mask) {
  const std::uint64_t bits = shift >= 32 ? entry.summary_high >> (shift - 32)
                                         : entry.summary_high << (32 - shift) |
                                               entry.summary_low >> shift;
  return static_cast<std::size_t>(bits & mask);
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
  const int digit_bits = DigitBitsFor(count);
  const int shift = std::max(top_bit + 1 - digit_bits, 0);
  const std::uint64_t mask = (std::uint64_t{1} << digit_bits) - 1;
  std::array<std::uint32_t, std::size_t{1} << kMaxDigitBits> bucket_array;
  const std::span<std::uint32_t> starts(bucket_array.data(), mask + 1);
  std::fill(starts.begin(), starts.end(), 0);
  for (std::size_t i = 0; i < count; ++i) {
    ++starts[DigitAt(items[i], shift, mask)];
  }
  std::uint32_t start = 0;
  for (std::uint32_t& bucket : starts) {
    start += std::exchange(bucket, start);
  }
  // Distributes in order, so that equal digits keep their order; the
  // starts end as each bucket's end.
  for (std::size_t i = 0; i < count; ++i) {
    scratch[starts[DigitAt(items[i], shift, mask)]++] = items[i];
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
  // Files are often in key order already, or in reverse: one pass tells,
  // and ends at the first step each way on any other order.
  bool ascends = true;
  bool descends = true;
  for (std::size_t next = 1; next < count && (ascends || descends); ++next) {
    const int step = CompareEntries(items[next - 1], items[next], keys);
    ascends = ascends && step <= 0;
    descends = descends && step >= 0;
  }
  if (ascends) return;
  if (!descends) {
    RadixSort(items, scratch, count, keys);
    return;
  }
  // Reversed, but each group of equal keys back in the order it came in.
  std::reverse(items, items + count);
  for (std::size_t first = 0; first < count;) {
    std::size_t end = first + 1;
    while (end < count && CompareEntries(items[first], items[end], keys) == 0) {
      ++end;
    }
    std::reverse(items + first, items + end);
    first = end;
  }
}

std::size_t FoldEqualKeys(Entry* items, std::size_t count,
                          const KeyTieBreak& keys) {
  if (count == 0) return 0;
  std::size_t kept = 1;
  for (std::size_t next = 1; next < count; ++next) {
    const Entry& last = items[kept - 1];
    const bool same_key =
        last.summary_high == items[next].summary_high &&
        last.summary_low == items[next].summary_low &&
        keys.SameKeys(keys.KeyOf(last), keys.KeyOf(items[next]));
    if (!same_key) ++kept;
    items[kept - 1] = items[next];
  }
  return kept;
}

std::size_t MergeBatch(Entry* run, std::size_t run_count, const Entry* batch,
                       std::size_t batch_count, const KeyTieBreak& keys,
                       EqualKeys equal_keys) {
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
      // The run's entry was filed first: kept, it goes before the batch's.
      if (equal_keys == EqualKeys::kKeepLatest) --run_left;
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

RunMerger::RunMerger(RunCursor* runs, std::size_t run_count, MergeSlot* slots,
                     const KeyTieBreak& keys, EqualKeys equal_keys)
    : runs_(runs),
      run_count_(run_count),
      leaves_(MergeSlotsFor(run_count)),
      slots_(slots),
      keys_(keys),
      equal_keys_(equal_keys) {
  // Leaves past the runs are ended runs.
  for (std::size_t run = 0; run < leaves_; ++run) TakeHead(run);
  winner_ = Play(1);
}

bool RunMerger::BeforeByEntries(std::size_t a, std::size_t b) const {
  const bool a_ended = Ended(a);
  const bool b_ended = Ended(b);
  if (a_ended || b_ended) return !a_ended;
  // The heads' summaries are equal.
  const int comparison = keys_.CompareKeys(HeadKey(a), HeadKey(b));
  return comparison < 0 || (comparison == 0 && a < b);
}

std::size_t RunMerger::Play(std::size_t node) {
  if (node >= leaves_) return node - leaves_;
  const std::size_t left = Play(2 * node);
  const std::size_t right = Play(2 * node + 1);
  const bool left_wins = !Before(right, left);
  slots_[node].loser = left_wins ? right : left;
  return left_wins ? left : right;
}

std::size_t RunMerger::Merge(std::uint32_t* line_indexes, std::size_t room) {
  // Asks ahead in this stretch when the last one looked up a key for more
  // than one entry in eight.
  ask_ahead_ = keys_looked_up_ * 8 > room;
  keys_looked_up_ = 0;
  return equal_keys_ == EqualKeys::kKeepAll
             ? MergeStretch<EqualKeys::kKeepAll>(line_indexes, room)
             : MergeStretch<EqualKeys::kKeepLatest>(line_indexes, room);
}

template <EqualKeys kEqualKeys>
std::size_t RunMerger::MergeStretch(std::uint32_t* line_indexes,
                                    std::size_t room) {
  std::size_t written = 0;
  while (written < room && !done_) {
    if (Ended(winner_)) {
      if (holding_) line_indexes[written++] = held_.line_index;
      holding_ = false;
      done_ = true;
      break;
    }
    const Entry& entry = *runs_[winner_].next++;
    if constexpr (kEqualKeys == EqualKeys::kKeepAll) {
      // Nothing is held back: the earlier run wins a tie, so equal keys
      // come out in the order they were filed.
      TakeHead(winner_);
      line_indexes[written++] = entry.line_index;
    } else {
      std::string_view key = slots_[winner_].head_key;
      bool key_known = slots_[winner_].head_key_known;
      TakeHead(winner_);
      if (holding_) {
        bool same_key = held_.summary_high == entry.summary_high &&
                        held_.summary_low == entry.summary_low;
        if (same_key) {
          if (!held_key_known_) {
            ++keys_looked_up_;
            held_key_ = keys_.KeyOf(held_);
          }
          if (!key_known) {
            ++keys_looked_up_;
            key = keys_.KeyOf(entry);
          }
          key_known = true;
          same_key = keys_.SameKeys(held_key_, key);
        }
        if (!same_key) line_indexes[written++] = held_.line_index;
      }
      held_ = entry;
      held_key_ = key;
      held_key_known_ = key_known;
      holding_ = true;
    }
    std::size_t winner = winner_;
    for (std::size_t node = (winner + leaves_) / 2; node >= 1; node /= 2) {
      const std::size_t loser = slots_[node].loser;
      if (Before(loser, winner)) {
        slots_[node].loser = winner;
        winner = loser;
      }
    }
    winner_ = winner;
  }
  return written;
}

}  // namespace mlfsort::key_index

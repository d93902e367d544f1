// The entries of the sorted key index and the steps that put them in order:
// a stable sort of a batch of entries, folding equal keys into one entry,
// merging a small sorted batch into a sorted run, and merging many sorted
// runs into the line indexes of the index's read order.
//
// Entries are ordered by their summaries, and only where two summaries are
// equal by their keys, which a KeyTieBreak finds. Every step stays within
// the bounds it is given whatever the tie-break answers, so an order that is
// not consistent can leave entries out of order but can never make a step
// read or write outside its arrays. None of them allocates.

#ifndef MLFSORT_INDEX_KEY_INDEX_RUNS_H_
#define MLFSORT_INDEX_KEY_INDEX_RUNS_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mlfsort::key_index {

// What becomes of entries whose keys are equal: folded into the one filed
// latest, or all kept, in the order they were filed.
enum class EqualKeys { kKeepLatest, kKeepAll };

// One key, by the leading 96 bits of its summary, with the line index filed
// under it. 16 bytes: the index holds one per key, and no key bytes.
struct Entry {
  std::uint64_t summary_high;
  std::uint32_t summary_low;
  std::uint32_t line_index;
};

// How entries whose summaries are equal compare by their keys.
class KeyTieBreak {
 public:
  virtual ~KeyTieBreak() = default;
  // The key of `entry`, valid while the step lasts.
  virtual std::string_view KeyOf(const Entry& entry) const = 0;
  // Negative when key `a` sorts first, 0 when the keys are equal, positive
  // when `b` sorts first.
  virtual int CompareKeys(std::string_view a, std::string_view b) const = 0;

  int Compare(const Entry& a, const Entry& b) const {
    return CompareKeys(KeyOf(a), KeyOf(b));
  }

  // CompareKeys(a, b) == 0, which may be told faster.
  virtual bool SameKeys(std::string_view a, std::string_view b) const {
    return CompareKeys(a, b) == 0;
  }

  // Ask for the memory that KeyOf(entry) will read, without waiting for it,
  // in two steps: first for where the key is found, then for the key. By
  // default nothing.
  virtual void AskForPlace(const Entry& entry) const {
    static_cast<void>(entry);
  }
  virtual void AskForKey(const Entry& entry) const { static_cast<void>(entry); }
};

// Three-way comparison of two entries' keys: by summary where the summaries
// differ, else by the tie-break.
inline int CompareEntries(const Entry& a, const Entry& b,
                          const KeyTieBreak& keys) {
  if (a.summary_high != b.summary_high) {
    return a.summary_high < b.summary_high ? -1 : 1;
  }
  if (a.summary_low != b.summary_low) {
    return a.summary_low < b.summary_low ? -1 : 1;
  }
  return keys.Compare(a, b);
}

// Sorts `items[0, count)` by key, equal keys kept in their order, using
// `scratch[0, count)` (which must not overlap them) as working space. Items
// already in order, or in reverse order, cost one pass. Otherwise most
// digits of the summaries decide at once (a radix sort from the most
// significant bits that differ); entries are compared one with another only
// in small groups, and by key only where their summaries tie, so an order
// whose summaries all tie costs O(count log count) key comparisons.
void SortEntries(Entry* items, Entry* scratch, std::size_t count,
                 const KeyTieBreak& keys);

// Folds each run of equal keys in the sorted `items[0, count)` into one
// entry, the run's last (the latest filed). Returns the number of entries
// left.
std::size_t FoldEqualKeys(Entry* items, std::size_t count,
                          const KeyTieBreak& keys);

// Merges the sorted batch `batch[0, batch_count)` into the sorted run
// `run[0, run_count)`; the batch's entries were filed after the run's. The
// batch must lie at or after run + run_count + batch_count, so that the
// merge, working from the back, never writes over an entry it has yet to
// read. Under kKeepLatest both hold one entry per key, and a key in both
// keeps the batch's entry; under kKeepAll every entry is kept, the run's
// before the batch's among equal keys. Returns the new run count.
std::size_t MergeBatch(Entry* run, std::size_t run_count, const Entry* batch,
                       std::size_t batch_count, const KeyTieBreak& keys,
                       EqualKeys equal_keys = EqualKeys::kKeepLatest);

// A sorted run of entries (one per key, under kKeepLatest); a merge moves
// `next` on.
struct RunCursor {
  const Entry* next;
  const Entry* end;
};

// A RunMerger's working space: for each leaf of its tree of matches, the
// summary of the next entry of the run there; for each inner node, the
// loser of the match there.
struct MergeSlot {
  std::uint64_t head_high;
  std::uint64_t head_low;
  std::size_t loser;
  // The key of the head once a tie has asked for it: runs of a file with
  // many duplicates meet the same keys again and again.
  std::string_view head_key;
  bool head_key_known;
};

// Slots of working space a RunMerger needs for `run_count` runs.
std::size_t MergeSlotsFor(std::size_t run_count);

// Merges sorted runs into line indexes in ascending key order, a stretch at
// a time. Under kKeepLatest, one per distinct key: of a key in several
// runs, the entry of the latest run. Under kKeepAll, every entry: equal
// keys in the order of their runs, and of their places in a run. Each entry
// costs about log2(run count) comparisons.
class RunMerger {
 public:
  // Starts merging `runs[0, run_count)`, filed in that order, which the
  // merge moves to their ends. `slots` holds MergeSlotsFor(run_count).
  // All three must outlive the merger.
  RunMerger(RunCursor* runs, std::size_t run_count, MergeSlot* slots,
            const KeyTieBreak& keys,
            EqualKeys equal_keys = EqualKeys::kKeepLatest);

  // Writes the next line indexes to `line_indexes`, at most `room` of them,
  // and returns how many; fewer than `room` only once the merge is done.
  std::size_t Merge(std::uint32_t* line_indexes, std::size_t room);

  bool done() const { return done_; }

 private:
  // Whether run `a`'s next entry goes before run `b`'s: an ended run goes
  // last, and of equal keys the earlier run's first. Most matches are
  // decided by the summaries kept for each run.
  bool Before(std::size_t a, std::size_t b) const {
    const MergeSlot& slot_a = slots_[a];
    const MergeSlot& slot_b = slots_[b];
    if (slot_a.head_high != slot_b.head_high) {
      return slot_a.head_high < slot_b.head_high;
    }
    if (slot_a.head_low != slot_b.head_low) {
      return slot_a.head_low < slot_b.head_low;
    }
    return BeforeByEntries(a, b);
  }
  bool BeforeByEntries(std::size_t a, std::size_t b) const;
  template <EqualKeys kEqualKeys>
  std::size_t MergeStretch(std::uint32_t* line_indexes, std::size_t room);
  bool Ended(std::size_t run) const {
    return run >= run_count_ || runs_[run].next == runs_[run].end;
  }
  // The key of the run's head.
  std::string_view HeadKey(std::size_t run) const {
    MergeSlot& slot = slots_[run];
    if (!slot.head_key_known) {
      ++keys_looked_up_;
      slot.head_key = keys_.KeyOf(*runs_[run].next);
      slot.head_key_known = true;
    }
    return slot.head_key;
  }
  // Sets the run's head: the summary of its next entry; the most for an
  // ended run.
  void TakeHead(std::size_t run) {
    MergeSlot& slot = slots_[run];
    slot.head_key_known = false;
    if (Ended(run)) {
      slot.head_high = slot.head_low = ~std::uint64_t{0};
      return;
    }
    const Entry* const head = runs_[run].next;
    slot.head_high = head->summary_high;
    slot.head_low = head->summary_low;
    // Where ties are many, each head's key is asked for ahead; the merged
    // lines are read soon after in any case.
    if (ask_ahead_) {
      keys_.AskForKey(*head);
      if (head + 1 != runs_[run].end) keys_.AskForPlace(head[1]);
    }
  }
  // Plays the matches under `node`; returns the winner.
  std::size_t Play(std::size_t node);

  RunCursor* runs_;
  std::size_t run_count_;
  std::size_t leaves_;
  // A tree of matches between the runs' next entries (a loser tree): each
  // inner node 1 .. leaves_ - 1 keeps the loser of its match; each leaf
  // 0 .. leaves_ - 1 the head of its run.
  MergeSlot* slots_;
  const KeyTieBreak& keys_;
  EqualKeys equal_keys_;
  std::size_t winner_;
  // The entry taken last, held back for an equal key from a later run, and
  // its key once a tie has asked for it.
  Entry held_{};
  bool holding_ = false;
  std::string_view held_key_;
  bool held_key_known_ = false;
  // Keys looked up for ties in this stretch of the merge, and whether the
  // stretch asks for the keys of the heads ahead: worth it only where ties
  // are many, as in a file of many duplicates.
  mutable std::size_t keys_looked_up_ = 0;
  bool ask_ahead_ = false;
  bool done_ = false;
};

}  // namespace mlfsort::key_index

#endif  // MLFSORT_INDEX_KEY_INDEX_RUNS_H_

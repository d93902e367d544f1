// The sorted key index: the sort keys of the held lines, read back in
// ascending key order with one entry per distinct key, each naming the line
// index of the last line filed with that key; or, kept all, one entry per
// key filed, equal keys in the order they were filed.

#ifndef MLFSORT_INDEX_SORTED_KEY_INDEX_H_
#define MLFSORT_INDEX_SORTED_KEY_INDEX_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "index/key_index_runs.h"
#include "index/sort_worker.h"
#include "order/key_order.h"
#include "platform/platform.h"

namespace mlfsort {

// Where the index finds a key again by the line index filed under it: the
// index keeps line indexes, not keys. The index calls it on its worker
// thread too, while the caller reads the index (never while it inserts).
class KeySource {
 public:
  virtual ~KeySource() = default;
  // The key last filed under `line_index`.
  virtual std::string_view KeyOf(std::uint32_t line_index) const = 0;

  // Ask for the memory that KeyOf(line_index) will read, without waiting
  // for it, in two steps: first for where the key is found, then for the
  // key. By default nothing.
  virtual void AskForPlace(std::uint32_t line_index) const {
    static_cast<void>(line_index);
  }
  virtual void AskForKey(std::uint32_t line_index) const {
    static_cast<void>(line_index);
  }
};

// An ordered set of keys, each with a line index, read by position
// 0 .. Count() - 1 in ascending key order.
//
// What every read sees:
// - Ascending order: the key at p compares below the key at p + 1.
// - One entry per distinct key: keys the KeyOrder finds equal share one.
// - An entry holds the line index of the latest insert of its key, and
//   the key source gives that insert's key text for it.
// Made to keep equal keys (EqualKeys::kKeepAll), the index instead holds an
// entry for every insert: the key at p compares at or below the key at
// p + 1, and equal keys stand in the order they were inserted.
//
// Inserts are collected in a batch. A full batch is sorted into a run of
// its own, on the worker thread when there is one, while the next batch
// fills; a read sorts the batch and merges the runs, on the worker while
// the positions merged so far are read. Equal keys within a batch are
// folded, and a key repeated soon is mostly found at once without taking an
// entry. Inserting n keys costs O(n log n) key comparisons in all, whatever
// their order; a read after an insert costs a sort of the batch and a
// merge, then O(1). The index holds 16 bytes for each run entry (a 96-bit
// summary of the key and its line index), 4 for each read position, and
// batches of up to an eighth of that again (at most 16 MiB each), 16 bytes
// a key; a read releases the batches' memory.
//
// Reading never allocates: the memory a read needs is taken by the inserts.
// Not thread-safe, not even for concurrent readers: reads may sort.
class SortedKeyIndex : private SortWorker::Task {
 public:
  // `order` and `keys` must outlive the index. Arrays are taken from
  // `memory`, which must outlive the index too; its failure (std::bad_alloc)
  // leaves the index holding the same entries as before the insert that
  // needed it. With `threaded`, full batches are sorted on a worker thread.
  // `equal_keys` says whether equal keys fold or are all kept.
  using EqualKeys = key_index::EqualKeys;
  SortedKeyIndex(const KeyOrder& order, const KeySource& keys,
                 GrowableMemory* memory = &OperatorNewMemory(),
                 bool threaded = false,
                 EqualKeys equal_keys = EqualKeys::kKeepLatest);
  ~SortedKeyIndex();

  SortedKeyIndex(const SortedKeyIndex&) = delete;
  SortedKeyIndex& operator=(const SortedKeyIndex&) = delete;

  // Files `line_index` under `key`: a key equal to a present one gives that
  // entry the new line index, in the same place; a new key makes a new
  // entry. An index that keeps equal keys makes a new entry for every key,
  // after the present ones equal to it. `key` must be what the key source gives
  // for `line_index`, and its bytes stay valid and unchanged while the index
  // lives (the batch keeps a view of it until it is sorted). Any bytes may
  // occur, zero included; the whole key takes part in the order.
  //
  // Throws std::bad_alloc when memory runs out or when the index would hold
  // more than INT32_MAX entries, and std::length_error for a key of more
  // than UINT32_MAX bytes; the index then holds what it held before.
  void Insert(std::string_view key, std::uint32_t line_index);

  // True when the key filed by the latest insert had exactly the bytes of
  // `key`, and its entry can still be refiled in place: RefileLatest(key)
  // then does what Insert(key, line index of that insert) would do. Never
  // true for an index that keeps equal keys.
  bool LatestKeyIs(std::string_view key) const {
    return latest_slot_ != kNoSlot &&
           SameBytes(batch_.items[latest_slot_], key);
  }
  void RefileLatest(std::string_view key) {
    BatchEntry& latest = batch_.items[latest_slot_];
    Refile(latest, key, latest.line_index);
  }

  std::int32_t Count();

  // The line indexes of the positions from `position` on that can be read
  // now: at least one, waiting for the merge if need be, while `position`
  // is below Count(); none from there on.
  std::span<const std::uint32_t> LineIndexesFrom(std::int32_t position);

  // The key the summaries are taken against (empty before one is taken).
  std::string_view reference() const { return reference_; }

  // Makes `reference` the key every summary is taken against, for good:
  // the index takes no other. Only before the first insert. Indexes whose
  // entries must compare with one another's (sorted runs kept apart and
  // merged later) share one reference so.
  void FixReference(std::string_view reference);

  // An entry for `key` with the summary the index gives it now, against
  // its reference (line index 0): entries of keys summarized against the
  // same reference compare as the index compares them.
  key_index::Entry SummaryOf(std::string_view key) const;

 private:
  friend class SortedKeyIndexTestHelper;

  // A key of the batch: its bytes, which the inserting caller keeps, and
  // its line index.
  struct BatchEntry {
    const char* key_data;
    std::uint32_t key_size;
    std::uint32_t line_index;

    std::string_view key() const { return {key_data, key_size}; }
  };

  // An array taken from the index's memory.
  template <typename Item>
  struct Array {
    Item* items = nullptr;
    std::size_t capacity = 0;
  };

  class BatchKeys;

  static bool SameBytes(const BatchEntry& entry, std::string_view key) {
    if (entry.key_size != key.size()) return false;
    // A plain loop: the keys that repeat are mostly a byte or two long,
    // shorter than the call to a library compare.
    for (std::size_t at = 0; at < key.size(); ++at) {
      if (entry.key_data[at] != key[at]) return false;
    }
    return true;
  }
  static void Refile(BatchEntry& entry, std::string_view key,
                     std::uint32_t line_index) {
    entry.key_data = key.data();
    entry.key_size = static_cast<std::uint32_t>(key.size());
    entry.line_index = line_index;
  }

  // Sorts `batch[0, size)` into `run[0, size)` by the summaries of its keys
  // against `reference`, equal keys in batch order, folds equal keys unless
  // all are kept, and gives each entry its line index; returns the number
  // of entries left. `scratch` holds `size`.
  static std::size_t SortBatch(const KeyOrder& order,
                               std::string_view reference, EqualKeys equal_keys,
                               const BatchEntry* batch, std::size_t size,
                               key_index::Entry* run,
                               key_index::Entry* scratch);
  // Files `line_index` under `key` in a new slot of the batch, and returns
  // the slot.
  std::uint32_t AddToBatch(std::string_view key, std::uint32_t line_index);
  // The worker's tasks: sorts the batch handed off behind the runs, or
  // merges the runs into the read order.
  void Run() override;
  void MergeRuns();
  // Hands the batch, if any, to be sorted into a run and starts an empty
  // one, taking the memory both need first.
  void HandOff();
  // Takes the memory for a batch of `batch_capacity` keys after every entry
  // there is now, and for what a read then needs.
  void Reserve(std::size_t batch_capacity);
  template <typename Item>
  void Grow(Array<Item>& array, std::size_t needed, std::size_t kept);
  template <typename Item>
  void Release(Array<Item>& array);
  // Waits for the worker's task and takes in what it made: a sorted batch
  // becomes the last run; a merge gives the count.
  void FinishWork();
  // Sorts the batch and starts merging every run into the read order.
  void Settle();
  // Makes the read order of runs that follow one another in key order, or
  // in reverse, without merging them; false for other runs.
  bool TakeChainedRuns();
  // Waits until `position` is merged or the merge has ended; false when it
  // lies beyond the read order.
  bool WaitForMerged(std::int32_t position);
  // Makes `key` the reference of every summary.
  void TakeReference(std::string_view key);
  std::size_t EntryCount() const;

  const KeyOrder& order_;
  const KeySource& keys_;
  GrowableMemory* memory_;
  const EqualKeys equal_keys_;

  // entries_[0, run_total_) holds the sorted runs, which end at
  // run_ends_[0, run_count_); the batch being sorted goes after them.
  Array<key_index::Entry> entries_;
  std::size_t run_total_ = 0;
  Array<std::size_t> run_ends_;
  std::size_t run_count_ = 0;

  // The batch being filled, in insert order, and the one being sorted.
  Array<BatchEntry> batch_;
  std::size_t batch_size_ = 0;
  Array<BatchEntry> sorting_;
  std::size_t sorting_size_ = 0;
  Array<key_index::Entry> scratch_;
  // What the worker's sort left of the batch handed off.
  std::size_t sorted_kept_ = 0;
  enum class Work { kNone, kSorting, kMerging };
  Work work_ = Work::kNone;

  // The line indexes in read order, and the merge's working space. The
  // merge publishes how far it has come, with kMergeEnded once it has
  // ended; merged_ is what the reading thread has seen of it.
  Array<std::uint32_t> read_order_;
  Array<key_index::RunCursor> cursors_;
  Array<key_index::MergeSlot> merge_slots_;
  static constexpr std::uint64_t kMergeEnded = std::uint64_t{1} << 63;
  std::atomic<std::uint64_t> merge_progress_{kMergeEnded};
  // Set when the index goes: a merge still running stops.
  std::atomic<bool> abandoned_{false};
  std::size_t merged_ = 0;
  std::size_t count_ = 0;
  bool settled_ = true;

  // The batch slot of the latest insert of each recent key, by a hash of
  // its fingerprint: label files repeat a few short keys (the "." line and
  // the other one- and two-byte lines all have the empty key) far more
  // often than a batch could hold them. Unused when equal keys are kept.
  static constexpr int kRecentBits = 10;
  static constexpr std::uint32_t kNoSlot = UINT32_MAX;
  struct Recent {
    std::uint32_t slot;
    std::uint32_t fingerprint;
  };
  std::array<Recent, std::size_t{1} << kRecentBits> recent_;
  // The batch slot of the key filed last.
  std::uint32_t latest_slot_ = kNoSlot;

  // Summaries are taken against the first key of at least kReferenceBytes
  // bytes (none before it comes), copied here: the keys of a label file
  // mostly share a long lead, such as a corpus path, and the summaries then
  // hold what follows it. Shorter keys are label text rather than names.
  static constexpr std::size_t kReferenceBytes = 16;
  std::array<char, 256> reference_bytes_;
  std::string_view reference_;
  bool reference_fixed_ = false;

  SortWorker worker_;
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_SORTED_KEY_INDEX_H_

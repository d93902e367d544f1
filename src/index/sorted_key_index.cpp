#include "index/sorted_key_index.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "platform/compiler.h"

namespace mlfsort {
namespace {

using key_index::Entry;

constexpr std::size_t kMaxEntries = std::numeric_limits<std::int32_t>::max();

// The smallest batch, so that small indexes do not sort tiny batches often;
// the share of the entries before it that a batch may grow to: small
// enough for memory, large enough that the runs stay few (about 8 ln n);
// and the largest batch, so that the batch a read sorts before it can merge
// stays quick to sort and the runs fit the processor's cache better.
constexpr std::size_t kMinBatch = 4096;
constexpr std::size_t kBatchShare = 8;
constexpr std::size_t kMaxBatch = std::size_t{1} << 20;

// Line indexes the merge writes between two reports of its progress, and
// the fewest entries the worker merges.
constexpr std::size_t kMergeStretch = 4096;
constexpr std::size_t kMinWorkerMerge = 64 * 1024;

template <int kBits>
std::size_t RecentSlotOf(std::uint64_t fingerprint) {
  return static_cast<std::size_t>((fingerprint * kHashMultiplier) >>
                                  (64 - kBits));
}

// An entry for the leading 96 bits of `summary`.
Entry EntryOf(WideKeySummary summary, std::uint32_t line_index) {
  return {static_cast<std::uint64_t>(summary >> 64),
          static_cast<std::uint32_t>(summary >> 32), line_index};
}

// Ties between run entries, told apart by the keys the source gives.
class SourceKeys final : public key_index::KeyTieBreak {
 public:
  SourceKeys(const KeyOrder& order, const KeySource& keys)
      : order_(order), keys_(keys) {}
  std::string_view KeyOf(const Entry& entry) const override {
    return keys_.KeyOf(entry.line_index);
  }
  int CompareKeys(std::string_view a, std::string_view b) const override {
    return order_.Compare(a, b);
  }
  bool SameKeys(std::string_view a, std::string_view b) const override {
    return order_.Equal(a, b);
  }
  void AskForPlace(const Entry& entry) const override {
    keys_.AskForPlace(entry.line_index);
  }
  void AskForKey(const Entry& entry) const override {
    keys_.AskForKey(entry.line_index);
  }

 private:
  const KeyOrder& order_;
  const KeySource& keys_;
};

}  // namespace

// Ties between entries of a batch being sorted, whose line_index fields
// hold batch slots meanwhile.
class SortedKeyIndex::BatchKeys final : public key_index::KeyTieBreak {
 public:
  BatchKeys(const KeyOrder& order, const BatchEntry* batch)
      : order_(order), batch_(batch) {}
  std::string_view KeyOf(const Entry& entry) const override {
    return batch_[entry.line_index].key();
  }
  int CompareKeys(std::string_view a, std::string_view b) const override {
    return order_.Compare(a, b);
  }
  bool SameKeys(std::string_view a, std::string_view b) const override {
    return order_.Equal(a, b);
  }

 private:
  const KeyOrder& order_;
  const BatchEntry* batch_;
};

SortedKeyIndex::SortedKeyIndex(const KeyOrder& order, const KeySource& keys,
                               GrowableMemory* memory, bool threaded,
                               EqualKeys equal_keys)
    : order_(order),
      keys_(keys),
      memory_(memory),
      equal_keys_(equal_keys),
      worker_(threaded) {
  recent_.fill({kNoSlot, 0});
}

SortedKeyIndex::~SortedKeyIndex() {
  // The worker may still be sorting into the arrays, or merging: a run that
  // ends early (a failure) need not wait for the whole merge.
  abandoned_.store(true, std::memory_order_relaxed);
  try {
    worker_.Wait();
  } catch (...) {
    // The index is going; what the sort threw no longer matters.
  }
  Release(entries_);
  Release(run_ends_);
  Release(batch_);
  Release(sorting_);
  Release(scratch_);
  Release(read_order_);
  Release(cursors_);
  Release(merge_slots_);
}

void SortedKeyIndex::Insert(std::string_view key, std::uint32_t line_index) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("sort key longer than 4 GiB");
  }
  if (equal_keys_ == EqualKeys::kKeepAll) {
    AddToBatch(key, line_index);
    return;
  }
  // The same bytes are the same key to any order, without asking it; label
  // files often repeat the key just filed.
  if (LatestKeyIs(key)) {
    Refile(batch_.items[latest_slot_], key, line_index);
    return;
  }
  const std::uint64_t fingerprint = order_.Fingerprint(key);
  Recent& recent = recent_[RecentSlotOf<kRecentBits>(fingerprint)];
  const auto short_fingerprint = static_cast<std::uint32_t>(fingerprint);
  if (recent.slot != kNoSlot && recent.fingerprint == short_fingerprint) {
    BatchEntry& entry = batch_.items[recent.slot];
    if (SameBytes(entry, key) || order_.Equal(entry.key(), key)) {
      Refile(entry, key, line_index);
      latest_slot_ = recent.slot;
      return;
    }
  }
  // A full batch is handed off before the slot is taken, which empties
  // the table of recent keys; the new key's slot is recorded after.
  recent.slot = AddToBatch(key, line_index);
  recent.fingerprint = short_fingerprint;
  latest_slot_ = recent.slot;
}

inline std::uint32_t SortedKeyIndex::AddToBatch(std::string_view key,
                                                std::uint32_t line_index) {
  if (batch_size_ == batch_.capacity) HandOff();
  if (reference_.empty() && !reference_fixed_ &&
      key.size() >= kReferenceBytes) {
    TakeReference(key);
  }
  batch_.items[batch_size_] = {
      key.data(), static_cast<std::uint32_t>(key.size()), line_index};
  settled_ = false;
  return static_cast<std::uint32_t>(batch_size_++);
}

std::int32_t SortedKeyIndex::Count() {
  Settle();
  FinishWork();
  return static_cast<std::int32_t>(count_);
}

std::span<const std::uint32_t> SortedKeyIndex::LineIndexesFrom(
    std::int32_t position) {
  Settle();
  if (!WaitForMerged(position)) return {};
  return {read_order_.items + position, read_order_.items + merged_};
}

bool SortedKeyIndex::WaitForMerged(std::int32_t position) {
  if (position < 0) return false;
  const auto wanted = static_cast<std::size_t>(position);
  while (wanted >= merged_ && work_ == Work::kMerging) {
    const std::uint64_t progress =
        merge_progress_.load(std::memory_order_acquire);
    if ((progress & kMergeEnded) != 0) {
      FinishWork();
    } else if (progress > merged_) {
      merged_ = static_cast<std::size_t>(progress);
    } else {
      merge_progress_.wait(progress, std::memory_order_acquire);
    }
  }
  return wanted < merged_;
}

std::size_t SortedKeyIndex::EntryCount() const {
  return run_total_ + sorting_size_ + batch_size_;
}

std::size_t SortedKeyIndex::SortBatch(const KeyOrder& order,
                                      std::string_view reference,
                                      EqualKeys equal_keys,
                                      const BatchEntry* batch, std::size_t size,
                                      Entry* run, Entry* scratch) {
  for (std::size_t slot = 0; slot < size; ++slot) {
    run[slot] = EntryOf(order.SummaryAgainst(batch[slot].key(), reference),
                        static_cast<std::uint32_t>(slot));
  }
  const BatchKeys keys(order, batch);
  // The sort is stable and each entry holds its batch slot meanwhile, so
  // equal keys stay in the order they were filed.
  key_index::SortEntries(run, scratch, size, keys);
  const std::size_t kept = equal_keys == EqualKeys::kKeepAll
                               ? size
                               : key_index::FoldEqualKeys(run, size, keys);
  for (std::size_t at = 0; at < kept; ++at) {
    run[at].line_index = batch[run[at].line_index].line_index;
  }
  return kept;
}

void SortedKeyIndex::Run() {
  if (work_ == Work::kMerging) {
    MergeRuns();
  } else {
    sorted_kept_ =
        SortBatch(order_, reference_, equal_keys_, sorting_.items,
                  sorting_size_, entries_.items + run_total_, scratch_.items);
  }
}

void SortedKeyIndex::MergeRuns() {
  const SourceKeys keys(order_, keys_);
  key_index::RunMerger merger(cursors_.items, run_count_, merge_slots_.items,
                              keys, equal_keys_);
  std::size_t merged = 0;
  const auto publish = [this, &merged](std::uint64_t ended) {
    merge_progress_.store(merged | ended, std::memory_order_release);
    merge_progress_.notify_one();
  };
  try {
    while (!merger.done() && !abandoned_.load(std::memory_order_relaxed)) {
      merged += merger.Merge(read_order_.items + merged, kMergeStretch);
      publish(0);
    }
  } catch (...) {
    // A reader waiting for more must not wait for ever.
    publish(kMergeEnded);
    throw;
  }
  publish(kMergeEnded);
}

void SortedKeyIndex::HandOff() {
  FinishWork();
  // The read order may move without its contents; a read merges again.
  settled_ = false;
  if (EntryCount() >= kMaxEntries) throw std::bad_alloc();
  const std::size_t next_capacity =
      std::clamp(EntryCount() / kBatchShare, kMinBatch, kMaxBatch);
  // The next batch fills the buffer the last one was sorted from, which
  // may hold more than it needs to. The batch being sorted goes behind the
  // runs; the next one may be sorted by a read, behind a gap as large as
  // itself so that it can be merged into the last run.
  Grow(sorting_, next_capacity, 0);
  const std::size_t handed = batch_size_;
  Reserve(handed + sorting_.capacity);
  Grow(scratch_, std::max(handed, sorting_.capacity), 0);
  recent_.fill({kNoSlot, 0});
  latest_slot_ = kNoSlot;
  std::swap(batch_, sorting_);
  sorting_size_ = std::exchange(batch_size_, 0);
  if (sorting_size_ > 0) {
    work_ = Work::kSorting;
    worker_.Start(*this);
  }
}

void SortedKeyIndex::Reserve(std::size_t batch_capacity) {
  const std::size_t entries = run_total_ + 2 * batch_capacity;
  Grow(entries_, entries, run_total_);
  Grow(read_order_, run_total_ + batch_capacity, 0);
  Grow(run_ends_, run_count_ + 2, run_count_);
  const std::size_t slots = key_index::MergeSlotsFor(run_count_ + 2);
  Grow(cursors_, slots, 0);
  Grow(merge_slots_, slots, 0);
}

template <typename Item>
void SortedKeyIndex::Grow(Array<Item>& array, std::size_t needed,
                          std::size_t kept) {
  if (array.capacity >= needed) return;
  const std::size_t capacity = std::max(needed, 2 * array.capacity);
  if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(Item)) {
    throw std::bad_alloc();
  }
  array.items = static_cast<Item*>(
      array.items == nullptr
          ? memory_->allocate(capacity * sizeof(Item), alignof(Item))
          : memory_->Resize(array.items, array.capacity * sizeof(Item),
                            kept * sizeof(Item), capacity * sizeof(Item),
                            alignof(Item)));
  array.capacity = capacity;
}

template <typename Item>
void SortedKeyIndex::Release(Array<Item>& array) {
  if (array.items != nullptr) {
    memory_->deallocate(array.items, array.capacity * sizeof(Item),
                        alignof(Item));
  }
  array = {};
}

void SortedKeyIndex::FinishWork() {
  // The task reads work_, so it changes only once the task has ended.
  const Work work = work_;
  if (work == Work::kNone) return;
  try {
    worker_.Wait();
  } catch (...) {
    // What the task made is lost with the run that the failure ends.
    work_ = Work::kNone;
    sorting_size_ = 0;
    throw;
  }
  work_ = Work::kNone;
  if (work == Work::kSorting) {
    sorting_size_ = 0;
    run_total_ += sorted_kept_;
    run_ends_.items[run_count_++] = run_total_;
  } else {
    count_ = merged_ = static_cast<std::size_t>(
        merge_progress_.load(std::memory_order_acquire) & ~kMergeEnded);
  }
}

void SortedKeyIndex::Settle() {
  if (settled_) return;
  FinishWork();
  if (batch_size_ > 0) {
    const SourceKeys keys(order_, keys_);
    const std::size_t last_start =
        run_count_ > 1 ? run_ends_.items[run_count_ - 2] : 0;
    const std::size_t last_size = run_total_ - last_start;
    if (run_count_ > 0 && batch_size_ <= last_size) {
      // A batch no larger than the last run joins it, which keeps the runs
      // few however often reads come between inserts.
      Entry* const sorted = entries_.items + run_total_ + batch_size_;
      const std::size_t kept =
          SortBatch(order_, reference_, equal_keys_, batch_.items, batch_size_,
                    sorted, scratch_.items);
      run_total_ = last_start +
                   key_index::MergeBatch(entries_.items + last_start, last_size,
                                         sorted, kept, keys, equal_keys_);
      run_ends_.items[run_count_ - 1] = run_total_;
    } else {
      run_total_ +=
          SortBatch(order_, reference_, equal_keys_, batch_.items, batch_size_,
                    entries_.items + run_total_, scratch_.items);
      run_ends_.items[run_count_++] = run_total_;
    }
    batch_size_ = 0;
    recent_.fill({kNoSlot, 0});
    latest_slot_ = kNoSlot;
  }
  // The batches' memory is not needed for reading; inserts take it again.
  Release(batch_);
  Release(sorting_);
  Release(scratch_);
  std::size_t start = 0;
  for (std::size_t run = 0; run < run_count_; ++run) {
    cursors_.items[run] = {entries_.items + start,
                           entries_.items + run_ends_.items[run]};
    start = run_ends_.items[run];
  }
  merged_ = 0;
  count_ = 0;
  settled_ = true;
  if (run_count_ == 0) return;
  if (TakeChainedRuns()) return;
  merge_progress_.store(0, std::memory_order_relaxed);
  work_ = Work::kMerging;
  // A small merge is over before a thread would have woken for it.
  if (run_total_ < kMinWorkerMerge) {
    MergeRuns();
    FinishWork();
  } else {
    worker_.Start(*this);
  }
}

bool SortedKeyIndex::TakeChainedRuns() {
  // Each run's keys all above those of the run before (a file in key
  // order), or all below (in reverse order): one run after another is the
  // read order, with no key in two runs. Where equal keys are kept, a run
  // may begin with the key the run before ends with: filed later, it comes
  // after it in the ascending chain (never in the descending one).
  const SourceKeys keys(order_, keys_);
  const int ascending_above = equal_keys_ == EqualKeys::kKeepAll ? 1 : 0;
  bool ascending = true;
  bool descending = true;
  for (std::size_t run = 1; run < run_count_ && (ascending || descending);
       ++run) {
    const key_index::RunCursor& before = cursors_.items[run - 1];
    const key_index::RunCursor& after = cursors_.items[run];
    ascending = ascending &&
                key_index::CompareEntries(before.end[-1], *after.next, keys) <
                    ascending_above;
    descending = descending && key_index::CompareEntries(
                                   after.end[-1], *before.next, keys) < 0;
  }
  if (!ascending && !descending) return false;
  std::uint32_t* out = read_order_.items;
  for (std::size_t taken = 0; taken < run_count_; ++taken) {
    const key_index::RunCursor& run =
        cursors_.items[ascending ? taken : run_count_ - 1 - taken];
    for (const Entry* entry = run.next; entry != run.end; ++entry) {
      *out++ = entry->line_index;
    }
  }
  count_ = merged_ = run_total_;
  return true;
}

void SortedKeyIndex::FixReference(std::string_view reference) {
  const std::size_t size = std::min(reference.size(), reference_bytes_.size());
  if (size > 0) std::memcpy(reference_bytes_.data(), reference.data(), size);
  reference_ = std::string_view(reference_bytes_.data(), size);
  reference_fixed_ = true;
}

key_index::Entry SortedKeyIndex::SummaryOf(std::string_view key) const {
  return EntryOf(order_.SummaryAgainst(key, reference_), 0);
}

void SortedKeyIndex::TakeReference(std::string_view key) {
  FinishWork();
  const std::size_t size = std::min(key.size(), reference_bytes_.size());
  std::memcpy(reference_bytes_.data(), key.data(), size);
  reference_ = std::string_view(reference_bytes_.data(), size);
  // Summaries against no reference and against this one do not compare.
  // The runs, in order by the old ones, are in order by the new ones too.
  for (std::size_t at = 0; at < run_total_; ++at) {
    Entry& entry = entries_.items[at];
    entry = EntryOf(
        order_.SummaryAgainst(keys_.KeyOf(entry.line_index), reference_),
        entry.line_index);
  }
}

}  // namespace mlfsort

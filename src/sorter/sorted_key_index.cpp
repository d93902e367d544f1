#include "sorter/sorted_key_index.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "failure/exceptions.h"

namespace mlfsort {
namespace {

using key_index::Entry;

constexpr std::size_t kMaxEntries = std::numeric_limits<std::int32_t>::max();

// The smallest array, so that small indexes do not sort tiny batches often.
constexpr std::size_t kMinCapacity = 4096;

template <int kBits>
std::size_t RecentSlotOf(WideKeySummary summary) {
  const std::uint64_t mixed = (static_cast<std::uint64_t>(summary >> 64) ^
                               static_cast<std::uint64_t>(summary)) *
                              0x9E3779B97F4A7C15u;
  return static_cast<std::size_t>(mixed >> (64 - kBits));
}

}  // namespace

SortedKeyIndex::SortedKeyIndex(const KeyOrder& order, GrowableMemory* memory)
    : order_(order), memory_(memory) {
  recent_.fill(kNoSlot);
}

SortedKeyIndex::~SortedKeyIndex() {
  if (entries_ != nullptr) {
    memory_->deallocate(entries_, capacity_ * sizeof(Entry), alignof(Entry));
  }
}

void SortedKeyIndex::Insert(std::string_view key, std::uint32_t line_index) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("sort key longer than 4 GiB");
  }
  // The same bytes are the same key to any order, without asking it or
  // working out a summary; label files often repeat the key just filed.
  const auto same_bytes = [key](const Entry& entry) {
    if (entry.key_size != key.size()) return false;
    // A plain loop: the keys that repeat are mostly a byte or two long,
    // shorter than the call to a library compare.
    for (std::size_t at = 0; at < key.size(); ++at) {
      if (entry.key_data[at] != key[at]) return false;
    }
    return true;
  };
  const auto refile = [key, line_index](Entry& entry) {
    entry.key_data = key.data();
    entry.key_size = static_cast<std::uint32_t>(key.size());
    entry.line_index = line_index;
  };
  if (last_slot_ != kNoSlot && same_bytes(entries_[last_slot_])) {
    refile(entries_[last_slot_]);
    return;
  }
  if (reference_.empty() && key.size() >= kReferenceBytes) {
    TakeReference(key);
  }
  const WideKeySummary summary = order_.SummaryAgainst(key, reference_);
  std::uint32_t& recent = recent_[RecentSlotOf<kRecentBits>(summary)];
  if (recent != kNoSlot) {
    Entry& entry = entries_[recent];
    if (entry.summary == summary &&
        (same_bytes(entry) || order_.Compare(entry.key(), key) == 0)) {
      refile(entry);
      last_slot_ = recent;
      return;
    }
  }
  // A batch grows to half the run, so that the array's memory in use stays
  // within a third more than its entries; merging the run that often costs
  // about two moves per insert.
  const std::size_t batch_after = size_ - run_size_ + 1;
  if (size_ == kMaxEntries || run_size_ + 2 * batch_after > capacity_ ||
      batch_after > std::max(run_size_ / 2, kMinCapacity / 2)) {
    MakeRoom();
  }
  entries_[size_] = {summary, key.data(),
                     static_cast<std::uint32_t>(key.size()), line_index};
  recent = size_ < kNoSlot ? static_cast<std::uint32_t>(size_) : kNoSlot;
  last_slot_ = recent;
  ++size_;
}

std::int32_t SortedKeyIndex::Count() {
  Settle();
  return static_cast<std::int32_t>(run_size_);
}

std::uint32_t SortedKeyIndex::LineIndexAt(std::int32_t position) {
  return EntryAt(position, __builtin_return_address(0)).line_index;
}

std::string_view SortedKeyIndex::KeyAt(std::int32_t position) {
  return EntryAt(position, __builtin_return_address(0)).key();
}

std::size_t SortedKeyIndex::AllocatedBytes() const {
  return sizeof(*this) + capacity_ * sizeof(Entry);
}

const Entry& SortedKeyIndex::EntryAt(std::int32_t position,
                                     const void* caller) {
  Settle();
  if (position < 0 || static_cast<std::size_t>(position) >= run_size_) {
    RaiseIndexError(position, caller);
  }
  return entries_[position];
}

void SortedKeyIndex::Settle() {
  if (size_ == run_size_) return;
  // The batch's room is at most half of what the run leaves, so the sort
  // has as much room again behind it, and the sorted batch lies far enough
  // behind the run for the merge.
  const std::size_t batch_size = size_ - run_size_;
  Entry* const batch = entries_ + run_size_;
  Entry* const sorted_batch = batch + batch_size;
  key_index::SortInto(order_, batch, sorted_batch, batch_size);
  const std::size_t kept =
      key_index::FoldEqualKeys(order_, sorted_batch, batch_size);
  run_size_ =
      key_index::MergeBatch(order_, entries_, run_size_, sorted_batch, kept);
  size_ = run_size_;
  // The batch's slots have moved.
  recent_.fill(kNoSlot);
  last_slot_ = kNoSlot;
}

void SortedKeyIndex::TakeReference(std::string_view key) {
  reference_ = key;
  // Summaries against no reference and against this one do not compare.
  // The new ones keep the run in order, as any summaries do.
  for (std::size_t slot = 0; slot < size_; ++slot) {
    entries_[slot].summary =
        order_.SummaryAgainst(entries_[slot].key(), reference_);
  }
  recent_.fill(kNoSlot);
  last_slot_ = kNoSlot;
}

void SortedKeyIndex::MakeRoom() {
  Settle();
  if (run_size_ == kMaxEntries) throw std::bad_alloc();
  // Twice the run leaves a batch at least half the run's size, so each
  // merge of the run is paid for by as many inserts.
  const std::size_t needed = 2 * run_size_ + 2;
  if (capacity_ >= needed) return;
  const std::size_t capacity = std::max({kMinCapacity, 2 * capacity_, needed});
  if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(Entry)) {
    throw std::bad_alloc();
  }
  entries_ = static_cast<Entry*>(
      entries_ == nullptr
          ? memory_->allocate(capacity * sizeof(Entry), alignof(Entry))
          : memory_->Resize(entries_, capacity_ * sizeof(Entry),
                            run_size_ * sizeof(Entry), capacity * sizeof(Entry),
                            alignof(Entry)));
  capacity_ = capacity;
}

}  // namespace mlfsort

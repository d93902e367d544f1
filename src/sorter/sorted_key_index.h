// The sorted key index: the sort keys of the held lines, read back in
// ascending key order with one entry per distinct key, each naming the line
// store position of the last line filed with that key.

#ifndef MLFSORT_SORTER_SORTED_KEY_INDEX_H_
#define MLFSORT_SORTER_SORTED_KEY_INDEX_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "sorter/key_index_runs.h"
#include "sorter/key_order.h"

namespace mlfsort {

// An ordered set of keys, each with a line index, read by position
// 0 .. Count() - 1 in ascending key order.
//
// What every read sees:
// - Ascending order: the key at p compares below the key at p + 1.
// - One entry per distinct key: keys the KeyOrder finds equal share one.
// - An entry holds the key text and the line index of the latest insert of
//   its key. (Equal keys sort alike, so which text it keeps changes no
//   place; the latest lets a caller whose keys are views of its lines find
//   the line from the key.)
//
// Inserts are collected in a batch and put in order when a read needs them
// or the batch fills its room: one sort of a batch costs far less than
// keeping every insert in place, and a key repeated within a batch is folded
// at once. The sorted run and the batch share one array; a batch takes at
// most half the room the run leaves (and no more than half the run), so the
// other half serves as the sort's scratch space and no step needs memory of
// its own. Inserting n keys costs O(n log n) key comparisons in all,
// whatever their order; a read after an insert costs a sort of the batch
// and a merge, then O(1). The array holds at most 4 entries of 32 bytes per
// distinct key, or 128 KiB, of which no more than the entries and a third
// again are in use; keys are not copied.
//
// Not thread-safe, not even for concurrent readers: reads may sort.
class SortedKeyIndex {
 public:
  // `order` must outlive the index. The entry array is taken from `memory`,
  // which must outlive the index too; its failure (std::bad_alloc) leaves
  // the index holding the same entries as before the insert that needed it.
  explicit SortedKeyIndex(const KeyOrder& order,
                          GrowableMemory* memory = &OperatorNewMemory());
  ~SortedKeyIndex();

  SortedKeyIndex(const SortedKeyIndex&) = delete;
  SortedKeyIndex& operator=(const SortedKeyIndex&) = delete;

  // Files `line_index` under `key`. A key equal to a present one gives that
  // entry the new key text and line index, in the same place; a new key
  // makes a new entry.
  //
  // The index keeps a view of `key`, not a copy: its bytes must stay valid
  // and unchanged while the index lives. Any bytes may occur, zero included;
  // the whole key takes part in the order.
  //
  // Throws std::bad_alloc when memory runs out or when the index would hold
  // more than INT32_MAX entries, and std::length_error for a key of more
  // than UINT32_MAX bytes; the index then holds what it held before.
  void Insert(std::string_view key, std::uint32_t line_index);

  std::int32_t Count();

  // The line index of the entry at `position`. A position outside
  // 0 .. Count() - 1 raises the index error (EStringListError), failing at
  // the caller's call site.
  [[gnu::noinline]] std::uint32_t LineIndexAt(std::int32_t position);

  // The key text of the entry at `position`, with the same bounds check.
  [[gnu::noinline]] std::string_view KeyAt(std::int32_t position);

  // Bytes of memory the index holds, the index object included.
  std::size_t AllocatedBytes() const;

 private:
  // The entry at `position`, after the bounds check.
  const key_index::Entry& EntryAt(std::int32_t position, const void* caller);

  // Sorts the batch and merges it into the run.
  void Settle();
  // Settles, then makes the array at least twice as large as the run, so
  // that a batch has room again.
  void MakeRoom();
  // Makes `key` the reference of every summary.
  void TakeReference(std::string_view key);

  const KeyOrder& order_;
  GrowableMemory* memory_;

  // entries_[0, run_size_) is the sorted run, one entry per key;
  // entries_[run_size_, size_) the batch, in insert order.
  key_index::Entry* entries_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t run_size_ = 0;

  // The batch slot of the latest insert of each recent summary, by a hash
  // of the summary: label files repeat a few short keys (the "." line and
  // the other one- and two-byte lines all have the empty key) far more
  // often than a batch could hold them.
  static constexpr int kRecentBits = 10;
  static constexpr std::uint32_t kNoSlot = UINT32_MAX;
  std::array<std::uint32_t, std::size_t{1} << kRecentBits> recent_;

  // Summaries are taken against the first key of at least kReferenceBytes
  // bytes (none before it comes): the keys of a label file mostly share a
  // long lead, such as a corpus path, and the summaries then hold what
  // follows it. Shorter keys are label text rather than names.
  static constexpr std::size_t kReferenceBytes = 16;
  std::string_view reference_;
  // The batch slot of the key filed last.
  std::uint32_t last_slot_ = kNoSlot;
};

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_SORTED_KEY_INDEX_H_

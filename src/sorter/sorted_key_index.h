// The sorted key index: the sort keys of the held lines, kept in ascending
// key order with one entry per distinct key, each naming the line store
// position of the last line read with that key.

#ifndef MLFSORT_SORTER_SORTED_KEY_INDEX_H_
#define MLFSORT_SORTER_SORTED_KEY_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <string_view>

#include "sorter/key_order.h"

namespace mlfsort {

namespace key_index {
struct Entry;
struct Node;
struct LeafNode;
}  // namespace key_index

// An ordered set of keys, each with a line index, addressed by position
// 0 .. Count() - 1 in ascending key order.
//
// Invariants, true after every call:
// - Ascending order: the key at p compares below the key at p + 1.
// - One entry per distinct key: keys the KeyOrder finds equal share an entry.
// - An entry keeps the key text of the first insert of its key and the line
//   index of the latest one.
//
// Insert costs O(log n) key comparisons and O(log n) amortised work; walking
// the positions 0, 1, 2, ... with LineIndexAt costs O(1) each. Memory is a
// few dozen bytes per entry; the keys themselves are not copied.
//
// Not thread-safe, not even for concurrent readers: reads move a cursor.
class SortedKeyIndex {
 public:
  // `order` must outlive the index. Nodes are taken from `node_memory`,
  // which must outlive the index too; its failure (std::bad_alloc) leaves the
  // index as it was before the insert that needed memory.
  explicit SortedKeyIndex(
      const KeyOrder& order,
      std::pmr::memory_resource* node_memory = std::pmr::new_delete_resource());
  ~SortedKeyIndex();

  SortedKeyIndex(const SortedKeyIndex&) = delete;
  SortedKeyIndex& operator=(const SortedKeyIndex&) = delete;

  // Files `line_index` under `key` and returns the position of the entry that
  // now holds it. A key equal to a present one replaces that entry's line
  // index and keeps its key text and position; a new key makes a new entry
  // and moves every later entry up one position.
  //
  // The index keeps a view of `key`, not a copy: its bytes must stay valid
  // and unchanged while the index lives. Any bytes may occur, zero included;
  // the whole key takes part in the order.
  //
  // Throws std::bad_alloc when node memory runs out or when a new entry would
  // take the count past INT32_MAX, and std::length_error for a key of more
  // than UINT32_MAX bytes; the index is then unchanged.
  std::int32_t Insert(std::string_view key, std::uint32_t line_index);

  std::int32_t Count() const { return count_; }

  // The line index of the entry at `position`. A position outside
  // 0 .. Count() - 1 raises the index error (EStringListError), failing at
  // the caller's call site.
  [[gnu::noinline]] std::uint32_t LineIndexAt(std::int32_t position) const;

  // The key text of the entry at `position`, with the same bounds check.
  [[gnu::noinline]] std::string_view KeyAt(std::int32_t position) const;

  // Bytes of node memory the index holds, plus the index object itself.
  std::size_t AllocatedBytes() const;

 private:
  // The entry at a position known to be in range.
  key_index::Entry EntryAt(std::int32_t position) const;

  void DeleteSubtree(key_index::Node* node, int level);

  const KeyOrder& order_;
  std::pmr::memory_resource* node_memory_;

  // Null while the index is empty. Leaves are at level 0; the root is at
  // level height_.
  key_index::Node* root_ = nullptr;
  int height_ = 0;
  std::int32_t count_ = 0;
  std::size_t node_bytes_ = 0;

  // The entry that the last insert of a present key found, with its slot and
  // position; leaf null when an insert of a new key has moved places since.
  struct FoundEntry {
    key_index::LeafNode* leaf = nullptr;
    int slot = 0;
    std::int32_t position = 0;
    WideKeySummary summary = 0;
  };
  FoundEntry last_found_;

  // The leaf that the last read by position ended in, and the position of
  // its first entry; null when an insert has moved positions since.
  mutable const key_index::LeafNode* cursor_leaf_ = nullptr;
  mutable std::int32_t cursor_start_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_SORTER_SORTED_KEY_INDEX_H_

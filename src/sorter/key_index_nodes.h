// The nodes of the sorted key index, an order-statistic B+tree: leaves hold
// the entries in key order and are chained left to right; inner nodes hold
// their children with the size of each child's subtree and its first key.

#ifndef MLFSORT_SORTER_KEY_INDEX_NODES_H_
#define MLFSORT_SORTER_KEY_INDEX_NODES_H_

#include <cstdint>

namespace mlfsort::key_index {

// Entries per leaf and children per inner node. Large enough to keep the
// tree shallow and the per-node overhead small, small enough that shifting
// items within a node on insert stays cheap.
inline constexpr int kLeafCapacity = 64;
inline constexpr int kInnerCapacity = 64;

// Every node except the first and last on its level is at least half full,
// so even INT32_MAX entries need fewer than 8 levels.
inline constexpr int kMaxHeight = 16;

// One key with its line index. The key's summary sits first so that most
// comparisons never reach the key bytes, which the index does not own.
struct Entry {
  std::uint64_t summary;
  const char* key_data;
  std::uint32_t key_size;
  std::uint32_t line_index;
};

// The common base through which a child is held; the level of a node tells
// whether it is a LeafNode (level 0) or an InnerNode.
struct Node {};

struct LeafNode : Node {
  LeafNode* next = nullptr;  // the leaf holding the following positions
  std::int32_t size = 0;
  Entry entries[kLeafCapacity];
};

// A child of an inner node, with the number of entries below it and the key
// of its first entry. The first key divides this child from the one before;
// it is not kept up to date for the first child of the leftmost node on a
// level, which no search reads.
struct InnerSlot {
  Node* child;
  std::uint64_t first_summary;
  const char* first_key_data;
  std::uint32_t first_key_size;
  std::int32_t subtree_size;
};

struct InnerNode : Node {
  std::int32_t size = 0;
  InnerSlot slots[kInnerCapacity];
};

}  // namespace mlfsort::key_index

#endif  // MLFSORT_SORTER_KEY_INDEX_NODES_H_

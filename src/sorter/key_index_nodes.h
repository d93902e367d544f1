// The nodes of the sorted key index, an order-statistic B+tree, and the
// operations within one node or between two neighbours. Leaves hold the
// entries in key order and are chained left to right; inner nodes hold their
// children with the size of each child's subtree and its first key.
//
// Nodes keep each field in an array of its own, so that a search reads the
// summaries in a few adjacent cache lines and touches the rest only once
// summaries tie.

#ifndef MLFSORT_SORTER_KEY_INDEX_NODES_H_
#define MLFSORT_SORTER_KEY_INDEX_NODES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <new>
#include <string_view>

#include "sorter/key_order.h"

namespace mlfsort::key_index {

// Entries per leaf and children per inner node. Large enough to keep the
// tree shallow and the per-node overhead small, small enough that shifting
// items within a node on insert stays cheap.
inline constexpr int kLeafCapacity = 64;
inline constexpr int kInnerCapacity = 64;

// Every node except the first and last on its level is at least half full,
// so even INT32_MAX entries need fewer than 8 levels.
inline constexpr int kMaxHeight = 16;

// One key, by its summary and a view of its bytes (which the index does not
// own), with its line index.
struct Entry {
  WideKeySummary summary;
  const char* key_data;
  std::uint32_t key_size;
  std::uint32_t line_index;
};

// The common base through which a child is held; the level of a node tells
// whether it is a LeafNode (level 0) or an InnerNode.
struct Node {};

struct LeafNode : Node {
  WideKeySummary summaries[kLeafCapacity];
  const char* key_data[kLeafCapacity];
  std::uint32_t key_sizes[kLeafCapacity];
  std::uint32_t line_indexes[kLeafCapacity];
  LeafNode* next = nullptr;  // the leaf holding the following positions
  std::int32_t size = 0;

  Entry EntryAt(int slot) const {
    return {summaries[slot], key_data[slot], key_sizes[slot],
            line_indexes[slot]};
  }
};

// A child of an inner node, with the number of entries below it and the key
// of its first entry, which divides it from the child before.
struct InnerSlot {
  Node* child;
  WideKeySummary first_summary;
  const char* first_key_data;
  std::uint32_t first_key_size;
  std::int32_t subtree_size;
};

// Searches read the first keys from the second slot on. The first slot's is
// carried up when its node is the right half of a split, and is unset only
// in the first node of a level, which is never a right half.
struct InnerNode : Node {
  WideKeySummary first_summaries[kInnerCapacity];
  std::int32_t subtree_sizes[kInnerCapacity];
  Node* children[kInnerCapacity];
  const char* first_key_data[kInnerCapacity];
  std::uint32_t first_key_sizes[kInnerCapacity];
  std::int32_t size = 0;

  InnerSlot SlotAt(int slot) const {
    return {children[slot], first_summaries[slot], first_key_data[slot],
            first_key_sizes[slot], subtree_sizes[slot]};
  }
};

// The key being inserted, with its summary worked out once.
struct Probe {
  WideKeySummary summary;
  std::string_view key;
};

struct SearchResult {
  bool found;
  int slot;
};

// Asks for every cache line of `node` at once, before a search reads any of
// it, so that the search waits for memory once rather than once per probe.
template <typename NodeType>
void PrefetchNode(const NodeType& node) {
  constexpr std::uintptr_t kLineBytes = 64;
  const auto start = reinterpret_cast<std::uintptr_t>(&node);
  for (std::uintptr_t line = start & ~(kLineBytes - 1);
       line < start + sizeof(NodeType); line += kLineBytes) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
  }
}

// Binary search of a leaf: the slot of the key equal to the probe, or the
// first slot whose key sorts after it.
SearchResult SearchLeaf(const KeyOrder& order, const LeafNode& leaf,
                        const Probe& probe);

// Binary search of an inner node: the child whose subtree holds the probe's
// place; `found` when the probe equals that child's first key.
SearchResult SearchInner(const KeyOrder& order, const InnerNode& inner,
                         const Probe& probe);

std::int32_t SubtreeSize(const InnerNode& inner);

// How many of the capacity + 1 items a full node keeps when a new item goes
// in at `at`, the rest moving to a new right sibling. `first_slot` is the
// lowest slot a new item can take (a new child never goes before the first).
int KeptOnSplit(int capacity, int at, bool leftmost, bool rightmost,
                int first_slot);

// Puts `entry` at `at` in a leaf with room for it.
void InsertEntry(LeafNode& leaf, int at, const Entry& entry);

// Puts `entry` at `at` among the entries of the full `left`, which keeps the
// first `kept` of them (1 to capacity) and moves the rest to the empty
// `right`.
void SplitEntries(LeafNode& left, LeafNode& right, int at, const Entry& entry,
                  int kept);

// Puts `entry` at `at` (counted from the start of `left`) among the entries
// of two neighbouring leaves and shares them out evenly between the two.
// Together they must have room for one more.
void ShareEntries(LeafNode& left, LeafNode& right, int at, const Entry& entry);

// The same as InsertEntry and SplitEntries, for a child of an inner node.
void InsertSlot(InnerNode& inner, int at, const InnerSlot& slot);
void SplitSlots(InnerNode& left, InnerNode& right, int at,
                const InnerSlot& slot, int kept);

template <typename NodeType>
void FreeNode(std::pmr::memory_resource* memory, NodeType* node) {
  node->~NodeType();
  memory->deallocate(node, sizeof(NodeType), alignof(NodeType));
}

// Gives a node that was never linked into the tree back to its memory.
struct NodeReturn {
  std::pmr::memory_resource* memory = nullptr;
  template <typename NodeType>
  void operator()(NodeType* node) const {
    FreeNode(memory, node);
  }
};

// A node taken from memory and not yet linked into the tree.
template <typename NodeType>
using SpareNode = std::unique_ptr<NodeType, NodeReturn>;

// Throws what `memory` throws when it has none.
template <typename NodeType>
SpareNode<NodeType> TakeNode(std::pmr::memory_resource* memory) {
  void* bytes = memory->allocate(sizeof(NodeType), alignof(NodeType));
  // Default-initialised: the item arrays are written before they are read.
  return SpareNode<NodeType>(::new (bytes) NodeType, NodeReturn{memory});
}

}  // namespace mlfsort::key_index

#endif  // MLFSORT_SORTER_KEY_INDEX_NODES_H_

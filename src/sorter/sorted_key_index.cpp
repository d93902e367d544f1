#include "sorter/sorted_key_index.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>

#include "failure/exceptions.h"
#include "sorter/key_index_nodes.h"

namespace mlfsort {
namespace {

using key_index::Entry;
using key_index::InnerNode;
using key_index::InnerSlot;
using key_index::kInnerCapacity;
using key_index::kLeafCapacity;
using key_index::kMaxHeight;
using key_index::LeafNode;
using key_index::Node;

// The key being inserted, with its summary worked out once.
struct Probe {
  std::uint64_t summary;
  std::string_view key;
};

// Compares a stored key with the probe, stored key first. Different
// summaries decide on their own; only equal ones need the key bytes.
int CompareWithProbe(const KeyOrder& order, std::uint64_t summary,
                     const char* key_data, std::uint32_t key_size,
                     const Probe& probe) {
  if (summary != probe.summary) return summary < probe.summary ? -1 : 1;
  return order.Compare(std::string_view(key_data, key_size), probe.key);
}

struct SearchResult {
  bool found;
  int slot;
};

// Binary search of a leaf: the slot of the equal key, or the first slot whose
// key sorts after the probe.
SearchResult SearchLeaf(const KeyOrder& order, const LeafNode& leaf,
                        const Probe& probe) {
  int low = 0;
  int high = leaf.size - 1;
  while (low <= high) {
    const int middle = (low + high) / 2;
    const Entry& entry = leaf.entries[middle];
    const int comparison = CompareWithProbe(
        order, entry.summary, entry.key_data, entry.key_size, probe);
    if (comparison < 0) {
      low = middle + 1;
    } else if (comparison > 0) {
      high = middle - 1;
    } else {
      return {true, middle};
    }
  }
  return {false, low};
}

// Binary search of an inner node's dividing keys (those of slots 1 onward):
// the child whose subtree holds the probe's place. `found` means the probe
// equals that child's first key.
SearchResult SearchInner(const KeyOrder& order, const InnerNode& inner,
                         const Probe& probe) {
  int low = 1;
  int high = inner.size - 1;
  while (low <= high) {
    const int middle = (low + high) / 2;
    const InnerSlot& slot = inner.slots[middle];
    const int comparison =
        CompareWithProbe(order, slot.first_summary, slot.first_key_data,
                         slot.first_key_size, probe);
    if (comparison < 0) {
      low = middle + 1;
    } else if (comparison > 0) {
      high = middle - 1;
    } else {
      return {true, middle};
    }
  }
  return {false, low - 1};
}

// How many of the capacity + 1 items a full node keeps when a new item goes
// in at `at`; the rest move to a new right sibling. Normally half, so both
// have room. At the two ends of the index, where sorted and reversed input
// keeps adding, the split leaves every node behind the growing edge full
// instead of half full.
int KeptOnSplit(int capacity, int at, bool leftmost, bool rightmost,
                int first_slot) {
  if (rightmost && at == capacity) return capacity;
  if (leftmost && at == first_slot) return at + 1;
  return (capacity + 1) / 2;
}

// Puts `item` at `at` among the `size` items of a node with room for it.
template <typename Item>
void InsertItem(Item* items, std::int32_t& size, int at, const Item& item) {
  std::copy_backward(items + at, items + size, items + size + 1);
  items[at] = item;
  ++size;
}

// Puts `item` at `at` among the items of the full `left`, which keeps the
// first `kept` of them and moves the rest to the empty `right`.
template <typename Item, std::size_t kCapacity>
void SplitInsert(Item (&left)[kCapacity], std::int32_t& left_size,
                 Item (&right)[kCapacity], std::int32_t& right_size, int at,
                 const Item& item, int kept) {
  constexpr int kFull = static_cast<int>(kCapacity);
  if (at < kept) {
    std::copy(left + kept - 1, left + kFull, right);
    std::copy_backward(left + at, left + kept - 1, left + kept);
    left[at] = item;
  } else {
    Item* next = std::copy(left + kept, left + at, right);
    *next++ = item;
    std::copy(left + at, left + kFull, next);
  }
  left_size = kept;
  right_size = kFull + 1 - kept;
}

std::int32_t SubtreeSize(const InnerNode& inner) {
  std::int32_t size = 0;
  for (int slot = 0; slot < inner.size; ++slot) {
    size += inner.slots[slot].subtree_size;
  }
  return size;
}

template <typename NodeType>
void FreeNode(std::pmr::memory_resource* memory, NodeType* node) {
  node->~NodeType();
  memory->deallocate(node, sizeof(NodeType), alignof(NodeType));
}

// Hands a node that was taken but not linked in back to its memory.
struct NodeReturn {
  std::pmr::memory_resource* memory = nullptr;
  template <typename NodeType>
  void operator()(NodeType* node) const {
    FreeNode(memory, node);
  }
};

template <typename NodeType>
using SpareNode = std::unique_ptr<NodeType, NodeReturn>;

template <typename NodeType>
SpareNode<NodeType> TakeNode(std::pmr::memory_resource* memory) {
  void* bytes = memory->allocate(sizeof(NodeType), alignof(NodeType));
  // Default-initialised: the item arrays are filled before they are read.
  return SpareNode<NodeType>(::new (bytes) NodeType, NodeReturn{memory});
}

// An inner node passed on the way down, with the slot taken from it and
// whether it is the first or last node of its level.
struct PathStep {
  InnerNode* node;
  int slot;
  bool leftmost;
  bool rightmost;
};

}  // namespace

SortedKeyIndex::SortedKeyIndex(const KeyOrder& order,
                               std::pmr::memory_resource* node_memory)
    : order_(order), node_memory_(node_memory) {}

SortedKeyIndex::~SortedKeyIndex() {
  if (root_ != nullptr) DeleteSubtree(root_, height_);
}

void SortedKeyIndex::DeleteSubtree(Node* node, int level) {
  if (level == 0) {
    FreeNode(node_memory_, static_cast<LeafNode*>(node));
    return;
  }
  auto* inner = static_cast<InnerNode*>(node);
  for (int slot = 0; slot < inner->size; ++slot) {
    DeleteSubtree(inner->slots[slot].child, level - 1);
  }
  FreeNode(node_memory_, inner);
}

std::int32_t SortedKeyIndex::Insert(std::string_view key,
                                    std::uint32_t line_index) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("sort key longer than 4 GiB");
  }
  const Probe probe{order_.Summary(key), key};
  const Entry entry{probe.summary, key.data(),
                    static_cast<std::uint32_t>(key.size()), line_index};

  if (root_ == nullptr) {
    LeafNode* leaf = TakeNode<LeafNode>(node_memory_).release();
    leaf->entries[0] = entry;
    leaf->size = 1;
    root_ = leaf;
    leaf_count_ = 1;
    count_ = 1;
    return 0;
  }

  // Walk down, noting the path and the position of the subtree's first
  // entry. A probe equal to a dividing key is the first entry of that
  // child's subtree, so no further comparison is needed below it.
  std::array<PathStep, kMaxHeight + 1> path;
  std::int32_t position = 0;
  bool leftmost = true;
  bool rightmost = true;
  bool equals_first_key = false;
  Node* node = root_;
  for (int level = height_; level > 0; --level) {
    auto* inner = static_cast<InnerNode*>(node);
    int slot = 0;
    if (!equals_first_key) {
      const SearchResult result = SearchInner(order_, *inner, probe);
      slot = result.slot;
      equals_first_key = result.found;
    }
    path[level] = {inner, slot, leftmost, rightmost};
    for (int before = 0; before < slot; ++before) {
      position += inner->slots[before].subtree_size;
    }
    leftmost = leftmost && slot == 0;
    rightmost = rightmost && slot == inner->size - 1;
    node = inner->slots[slot].child;
  }
  auto* leaf = static_cast<LeafNode*>(node);
  const SearchResult place = equals_first_key
                                 ? SearchResult{true, 0}
                                 : SearchLeaf(order_, *leaf, probe);
  position += place.slot;
  if (place.found) {
    leaf->entries[place.slot].line_index = line_index;
    return position;
  }
  if (count_ == std::numeric_limits<std::int32_t>::max()) {
    throw std::bad_alloc();
  }

  // Take every node the insert may need before changing anything, so that
  // running out of memory leaves the index as it was.
  SpareNode<LeafNode> spare_leaf;
  std::array<SpareNode<InnerNode>, kMaxHeight + 2> spare_inners;
  if (leaf->size == kLeafCapacity) {
    spare_leaf = TakeNode<LeafNode>(node_memory_);
    int level = 1;
    while (level <= height_ && path[level].node->size == kInnerCapacity) {
      spare_inners[level++] = TakeNode<InnerNode>(node_memory_);
    }
    if (level > height_)
      spare_inners[level] = TakeNode<InnerNode>(node_memory_);
  }

  // From here on nothing can fail. A split hands its parent the slot for
  // the new right sibling and the entry count left in the split node.
  bool split_below = false;
  InnerSlot sibling_slot{};
  std::int32_t left_size = 0;
  if (leaf->size < kLeafCapacity) {
    InsertItem(leaf->entries, leaf->size, place.slot, entry);
  } else {
    LeafNode* right = spare_leaf.release();
    const int kept =
        KeptOnSplit(kLeafCapacity, place.slot, leftmost, rightmost, 0);
    SplitInsert(leaf->entries, leaf->size, right->entries, right->size,
                place.slot, entry, kept);
    right->next = leaf->next;
    leaf->next = right;
    ++leaf_count_;
    const Entry& first = right->entries[0];
    sibling_slot = {right, first.summary, first.key_data, first.key_size,
                    right->size};
    left_size = leaf->size;
    split_below = true;
  }
  for (int level = 1; level <= height_; ++level) {
    const PathStep& step = path[level];
    InnerNode* inner = step.node;
    if (!split_below) {
      ++inner->slots[step.slot].subtree_size;
      continue;
    }
    inner->slots[step.slot].subtree_size = left_size;
    const int at = step.slot + 1;
    if (inner->size < kInnerCapacity) {
      InsertItem(inner->slots, inner->size, at, sibling_slot);
      split_below = false;
      continue;
    }
    InnerNode* right = spare_inners[level].release();
    const int kept =
        KeptOnSplit(kInnerCapacity, at, step.leftmost, step.rightmost, 1);
    SplitInsert(inner->slots, inner->size, right->slots, right->size, at,
                sibling_slot, kept);
    ++inner_count_;
    // The right node's first slot carries the key dividing it from the left.
    sibling_slot = right->slots[0];
    sibling_slot.child = right;
    sibling_slot.subtree_size = SubtreeSize(*right);
    left_size = SubtreeSize(*inner);
  }
  if (split_below) {
    InnerNode* root = spare_inners[height_ + 1].release();
    root->slots[0] = InnerSlot{root_, 0, nullptr, 0, left_size};
    root->slots[1] = sibling_slot;
    root->size = 2;
    root_ = root;
    ++height_;
    ++inner_count_;
  }
  ++count_;
  cursor_leaf_ = nullptr;
  return position;
}

std::uint32_t SortedKeyIndex::LineIndexAt(std::int32_t position) const {
  if (position < 0 || position >= count_) {
    RaiseIndexError(position, __builtin_return_address(0));
  }
  return EntryAt(position).line_index;
}

std::string_view SortedKeyIndex::KeyAt(std::int32_t position) const {
  if (position < 0 || position >= count_) {
    RaiseIndexError(position, __builtin_return_address(0));
  }
  const Entry& entry = EntryAt(position);
  return std::string_view(entry.key_data, entry.key_size);
}

const Entry& SortedKeyIndex::EntryAt(std::int32_t position) const {
  // The write phase reads positions in order: stay in the cursor's leaf, or
  // step to the next one, before falling back to a walk from the root.
  if (cursor_leaf_ != nullptr && position >= cursor_start_) {
    const std::int32_t offset = position - cursor_start_;
    if (offset < cursor_leaf_->size) return cursor_leaf_->entries[offset];
    if (offset == cursor_leaf_->size && cursor_leaf_->next != nullptr) {
      cursor_start_ = position;
      cursor_leaf_ = cursor_leaf_->next;
      return cursor_leaf_->entries[0];
    }
  }
  const Node* node = root_;
  std::int32_t start = 0;
  for (int level = height_; level > 0; --level) {
    const auto* inner = static_cast<const InnerNode*>(node);
    int slot = 0;
    while (position - start >= inner->slots[slot].subtree_size) {
      start += inner->slots[slot].subtree_size;
      ++slot;
    }
    node = inner->slots[slot].child;
  }
  cursor_leaf_ = static_cast<const LeafNode*>(node);
  cursor_start_ = start;
  return cursor_leaf_->entries[position - start];
}

std::size_t SortedKeyIndex::AllocatedBytes() const {
  return sizeof(*this) + leaf_count_ * sizeof(LeafNode) +
         inner_count_ * sizeof(InnerNode);
}

}  // namespace mlfsort

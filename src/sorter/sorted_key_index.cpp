#include "sorter/sorted_key_index.h"

#include <array>
#include <cstdint>
#include <limits>
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
using key_index::Probe;
using key_index::SearchResult;
using key_index::SpareNode;
using key_index::TakeNode;

// An inner node passed on the way down, the slot taken from it, and whether
// it is the first or last node of its level.
struct PathStep {
  InnerNode* node;
  int slot;
  bool leftmost;
  bool rightmost;
};

// Where a probe belongs: the inner nodes passed on the way down (path[level]
// for the levels 1 to the height), the leaf, the slot in the leaf, and that
// slot's position in the whole index.
struct Descent {
  std::array<PathStep, kMaxHeight + 1> path;
  LeafNode* leaf;
  bool leaf_leftmost;
  bool leaf_rightmost;
  SearchResult place;
  std::int32_t position;
};

Descent FindPlace(const KeyOrder& order, Node* root, int height,
                  const Probe& probe) {
  Descent descent;
  descent.position = 0;
  bool leftmost = true;
  bool rightmost = true;
  // A probe equal to a dividing key is the first entry below that key, so
  // the rest of the way down needs no comparison.
  bool equals_first_key = false;
  Node* node = root;
  for (int level = height; level > 0; --level) {
    auto* inner = static_cast<InnerNode*>(node);
    int slot = 0;
    if (!equals_first_key) {
      const SearchResult result = key_index::SearchInner(order, *inner, probe);
      slot = result.slot;
      equals_first_key = result.found;
    }
    node = inner->children[slot];
    if (level > 1) {
      key_index::PrefetchNode(*static_cast<InnerNode*>(node));
    } else {
      key_index::PrefetchNode(*static_cast<LeafNode*>(node));
    }
    descent.path[level] = {inner, slot, leftmost, rightmost};
    for (int before = 0; before < slot; ++before) {
      descent.position += inner->subtree_sizes[before];
    }
    leftmost = leftmost && slot == 0;
    rightmost = rightmost && slot == inner->size - 1;
  }
  descent.leaf = static_cast<LeafNode*>(node);
  descent.leaf_leftmost = leftmost;
  descent.leaf_rightmost = rightmost;
  descent.place = equals_first_key
                      ? SearchResult{true, 0}
                      : key_index::SearchLeaf(order, *descent.leaf, probe);
  descent.position += descent.place.slot;
  return descent;
}

// Counts one more entry in the subtrees passed from `from_level` up.
void CountNewEntry(const Descent& descent, int from_level, int height) {
  for (int level = from_level; level <= height; ++level) {
    const PathStep& step = descent.path[level];
    ++step.node->subtree_sizes[step.slot];
  }
}

// Puts `entry` into a full leaf by sharing entries with a neighbour under
// the same parent that has room (the one with more). Returns false, having
// changed nothing, when neither has room.
bool ShareWithNeighbour(const PathStep& parent_step, int at,
                        const Entry& entry) {
  InnerNode& parent = *parent_step.node;
  const int slot = parent_step.slot;
  const auto leaf_in = [&parent](int neighbour) {
    return static_cast<LeafNode*>(parent.children[neighbour]);
  };
  const int left_room = slot > 0 ? kLeafCapacity - leaf_in(slot - 1)->size : 0;
  const int right_room =
      slot + 1 < parent.size ? kLeafCapacity - leaf_in(slot + 1)->size : 0;
  if (left_room == 0 && right_room == 0) return false;

  const int first = left_room >= right_room ? slot - 1 : slot;
  LeafNode& left = *leaf_in(first);
  LeafNode& right = *leaf_in(first + 1);
  key_index::ShareEntries(left, right, first == slot ? at : left.size + at,
                          entry);
  // The left leaf keeps its first entry; the right one has a new one.
  parent.subtree_sizes[first] = left.size;
  parent.subtree_sizes[first + 1] = right.size;
  parent.first_summaries[first + 1] = right.summaries[0];
  parent.first_key_data[first + 1] = right.key_data[0];
  parent.first_key_sizes[first + 1] = right.key_sizes[0];
  return true;
}

// Puts `entry` into the full leaf of `descent` by splitting it, and each
// ancestor that overflows in turn. Takes every node it needs before changing
// anything, so that running out of memory leaves the tree as it was. Returns
// the new root when the root split, else null; adds the bytes of the new
// nodes to *node_bytes.
Node* SplitToFit(std::pmr::memory_resource* memory, Node* root, int height,
                 const Descent& descent, const Entry& entry,
                 std::size_t* node_bytes) {
  SpareNode<LeafNode> spare_leaf = TakeNode<LeafNode>(memory);
  std::array<SpareNode<InnerNode>, kMaxHeight + 2> spare_inners;
  int top = 1;
  while (top <= height && descent.path[top].node->size == kInnerCapacity) {
    spare_inners[top++] = TakeNode<InnerNode>(memory);
  }
  if (top > height) spare_inners[top] = TakeNode<InnerNode>(memory);

  // Nothing below can fail. Each split hands its parent the slot of the new
  // right half and the entry count left in the split node.
  LeafNode& leaf = *descent.leaf;
  LeafNode* right_leaf = spare_leaf.release();
  const int at = descent.place.slot;
  key_index::SplitEntries(
      leaf, *right_leaf, at, entry,
      key_index::KeptOnSplit(kLeafCapacity, at, descent.leaf_leftmost,
                             descent.leaf_rightmost, 0));
  right_leaf->next = leaf.next;
  leaf.next = right_leaf;
  *node_bytes += sizeof(LeafNode);
  InnerSlot new_slot{right_leaf, right_leaf->summaries[0],
                     right_leaf->key_data[0], right_leaf->key_sizes[0],
                     right_leaf->size};
  std::int32_t left_size = leaf.size;

  for (int level = 1; level <= height; ++level) {
    const PathStep& step = descent.path[level];
    InnerNode& inner = *step.node;
    inner.subtree_sizes[step.slot] = left_size;
    const int new_at = step.slot + 1;
    if (inner.size < kInnerCapacity) {
      key_index::InsertSlot(inner, new_at, new_slot);
      CountNewEntry(descent, level + 1, height);
      return nullptr;
    }
    InnerNode* right_inner = spare_inners[level].release();
    key_index::SplitSlots(
        inner, *right_inner, new_at, new_slot,
        key_index::KeptOnSplit(kInnerCapacity, new_at, step.leftmost,
                               step.rightmost, 1));
    *node_bytes += sizeof(InnerNode);
    // The right half's first slot holds the key dividing it from the left.
    new_slot = right_inner->SlotAt(0);
    new_slot.child = right_inner;
    new_slot.subtree_size = key_index::SubtreeSize(*right_inner);
    left_size = key_index::SubtreeSize(inner);
  }

  InnerNode* new_root = spare_inners[height + 1].release();
  key_index::InsertSlot(*new_root, 0,
                        InnerSlot{root, 0, nullptr, 0, left_size});
  key_index::InsertSlot(*new_root, 1, new_slot);
  *node_bytes += sizeof(InnerNode);
  return new_root;
}

}  // namespace

SortedKeyIndex::SortedKeyIndex(const KeyOrder& order,
                               std::pmr::memory_resource* node_memory)
    : order_(order), node_memory_(node_memory) {}

SortedKeyIndex::~SortedKeyIndex() {
  if (root_ != nullptr) DeleteSubtree(root_, height_);
}

void SortedKeyIndex::DeleteSubtree(Node* node, int level) {
  if (level == 0) {
    key_index::FreeNode(node_memory_, static_cast<LeafNode*>(node));
    return;
  }
  auto* inner = static_cast<InnerNode*>(node);
  for (int slot = 0; slot < inner->size; ++slot) {
    DeleteSubtree(inner->children[slot], level - 1);
  }
  key_index::FreeNode(node_memory_, inner);
}

std::int32_t SortedKeyIndex::Insert(std::string_view key,
                                    std::uint32_t line_index) {
  if (key.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("sort key longer than 4 GiB");
  }
  const Probe probe{order_.WideSummary(key), key};
  // Label files repeat one key line after line (the short lines of an
  // entry all have the empty key): try the entry found last before walking
  // down. Its place holds until a new key is inserted.
  if (last_found_.leaf != nullptr && last_found_.summary == probe.summary) {
    LeafNode& leaf = *last_found_.leaf;
    const int slot = last_found_.slot;
    if (order_.Compare(
            std::string_view(leaf.key_data[slot], leaf.key_sizes[slot]), key) ==
        0) {
      leaf.line_indexes[slot] = line_index;
      return last_found_.position;
    }
  }
  const Entry entry{probe.summary, key.data(),
                    static_cast<std::uint32_t>(key.size()), line_index};

  if (root_ == nullptr) {
    LeafNode* leaf = TakeNode<LeafNode>(node_memory_).release();
    key_index::InsertEntry(*leaf, 0, entry);
    root_ = leaf;
    node_bytes_ = sizeof(LeafNode);
    count_ = 1;
    return 0;
  }

  const Descent descent = FindPlace(order_, root_, height_, probe);
  LeafNode& leaf = *descent.leaf;
  if (descent.place.found) {
    leaf.line_indexes[descent.place.slot] = line_index;
    last_found_ = {descent.leaf, descent.place.slot, descent.position,
                   probe.summary};
    return descent.position;
  }
  last_found_.leaf = nullptr;
  if (count_ == std::numeric_limits<std::int32_t>::max()) {
    throw std::bad_alloc();
  }

  if (leaf.size < kLeafCapacity) {
    key_index::InsertEntry(leaf, descent.place.slot, entry);
    CountNewEntry(descent, 1, height_);
  } else if (height_ > 0 &&
             ShareWithNeighbour(descent.path[1], descent.place.slot, entry)) {
    CountNewEntry(descent, 2, height_);
  } else if (Node* new_root = SplitToFit(node_memory_, root_, height_, descent,
                                         entry, &node_bytes_)) {
    root_ = new_root;
    ++height_;
  }
  ++count_;
  cursor_leaf_ = nullptr;
  return descent.position;
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
  const Entry entry = EntryAt(position);
  return std::string_view(entry.key_data, entry.key_size);
}

Entry SortedKeyIndex::EntryAt(std::int32_t position) const {
  // The write phase reads positions in order: stay in the cursor's leaf, or
  // step to the next one, before walking down from the root.
  if (cursor_leaf_ != nullptr && position >= cursor_start_) {
    const std::int32_t offset = position - cursor_start_;
    if (offset < cursor_leaf_->size) return cursor_leaf_->EntryAt(offset);
    if (offset == cursor_leaf_->size && cursor_leaf_->next != nullptr) {
      cursor_start_ = position;
      cursor_leaf_ = cursor_leaf_->next;
      return cursor_leaf_->EntryAt(0);
    }
  }
  const Node* node = root_;
  std::int32_t start = 0;
  for (int level = height_; level > 0; --level) {
    const auto* inner = static_cast<const InnerNode*>(node);
    int slot = 0;
    while (position - start >= inner->subtree_sizes[slot]) {
      start += inner->subtree_sizes[slot];
      ++slot;
    }
    node = inner->children[slot];
  }
  cursor_leaf_ = static_cast<const LeafNode*>(node);
  cursor_start_ = start;
  return cursor_leaf_->EntryAt(position - start);
}

std::size_t SortedKeyIndex::AllocatedBytes() const {
  return sizeof(*this) + node_bytes_;
}

}  // namespace mlfsort

#include "index/run_merge.h"

#include <algorithm>
#include <vector>

namespace mlfsort {
namespace {

// Orders the sources' current records: by summary, key, then age, so that
// of equal keys the oldest source comes first.
class SourceOrder {
 public:
  SourceOrder(std::span<RecordSource* const> sources, const KeyOrder& order)
      : sources_(sources), order_(order) {}

  int CompareKeys(std::size_t a, std::size_t b) const {
    const key_index::Entry& first = sources_[a]->summary();
    const key_index::Entry& second = sources_[b]->summary();
    if (first.summary_high != second.summary_high) {
      return first.summary_high < second.summary_high ? -1 : 1;
    }
    if (first.summary_low != second.summary_low) {
      return first.summary_low < second.summary_low ? -1 : 1;
    }
    return order_.Compare(sources_[a]->key(), sources_[b]->key());
  }

  // For a heap whose top is the first record: true when `a` goes after `b`.
  bool operator()(std::size_t a, std::size_t b) const {
    const int comparison = CompareKeys(a, b);
    return comparison != 0 ? comparison > 0 : a > b;
  }

 private:
  std::span<RecordSource* const> sources_;
  const KeyOrder& order_;
};

}  // namespace

std::uint64_t MergeRecords(std::span<RecordSource* const> sources,
                           const KeyOrder& order,
                           key_index::EqualKeys equal_keys, RecordSink& sink) {
  const SourceOrder after(sources, order);
  std::vector<std::size_t> heap;
  heap.reserve(sources.size());
  for (std::size_t source = 0; source < sources.size(); ++source) {
    if (sources[source]->Next()) heap.push_back(source);
  }
  std::make_heap(heap.begin(), heap.end(), after);
  const auto take_first = [&heap, &after] {
    std::pop_heap(heap.begin(), heap.end(), after);
    const std::size_t source = heap.back();
    heap.pop_back();
    return source;
  };
  const auto move_on = [&heap, &after, sources](std::size_t source) {
    if (!sources[source]->Next()) return;
    heap.push_back(source);
    std::push_heap(heap.begin(), heap.end(), after);
  };
  std::uint64_t handed_on = 0;
  while (!heap.empty()) {
    std::size_t winner = take_first();
    if (equal_keys == key_index::EqualKeys::kKeepLatest) {
      // Equal keys come oldest source first: each newer one supersedes.
      while (!heap.empty() && after.CompareKeys(heap.front(), winner) == 0) {
        const std::size_t newer = take_first();
        move_on(winner);
        winner = newer;
      }
    }
    sources[winner]->Copy(sink);
    ++handed_on;
    move_on(winner);
  }
  return handed_on;
}

}  // namespace mlfsort

// What a sort run holds until its input ends: the sortable lines (or,
// with --entries, whole label entries) with their keys filed in the sorted
// key index, in memory up to a budget. Past the budget everything held is
// written, in key order, as a run to a temporary file, and holding starts
// afresh; at the end the runs and what is still held are merged into the
// output. The output is the same whatever the budget: of equal keys the
// last line read wins across runs as within one, and entries of equal keys
// keep their input order.

#ifndef MLFSORT_RUN_HELD_LINES_H_
#define MLFSORT_RUN_HELD_LINES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/line_store.h"
#include "index/sorted_key_index.h"
#include "index/temporary_runs.h"
#include "labels/label_entries.h"
#include "labels/label_line.h"
#include "order/key_order.h"
#include "platform/compiler.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace mlfsort {

// The sort keys of stored lines, for the index: bytes 3 to 101 of each.
class StoredLineKeys final : public KeySource {
 public:
  explicit StoredLineKeys(const LineStore& lines) : lines_(lines) {}
  std::string_view KeyOf(std::uint32_t line_index) const override {
    return SortKeyOf(lines_.LineAt(static_cast<std::int32_t>(line_index)));
  }
  void AskForPlace(std::uint32_t line_index) const override {
    lines_.PrefetchPlace(static_cast<std::int32_t>(line_index));
  }
  void AskForKey(std::uint32_t line_index) const override {
    lines_.PrefetchLine(static_cast<std::int32_t>(line_index));
  }

 private:
  const LineStore& lines_;
};

class HeldLines {
 public:
  struct Settings {
    bool entries = false;
    LineConvention convention = LineConvention::kCr;
    // Sort on a worker thread where there is one.
    bool threaded = false;
    // The most bytes the held lines and their index may take, counted as
    // each line's bytes and a share of the index per line (per entry, with
    // --entries, where each line counts its line end too).
    std::uint64_t memory_budget = UINT64_MAX;
    // Where the runs go, when there are any.
    std::string temporary_directory;
  };

  // `order` must outlive the holder.
  HeldLines(Platform& platform, const KeyOrder& order, Settings settings);
  HeldLines(const HeldLines&) = delete;
  HeldLines& operator=(const HeldLines&) = delete;

  // The line modes: holds a sortable line. A line whose key has the bytes
  // of the key filed just before supersedes the line of that key, which is
  // the line stored last: it takes that line's place in the store, so that
  // the many short lines of a label file with the same (empty) key take no
  // more memory than one. Inline: a run holds every sortable line so.
  MLFSORT_ALWAYS_INLINE void Hold(std::string_view line) {
    LineStore& lines = *lines_;
    SortedKeyIndex& index = *index_;
    const std::string_view key = SortKeyOf(line);
    if (index.LatestKeyIs(key) && lines.CanReplaceLast(line.size())) {
      index.RefileLatest(SortKeyOf(lines.ReplaceLast(line)));
      return;
    }
    const std::string_view stored = lines.Append(line);
    index.Insert(SortKeyOf(stored),
                 static_cast<std::uint32_t>(lines.Count() - 1));
    held_bytes_ += line.size() + kIndexBytesPerLine;
    if (held_bytes_ > settings_.memory_budget) Spill();
  }

  // --entries: holds a line that starts an entry or lies inside one.
  MLFSORT_ALWAYS_INLINE void HoldEntryLine(std::string_view line,
                                           EntryTracker::Part part) {
    holder_->Take(line, part);
    held_bytes_ += line.size() + kLineEndBytes;
  }
  // --entries: the lines held so far leave no entry open, so a run may end
  // here.
  void AtEntryBoundary() {
    held_bytes_ += kIndexBytesPerLine;
    if (held_bytes_ > settings_.memory_budget) Spill();
  }

  // Writes everything held, in key order, to `output`, each line (line
  // modes) or entry followed by the line end. Returns how many lines or
  // entries it wrote.
  std::uint64_t WriteSorted(TextStream& output);

 private:
  // What one line (or entry) costs the index beyond its bytes, within the
  // budget: its entry, its read position and its share of the batches.
  static constexpr std::uint64_t kIndexBytesPerLine = 32;
  static constexpr std::uint64_t kLineEndBytes = 2;

  // Writes what is held to a run of the temporary file and holds afresh.
  MLFSORT_NOINLINE void Spill();
  // Makes an empty store and index (and entry holder), summaries taken
  // against the reference of the runs, once there are any.
  void HoldAfresh();
  // Merges the runs of the temporary file until they and what is held are
  // few enough to be merged at once.
  void MergeRunsDown();
  std::size_t MaxSourcesAtOnce() const;

  Platform& platform_;
  const KeyOrder& order_;
  const Settings settings_;
  std::optional<LineStore> lines_;
  std::optional<StoredLineKeys> line_keys_;
  std::optional<EntryKeys> entry_keys_;
  std::optional<SortedKeyIndex> index_;
  std::optional<EntryHolder> holder_;
  std::uint64_t held_bytes_ = 0;
  // The runs written so far, oldest first, and the reference their
  // summaries were taken against.
  std::unique_ptr<TemporaryRunFile> runs_;
  std::unique_ptr<TemporaryRunFile> spare_;
  std::vector<RunSpan> spans_;
  std::string reference_;
};

}  // namespace mlfsort

#endif  // MLFSORT_RUN_HELD_LINES_H_

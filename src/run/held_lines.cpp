#include "run/held_lines.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "failure/failure_check.h"
#include "index/run_merge.h"
#include "index/sorted_line_reader.h"

namespace mlfsort {
namespace {

using EqualKeys = key_index::EqualKeys;

// Records go on to the output: each line with its line end, each entry's
// pieces as they are (they hold their line ends).
class OutputSink final : public RecordSink {
 public:
  OutputSink(TextStream& output, bool entries)
      : output_(output), entries_(entries) {}
  void Take(const key_index::Entry&, std::string_view chunk, bool,
            bool) override {
    if (entries_) {
      output_.WriteText(chunk);
      output_.EndOfWrite();
    } else {
      output_.WriteLine(chunk);
    }
    CheckIo();
  }

 private:
  TextStream& output_;
  const bool entries_;
};

// Records go on to a run of a temporary file.
class RunSink final : public RecordSink {
 public:
  explicit RunSink(TemporaryRunFile& file) : file_(file) {}
  void Take(const key_index::Entry& summary, std::string_view chunk, bool first,
            bool more) override {
    if (first) file_.BeginRecord(summary);
    file_.AppendChunk(chunk, more);
  }

 private:
  TemporaryRunFile& file_;
};

// The lines held in memory, in key order.
class HeldLineSource final : public RecordSource {
 public:
  HeldLineSource(SortedKeyIndex& index, const LineStore& lines)
      : index_(index), reader_(index, lines) {}
  bool Next() override {
    if (!reader_.Next(&line_)) return false;
    key_ = SortKeyOf(line_);
    summary_ = index_.SummaryOf(key_);
    return true;
  }
  const key_index::Entry& summary() const override { return summary_; }
  std::string_view key() const override { return key_; }
  void Copy(RecordSink& sink) override {
    sink.Take(summary_, line_, true, false);
  }

 private:
  SortedKeyIndex& index_;
  SortedLineReader reader_;
  std::string_view line_;
  std::string_view key_;
  key_index::Entry summary_{};
};

// The entries held in memory, in key order, each in its pieces.
class HeldEntrySource final : public RecordSource {
 public:
  HeldEntrySource(SortedKeyIndex& index, const LineStore& lines,
                  LineConvention convention)
      : index_(index),
        reader_(index, lines, convention),
        convention_(convention) {}
  bool Next() override {
    // The pieces of an entry not copied are passed over.
    while (!reader_.entry_ended()) reader_.Next(&piece_);
    if (!reader_.Next(&piece_)) return false;
    key_ = EntryKeyOfPiece(piece_, convention_);
    summary_ = index_.SummaryOf(key_);
    return true;
  }
  const key_index::Entry& summary() const override { return summary_; }
  std::string_view key() const override { return key_; }
  void Copy(RecordSink& sink) override {
    bool more = !reader_.entry_ended();
    sink.Take(summary_, piece_, true, more);
    while (more) {
      reader_.Next(&piece_);
      more = !reader_.entry_ended();
      sink.Take(summary_, piece_, false, more);
    }
  }

 private:
  SortedKeyIndex& index_;
  SortedEntryReader reader_;
  const LineConvention convention_;
  std::string_view piece_;
  std::string_view key_;
  key_index::Entry summary_{};
};

// A run of a temporary file.
class StoredRunSource final : public RecordSource {
 public:
  StoredRunSource(TemporaryRunFile& file, RunSpan span, bool entries,
                  LineConvention convention)
      : reader_(file, span), entries_(entries), convention_(convention) {}
  bool Next() override {
    if (!reader_.Next()) return false;
    key_ = entries_ ? EntryKeyOfPiece(reader_.head(), convention_)
                    : SortKeyOf(reader_.head());
    return true;
  }
  const key_index::Entry& summary() const override { return reader_.summary(); }
  std::string_view key() const override { return key_; }
  void Copy(RecordSink& sink) override {
    bool more = reader_.more();
    sink.Take(reader_.summary(), reader_.head(), true, more);
    while (more) {
      const std::string_view chunk = reader_.NextChunk();
      more = reader_.more();
      sink.Take(reader_.summary(), chunk, false, more);
    }
  }

 private:
  RunReader reader_;
  const bool entries_;
  const LineConvention convention_;
  std::string_view key_;
};

}  // namespace

HeldLines::HeldLines(Platform& platform, const KeyOrder& order,
                     Settings settings)
    : platform_(platform), order_(order), settings_(std::move(settings)) {
  HoldAfresh();
}

void HeldLines::HoldAfresh() {
  // The index refers to key bytes held in the store, so it goes first.
  holder_.reset();
  index_.reset();
  entry_keys_.reset();
  line_keys_.reset();
  lines_.reset();
  lines_.emplace(&platform_.BulkMemory());
  const KeySource* keys = nullptr;
  if (settings_.entries) {
    keys = &entry_keys_.emplace(*lines_, settings_.convention);
  } else {
    keys = &line_keys_.emplace(*lines_);
  }
  index_.emplace(
      order_, *keys, &platform_.BulkMemory(), settings_.threaded,
      settings_.entries ? EqualKeys::kKeepAll : EqualKeys::kKeepLatest);
  if (!spans_.empty()) index_->FixReference(reference_);
  if (settings_.entries) {
    holder_.emplace(*lines_, *index_, settings_.convention);
  }
  held_bytes_ = 0;
}

void HeldLines::Spill() {
  if (settings_.entries) holder_->Finish();
  if (!runs_) {
    runs_ = std::make_unique<TemporaryRunFile>(platform_,
                                               settings_.temporary_directory);
  }
  // Every run's summaries are taken against the first run's reference, so
  // that records of different runs compare.
  if (spans_.empty()) reference_.assign(index_->reference());
  runs_->BeginRun();
  RunSink sink(*runs_);
  if (settings_.entries) {
    HeldEntrySource held(*index_, *lines_, settings_.convention);
    while (held.Next()) held.Copy(sink);
  } else {
    HeldLineSource held(*index_, *lines_);
    while (held.Next()) held.Copy(sink);
  }
  spans_.push_back(runs_->EndRun());
  HoldAfresh();
}

std::size_t HeldLines::MaxSourcesAtOnce() const {
  // Each run read at once takes a buffer; a small budget merges fewer at a
  // time, in more passes.
  constexpr std::size_t kFewest = 4;
  constexpr std::size_t kMost = 64;
  const std::uint64_t affordable =
      settings_.memory_budget / TemporaryRunFile::kBufferBytes;
  return static_cast<std::size_t>(
      std::clamp<std::uint64_t>(affordable, kFewest, kMost));
}

void HeldLines::MergeRunsDown() {
  const std::size_t at_once = MaxSourcesAtOnce();
  const EqualKeys equal_keys =
      settings_.entries ? EqualKeys::kKeepAll : EqualKeys::kKeepLatest;
  // What is held stays in memory for the last merge, as the newest source.
  while (spans_.size() + 1 > at_once) {
    if (!spare_) {
      spare_ = std::make_unique<TemporaryRunFile>(
          platform_, settings_.temporary_directory);
    }
    std::vector<RunSpan> merged;
    for (std::size_t first = 0; first < spans_.size(); first += at_once) {
      const std::size_t last = std::min(spans_.size(), first + at_once);
      std::vector<std::unique_ptr<StoredRunSource>> runs;
      std::vector<RecordSource*> sources;
      for (std::size_t run = first; run < last; ++run) {
        runs.push_back(std::make_unique<StoredRunSource>(
            *runs_, spans_[run], settings_.entries, settings_.convention));
        sources.push_back(runs.back().get());
      }
      spare_->BeginRun();
      RunSink sink(*spare_);
      MergeRecords(sources, order_, equal_keys, sink);
      merged.push_back(spare_->EndRun());
    }
    runs_->Clear();
    std::swap(runs_, spare_);
    spans_ = std::move(merged);
  }
}

std::uint64_t HeldLines::WriteSorted(TextStream& output) {
  if (settings_.entries) holder_->Finish();
  OutputSink sink(output, settings_.entries);
  if (spans_.empty()) {
    // Everything fitted: straight from memory.
    std::uint64_t written = 0;
    if (settings_.entries) {
      SortedEntryReader sorted(*index_, *lines_, settings_.convention);
      std::string_view piece;
      while (sorted.Next(&piece)) {
        output.WriteText(piece);
        output.EndOfWrite();
        CheckIo();
        written += sorted.entry_ended() ? 1 : 0;
      }
      return written;
    }
    SortedLineReader sorted(*index_, *lines_);
    std::string_view line;
    while (sorted.Next(&line)) {
      output.WriteLine(line);
      CheckIo();
      ++written;
    }
    return written;
  }
  MergeRunsDown();
  std::vector<std::unique_ptr<RecordSource>> owned;
  std::vector<RecordSource*> sources;
  for (const RunSpan& span : spans_) {
    owned.push_back(std::make_unique<StoredRunSource>(
        *runs_, span, settings_.entries, settings_.convention));
    sources.push_back(owned.back().get());
  }
  if (settings_.entries) {
    owned.push_back(std::make_unique<HeldEntrySource>(*index_, *lines_,
                                                      settings_.convention));
  } else {
    owned.push_back(std::make_unique<HeldLineSource>(*index_, *lines_));
  }
  sources.push_back(owned.back().get());
  return MergeRecords(
      sources, order_,
      settings_.entries ? EqualKeys::kKeepAll : EqualKeys::kKeepLatest, sink);
}

}  // namespace mlfsort

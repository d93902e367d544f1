// Merging sorted runs of records into one: the runs a sort kept in
// temporary files, and what it still holds in memory. A record is a key's
// summary, as the sorted key index keeps it, and its bytes in one or more
// chunks (a line, or a whole label entry).

#ifndef MLFSORT_INDEX_RUN_MERGE_H_
#define MLFSORT_INDEX_RUN_MERGE_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "index/key_index_runs.h"
#include "order/key_order.h"

namespace mlfsort {

// Where merged records go, a chunk at a time.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // A chunk of the record with `summary`: its first when `first`; another
  // follows when `more`.
  virtual void Take(const key_index::Entry& summary, std::string_view chunk,
                    bool first, bool more) = 0;
};

// A run of records in key order.
class RecordSource {
 public:
  virtual ~RecordSource() = default;
  // Moves to the next record, past whatever of the one before was not
  // copied; false after the last.
  virtual bool Next() = 0;
  virtual const key_index::Entry& summary() const = 0;
  // The record's sort key, valid until Next.
  virtual std::string_view key() const = 0;
  // Hands the record's chunks to `sink`, in order. At most once a record.
  virtual void Copy(RecordSink& sink) = 0;
};

// Merges `sources`, oldest first, into `sink` in key order: by summary, and
// where summaries tie by `order` on the keys. Under kKeepLatest, of records
// with equal keys only the newest source's goes on (a source holds one per
// key); under kKeepAll every record does, equal keys oldest source first.
// Returns the number of records handed on. Comparisons per record: about
// log2 of the number of sources.
std::uint64_t MergeRecords(std::span<RecordSource* const> sources,
                           const KeyOrder& order,
                           key_index::EqualKeys equal_keys, RecordSink& sink);

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_RUN_MERGE_H_

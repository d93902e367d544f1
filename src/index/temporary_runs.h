// Sorted runs kept in a temporary file, for sorts that hold more than the
// memory they may take: runs of records written one after another, each
// read back from where it lies. A record is a key's summary, as the sorted
// key index keeps it, and the bytes that were held under the key: a line,
// or a whole label entry in the pieces it was held in.
//
// On disk a record is the summary (8 + 4 bytes, in the machine's own
// order: the file lives as long as the process) and then its chunks, each
// its length times 2, plus 1 when another chunk follows, 7 bits a byte
// lowest first, then its bytes.
//
// Every platform call is followed by the failure check. A failure leaves
// the site of a temporary file in the directory, so that standard error
// names the directory.

#ifndef MLFSORT_INDEX_TEMPORARY_RUNS_H_
#define MLFSORT_INDEX_TEMPORARY_RUNS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "index/key_index_runs.h"
#include "platform/platform.h"
#include "textio/io_failure_site.h"

namespace mlfsort {

// Where a run lies in its file.
struct RunSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

class TemporaryRunFile {
 public:
  // Transfers go through buffers of this many bytes.
  static constexpr std::size_t kBufferBytes = 64 * 1024;

  // Makes nothing yet: the file is created in `directory` when the first
  // run begins.
  TemporaryRunFile(Platform& platform, std::string directory);
  // Closes the file, which goes with its handle; a failure then is moot.
  ~TemporaryRunFile();
  TemporaryRunFile(const TemporaryRunFile&) = delete;
  TemporaryRunFile& operator=(const TemporaryRunFile&) = delete;

  // Starts a run at the end of the file.
  void BeginRun();
  // Starts a record of the run.
  void BeginRecord(const key_index::Entry& summary);
  // Appends a chunk of the record's bytes; `more` when another follows.
  void AppendChunk(std::string_view bytes, bool more);
  // Ends the run, every byte of it handed to the file, and says where it
  // lies.
  RunSpan EndRun();

  // Empties the file: every run in it is gone, and the next one begins at
  // its start.
  void Clear();

  // Reads at most `size` bytes at `offset` into `buffer`; returns how many
  // (0 at the end of the file).
  std::uint32_t ReadAt(std::uint64_t offset, char* buffer, std::uint32_t size);

 private:
  void Append(const void* bytes, std::size_t size);
  void WriteOut();
  // Leaves the platform's code for the failed `operation` with the
  // temporary directory's site, and raises it.
  [[noreturn]] void Fail(IoOperation operation);

  Platform& platform_;
  const std::string directory_;
  Handle handle_ = kInvalidHandle;
  std::uint64_t written_ = 0;  // bytes handed to the file
  std::uint64_t run_begin_ = 0;
  std::unique_ptr<char[]> buffer_;
  std::size_t buffered_ = 0;
};

// Reads the records of one run, in order.
class RunReader {
 public:
  RunReader(TemporaryRunFile& file, RunSpan span);
  RunReader(const RunReader&) = delete;
  RunReader& operator=(const RunReader&) = delete;

  // Moves to the next record and reads its first chunk; false at the end
  // of the run.
  bool Next();

  const key_index::Entry& summary() const { return summary_; }
  // The record's first chunk, valid until the next call.
  std::string_view head() const { return head_; }
  // Whether another chunk follows the one read last.
  bool more() const { return more_; }
  // The next chunk of the record, valid until the next call; only while
  // more().
  std::string_view NextChunk();

 private:
  // Makes at least `bytes` bytes (or all that the run has left) lie in
  // the buffer from buffer_at_ on.
  void Fill(std::size_t bytes);
  std::uint64_t ReadLength();
  // Reads a chunk of `size` bytes into `storage`.
  std::string_view ReadChunk(std::size_t size, std::string* storage);

  TemporaryRunFile& file_;
  std::uint64_t next_ = 0;  // where the bytes after the buffer's begin
  const std::uint64_t end_;
  std::unique_ptr<char[]> buffer_;
  std::size_t buffer_at_ = 0;
  std::size_t buffer_end_ = 0;
  key_index::Entry summary_{};
  std::string head_;
  std::string chunk_;
  bool more_ = false;
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_TEMPORARY_RUNS_H_

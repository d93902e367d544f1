#include "index/temporary_runs.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "failure/failure_check.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

constexpr std::size_t kSummaryBytes =
    sizeof(std::uint64_t) + sizeof(std::uint32_t);
constexpr std::size_t kMaxLengthBytes = 10;  // a 64-bit length, 7 bits a byte

// The most bytes one platform call moves.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

}  // namespace

TemporaryRunFile::TemporaryRunFile(Platform& platform, std::string directory)
    : platform_(platform), directory_(std::move(directory)) {}

TemporaryRunFile::~TemporaryRunFile() {
  if (handle_ != kInvalidHandle) platform_.CloseHandle(handle_);
}

void TemporaryRunFile::BeginRun() {
  if (handle_ == kInvalidHandle) {
    if (!buffer_)
      buffer_ = std::make_unique_for_overwrite<char[]>(kBufferBytes);
    handle_ = platform_.CreateTemporaryFile(directory_.c_str());
    if (handle_ == kInvalidHandle) Fail(IoOperation::kCreate);
  }
  run_begin_ = written_ + buffered_;
}

void TemporaryRunFile::BeginRecord(const key_index::Entry& summary) {
  char bytes[kSummaryBytes];
  std::memcpy(bytes, &summary.summary_high, sizeof summary.summary_high);
  std::memcpy(bytes + sizeof summary.summary_high, &summary.summary_low,
              sizeof summary.summary_low);
  Append(bytes, sizeof bytes);
}

void TemporaryRunFile::AppendChunk(std::string_view bytes, bool more) {
  char length[kMaxLengthBytes];
  std::size_t length_bytes = 0;
  std::uint64_t value = std::uint64_t{bytes.size()} << 1 | (more ? 1 : 0);
  for (; value >= 0x80; value >>= 7) {
    length[length_bytes++] = static_cast<char>(value | 0x80);
  }
  length[length_bytes++] = static_cast<char>(value);
  Append(length, length_bytes);
  Append(bytes.data(), bytes.size());
}

RunSpan TemporaryRunFile::EndRun() {
  WriteOut();
  return {run_begin_, written_};
}

void TemporaryRunFile::Clear() {
  buffered_ = 0;
  written_ = 0;
  run_begin_ = 0;
  if (handle_ != kInvalidHandle && !platform_.EmptyFile(handle_)) {
    Fail(IoOperation::kEmpty);
  }
}

std::uint32_t TemporaryRunFile::ReadAt(std::uint64_t offset, char* buffer,
                                       std::uint32_t size) {
  std::uint32_t got = 0;
  if (!platform_.ReadFileAt(handle_, offset, buffer, size, &got)) {
    Fail(IoOperation::kRead);
  }
  return got;
}

void TemporaryRunFile::Append(const void* bytes, std::size_t size) {
  const char* from = static_cast<const char*>(bytes);
  if (size > kBufferBytes - buffered_) {
    WriteOut();
    // Too large for the buffer: straight to the file.
    while (size >= kBufferBytes) {
      const std::size_t piece = std::min(size, kMaxTransfer);
      std::uint32_t handed = 0;
      if (!platform_.WriteFile(handle_, from, static_cast<std::uint32_t>(piece),
                               &handed)) {
        Fail(IoOperation::kWrite);
      }
      written_ += piece;
      from += piece;
      size -= piece;
    }
  }
  if (size > 0) std::memcpy(buffer_.get() + buffered_, from, size);
  buffered_ += size;
}

void TemporaryRunFile::WriteOut() {
  if (buffered_ == 0) return;
  std::uint32_t handed = 0;
  const auto size = static_cast<std::uint32_t>(buffered_);
  buffered_ = 0;
  if (!platform_.WriteFile(handle_, buffer_.get(), size, &handed)) {
    Fail(IoOperation::kWrite);
  }
  written_ += size;
}

void TemporaryRunFile::Fail(IoOperation operation) {
  std::uint32_t code = platform_.GetLastError();
  if (code == 0) code = platform_error::kIoDevice;
  char words[IoFailureSite::kWordsBytes + 1];
  platform_.DescribeError(code, words, sizeof words);
  SetPendingIoError(static_cast<std::int32_t>(code));
  RecordIoFailure(operation, static_cast<std::int32_t>(code),
                  IoTarget::kTemporaryDirectory, directory_, words);
  RaisePendingIoError();
}

RunReader::RunReader(TemporaryRunFile& file, RunSpan span)
    : file_(file),
      next_(span.begin),
      end_(span.end),
      buffer_(std::make_unique_for_overwrite<char[]>(
          TemporaryRunFile::kBufferBytes)) {}

bool RunReader::Next() {
  Fill(kSummaryBytes + kMaxLengthBytes);
  if (buffer_end_ - buffer_at_ < kSummaryBytes + 1) return false;
  const char* const at = buffer_.get() + buffer_at_;
  std::memcpy(&summary_.summary_high, at, sizeof summary_.summary_high);
  std::memcpy(&summary_.summary_low, at + sizeof summary_.summary_high,
              sizeof summary_.summary_low);
  buffer_at_ += kSummaryBytes;
  const std::uint64_t length = ReadLength();
  more_ = (length & 1) != 0;
  ReadChunk(static_cast<std::size_t>(length >> 1), &head_);
  return true;
}

std::string_view RunReader::NextChunk() {
  Fill(kMaxLengthBytes);
  const std::uint64_t length = ReadLength();
  more_ = (length & 1) != 0;
  return ReadChunk(static_cast<std::size_t>(length >> 1), &chunk_);
}

void RunReader::Fill(std::size_t bytes) {
  std::size_t have = buffer_end_ - buffer_at_;
  if (have >= bytes || next_ == end_) return;
  std::memmove(buffer_.get(), buffer_.get() + buffer_at_, have);
  buffer_at_ = 0;
  while (have < TemporaryRunFile::kBufferBytes && next_ < end_) {
    const std::size_t room = std::min<std::uint64_t>(
        TemporaryRunFile::kBufferBytes - have, end_ - next_);
    const std::uint32_t got = file_.ReadAt(next_, buffer_.get() + have,
                                           static_cast<std::uint32_t>(room));
    if (got == 0) break;  // the file ended early: the run ends there
    next_ += got;
    have += got;
  }
  buffer_end_ = have;
}

std::uint64_t RunReader::ReadLength() {
  std::uint64_t length = 0;
  for (int shift = 0; buffer_at_ < buffer_end_ && shift < 64; shift += 7) {
    const auto byte = static_cast<unsigned char>(buffer_[buffer_at_++]);
    length |= std::uint64_t{byte & 0x7Fu} << shift;
    if (byte < 0x80) break;
  }
  return length;
}

std::string_view RunReader::ReadChunk(std::size_t size, std::string* storage) {
  storage->resize(size);
  char* const to = storage->data();
  const std::size_t buffered = std::min(size, buffer_end_ - buffer_at_);
  if (buffered > 0) std::memcpy(to, buffer_.get() + buffer_at_, buffered);
  buffer_at_ += buffered;
  // The rest of a long chunk is read straight into place.
  std::size_t done = buffered;
  while (done < size && next_ < end_) {
    const std::size_t piece =
        std::min<std::uint64_t>({size - done, end_ - next_, kMaxTransfer});
    const std::uint32_t got =
        file_.ReadAt(next_, to + done, static_cast<std::uint32_t>(piece));
    if (got == 0) break;
    next_ += got;
    done += got;
  }
  storage->resize(done);
  return *storage;
}

}  // namespace mlfsort

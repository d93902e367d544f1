// Reading from text streams: refill, taking bytes, lines and line ends.

#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {

bool TextStream::Refill() {
  position_ = 0;
  fill_level_ = 0;
  std::uint32_t bytes_read = 0;
  if (!platform_.ReadFile(handle_, buffer_, kBufferCapacity, &bytes_read)) {
    // A pipe whose writer has gone has simply ended.
    if (platform_.GetLastError() != platform_error::kBrokenPipe) {
      LeavePlatformError();
      return false;
    }
    bytes_read = 0;
  }
  fill_level_ = bytes_read;
  return true;
}

std::uint8_t TextStream::TakeByte() {
  if (state_ != State::kReading) {
    if (role_ == Role::kStandardInput) OpenForReading();
    if (state_ != State::kReading) {
      SetPendingIoError(104);
      return kEndOfText;
    }
  }
  for (;;) {
    if (position_ < fill_level_) {
      const std::uint8_t byte = buffer_[position_];
      // The position never passes an end-of-text byte, so every later read
      // meets it again.
      if (byte != kEndOfText) ++position_;
      return byte;
    }
    // A failed refill stores nothing: the next read asks the platform again.
    if (!Refill()) return kEndOfText;
    if (fill_level_ == 0) {
      // End of the data is final: store an end-of-text byte so the platform
      // is not asked again.
      buffer_[0] = kEndOfText;
      fill_level_ = 1;
      return kEndOfText;
    }
  }
}

bool TextStream::AtEndOfInput() {
  if (state_ == State::kReading && position_ < fill_level_) {
    return buffer_[position_] == kEndOfText;
  }
  if (TakeByte() == kEndOfText) return true;
  PutBack();
  return false;
}

void TextStream::ReadLine(std::string* line) {
  line->clear();
  for (;;) {
    if (state_ != State::kReading || position_ >= fill_level_) {
      const std::uint8_t byte = TakeByte();
      if (byte == kEndOfText) return;
      if (byte == '\r') {
        PutBack();
        return;
      }
      line->push_back(static_cast<char>(byte));
      continue;
    }
    // Take the rest of the line straight from the buffer.
    const std::uint8_t* const begin = buffer_ + position_;
    const std::uint8_t* const end = buffer_ + fill_level_;
    const std::uint8_t* stop = begin;
    while (stop != end && *stop != '\r' && *stop != kEndOfText) ++stop;
    line->append(reinterpret_cast<const char*>(begin),
                 static_cast<std::size_t>(stop - begin));
    position_ += static_cast<std::uint32_t>(stop - begin);
    if (stop != end) return;  // the CR or end-of-text byte stays unread
  }
}

void TextStream::SkipLineEnd() {
  // Most lines end in CR LF with both in the buffer.
  if (state_ == State::kReading && position_ + 1 < fill_level_ &&
      buffer_[position_] == '\r' && buffer_[position_ + 1] == '\n') {
    position_ += 2;
    return;
  }
  for (;;) {
    const std::uint8_t byte = TakeByte();
    if (byte == kEndOfText) return;
    if (byte == '\r') break;
  }
  const std::uint8_t after_cr = TakeByte();
  if (after_cr == '\n' || after_cr == kEndOfText) return;
  PutBack();
}

}  // namespace mlfsort

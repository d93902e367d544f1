// Writing to text streams: the buffer, write-out, line ends and the end of
// a write statement.

#include <cstring>

#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {

bool TextStream::WriteOut() {
  if (position_ == 0) return true;
  const std::uint32_t count = position_;
  // The buffer counts as empty whatever the outcome: bytes of a failed
  // write-out are lost, never written twice.
  position_ = 0;
  std::uint32_t bytes_written = 0;
  if (!platform_.WriteFile(handle_, buffer_, count, &bytes_written)) {
    LeavePlatformError(IoOperation::kWrite);
    return false;
  }
  return true;
}

void TextStream::WriteText(std::string_view text) {
  if (state_ != State::kWriting) {
    const bool opens_itself =
        role_ == Role::kStandardOutput || role_ == Role::kStandardError;
    if (opens_itself) OpenForWriting();
    if (state_ != State::kWriting) {
      // A standard stream that failed to open keeps the open's site, which
      // tells more.
      const std::int32_t code = kStreamNotWriting;
      if (opens_itself) {
        SetPendingIoError(code);
        if (role_ == Role::kStandardOutput) RetagIoFailure(code);
      } else {
        LeaveStreamError(code, IoOperation::kWrite,
                         "it is not open for writing");
      }
      return;
    }
  }
  while (text.size() >= kBufferCapacity - position_) {
    const std::uint32_t space = kBufferCapacity - position_;
    std::memcpy(buffer_ + position_, text.data(), space);
    position_ = kBufferCapacity;
    text.remove_prefix(space);
    if (!WriteOut()) return;
  }
  if (!text.empty()) std::memcpy(buffer_ + position_, text.data(), text.size());
  position_ += static_cast<std::uint32_t>(text.size());
}

void TextStream::WriteZeroTerminated(const char* text) {
  WriteText(std::string_view(text, std::strlen(text)));
}

void TextStream::WriteLineEnd() {
  WriteText(line_end_);
  EndOfWrite();
}

void TextStream::EndOfWrite() {
  switch (state_) {
    case State::kWriting:
      if (flush_at_end_of_write_) WriteOut();
      return;
    case State::kReading:
      return;
    case State::kClosed:
    case State::kUnnamed:
      if (role_ == Role::kFile) {
        LeaveStreamError(kStreamNotOpen, IoOperation::kWrite, "it is not open");
      } else {
        // The standard stream failed to open itself; that site tells why.
        SetPendingIoError(kStreamNotOpen);
        if (role_ == Role::kStandardOutput) RetagIoFailure(kStreamNotOpen);
      }
      return;
  }
}

}  // namespace mlfsort

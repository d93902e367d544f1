// Naming, opening and closing of text streams; reading is in text_input.cpp,
// writing in text_output.cpp.

#include "textio/text_stream.h"

#include <cstring>

#include "textio/pending_io_error.h"

namespace mlfsort {

TextStream::TextStream(Platform& platform, Role role)
    : platform_(platform), role_(role) {}

void TextStream::SetLineConvention(LineConvention convention) {
  line_convention_ = convention;
  line_stop_ = convention == LineConvention::kLf ? '\n' : kEndOfText;
  line_end_ = LineEndOf(convention);
}

void TextStream::Name(std::string_view name) {
  state_ = State::kClosed;
  handle_ = 0;
  ResetTransfer();
  name_length_ = 0;
  name_[0] = '\0';
  // Cutting the name, as a fixed field would, could open or create another
  // file than the one named; such names are refused at open instead.
  name_refusal_ = NameRefusal(name, platform_);
  if (name_refusal_ == 0 && !name.empty()) {
    std::memcpy(name_, name.data(), name.size());
    name_[name.size()] = '\0';
    name_length_ = name.size();
  }
}

std::uint32_t TextStream::NameRefusal(std::string_view name,
                                      const Platform& platform) {
  if (name.find('\0') != std::string_view::npos) {
    return platform_error::kInvalidName;
  }
  if (name.size() > kNameCapacity || name.size() > platform.MaxNameBytes()) {
    return platform_error::kFilenameTooLong;
  }
  return 0;
}

void TextStream::OpenForReading() {
  if (!BeginOpen(State::kReading)) return;
  TakeHandle(StandardHandle::kInput, &Platform::OpenForReading);
}

void TextStream::OpenForWriting(Contents contents) {
  if (!BeginOpen(State::kWriting)) return;
  if (!TakeHandle(role_ == Role::kStandardError ? StandardHandle::kError
                                                : StandardHandle::kOutput,
                  &Platform::OpenForWriting)) {
    return;
  }
  switch (platform_.GetFileType(handle_)) {
    case FileType::kUnknown:
      platform_.CloseHandle(handle_);
      state_ = State::kClosed;
      LeaveStreamError(kStreamNotWriting, IoOperation::kOpenForWriting,
                       "it is of no kind that can be written");
      return;
    case FileType::kCharacter:
      flush_at_end_of_write_ = true;
      break;
    case FileType::kDisk:
    case FileType::kPipe:
      break;
  }
  if (contents == Contents::kEmptied) Empty();
}

void TextStream::Empty() {
  if (state_ != State::kWriting) {
    LeaveStreamError(kStreamNotWriting, IoOperation::kEmpty,
                     "it is not open for writing");
    return;
  }
  if (close_handle_ && !platform_.EmptyFile(handle_)) {
    LeavePlatformError(IoOperation::kEmpty);
  }
}

void TextStream::ResetTransfer() {
  position_ = 0;
  fill_level_ = 0;
  taken_before_buffer_ = 0;
  lines_holding_line_feeds_ = 0;
  data_ended_ = false;
  flush_at_end_of_write_ = false;
  close_handle_ = false;
}

bool TextStream::TakeHandle(StandardHandle standard,
                            Handle (Platform::*open_file)(const char* name)) {
  if (name_length_ == 0) {
    handle_ = platform_.GetStdHandle(standard);
  } else {
    handle_ = (platform_.*open_file)(name_);
    close_handle_ = true;
  }
  if (handle_ != kInvalidHandle) return true;
  const IoOperation operation = state_ == State::kReading
                                    ? IoOperation::kOpenForReading
                                    : IoOperation::kOpenForWriting;
  state_ = State::kClosed;
  LeavePlatformError(operation);
  return false;
}

bool TextStream::BeginOpen(State new_state) {
  if (state_ == State::kReading || state_ == State::kWriting) Close();
  const IoOperation operation = new_state == State::kReading
                                    ? IoOperation::kOpenForReading
                                    : IoOperation::kOpenForWriting;
  if (state_ == State::kUnnamed) {
    LeaveStreamError(kStreamUnnamed, operation, "it has no name");
    return false;
  }
  state_ = new_state;
  ResetTransfer();
  if (name_refusal_ != 0) {
    state_ = State::kClosed;
    LeaveStreamError(static_cast<std::int32_t>(name_refusal_), operation,
                     name_refusal_ == platform_error::kInvalidName
                         ? "the name holds a zero byte"
                         : "the name is longer than the system takes");
    return false;
  }
  return true;
}

void TextStream::Close() {
  switch (state_) {
    case State::kReading:
      RunCloseBehaviour();
      return;
    case State::kWriting:
      if (WriteOut()) RunCloseBehaviour();
      return;
    case State::kClosed:
    case State::kUnnamed:
      if (role_ == Role::kFile || role_ == Role::kStandardOutput) {
        LeaveStreamError(kStreamNotOpen, IoOperation::kClose, "it is not open");
      }
      return;
  }
}

void TextStream::RunCloseBehaviour() {
  // A standard handle is never closed: the stream stays open and usable,
  // and what it wrote must arrive now all the same (a platform may hold it
  // back to hand it over in large blocks).
  if (!close_handle_) {
    if (state_ == State::kWriting && !platform_.FlushFile(handle_)) {
      LeavePlatformError(IoOperation::kWrite);
    }
    return;
  }
  state_ = State::kClosed;
  if (!platform_.CloseHandle(handle_)) LeavePlatformError(IoOperation::kClose);
}

void TextStream::LeavePlatformError(IoOperation operation) {
  const std::uint32_t code = platform_.GetLastError();
  char words[IoFailureSite::kWordsBytes + 1];
  platform_.DescribeError(code, words, sizeof words);
  LeaveStreamError(static_cast<std::int32_t>(code), operation, words);
}

void TextStream::LeaveStreamError(std::int32_t code, IoOperation operation,
                                  const char* words) {
  SetPendingIoError(code);
  // Nothing reported ever fails on standard error, so its failures keep
  // the site of the failure being reported.
  if (role_ == Role::kStandardError) return;
  IoTarget target = IoTarget::kFile;
  const bool reading = operation == IoOperation::kOpenForReading ||
                       operation == IoOperation::kRead;
  if (role_ == Role::kStandardInput || (name_length_ == 0 && reading)) {
    target = IoTarget::kStandardInput;
  } else if (role_ == Role::kStandardOutput || name_length_ == 0) {
    target = IoTarget::kStandardOutput;
  }
  RecordIoFailure(operation, code, target,
                  std::string_view(name_, name_length_), words);
}

}  // namespace mlfsort

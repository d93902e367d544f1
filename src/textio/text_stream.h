// Text streams: line-oriented reading and writing of files and of standard
// input and output through a 128-byte buffer held inside the stream record.
//
// No operation stops the caller or throws (except std::bad_alloc when a line
// being read cannot grow). A failing operation leaves a code in the pending
// I/O error and returns normally; the caller makes the failure check after
// each operation. The codes of the stream itself are the StreamError codes
// (pending_io_error.h): closing the standard input stream leaves nothing,
// and the standard streams open themselves before they would leave
// kStreamNotReading or kStreamNotWriting. Every other code is the
// platform's, passed through unchanged.
//
// Lines follow the stream's line convention. Under the CR convention, the
// default, lines end at CR or CR LF; an LF alone is an ordinary byte of the
// line; the end-of-text byte 26 ends the input wherever it stands; written
// lines end in CR LF. Under the LF convention lines end at LF, at CR LF or at
// a CR alone; byte 26 is an ordinary byte; written lines end in LF.

#ifndef MLFSORT_TEXTIO_TEXT_STREAM_H_
#define MLFSORT_TEXTIO_TEXT_STREAM_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "textio/copy_bytes.h"
#include "textio/io_failure_site.h"

namespace mlfsort {

// How a text stream ends its lines, reading and writing (see above).
enum class LineConvention { kCr, kLf };

// The line end written under `convention`: CR LF, or LF.
constexpr std::string_view LineEndOf(LineConvention convention) {
  return convention == LineConvention::kLf ? "\n" : "\r\n";
}

class TextStream {
 public:
  // The process-wide streams behave apart from file streams: they open
  // themselves on first use and their close keeps the handle open. Closing
  // the standard input or standard error stream while it is closed leaves
  // nothing.
  enum class Role { kFile, kStandardInput, kStandardOutput, kStandardError };
  enum class State { kUnnamed, kClosed, kReading, kWriting };

  static constexpr std::uint32_t kBufferCapacity = 128;
  static constexpr std::uint8_t kEndOfText = 26;
  // The longest name the record holds; the platform may accept fewer.
  static constexpr std::size_t kNameCapacity = kLongestFileName;

  explicit TextStream(Platform& platform, Role role = Role::kFile);
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  // Chooses the line convention; kCr until set. Set it before the stream is
  // first opened; naming and opening keep it.
  void SetLineConvention(LineConvention convention);

  // Makes the stream closed and gives it `name`; the empty name stands for
  // standard input (reading) or standard output (writing). Closes nothing.
  // A name is never cut or altered: one longer than the platform accepts, or
  // holding a zero byte, is kept as refused, and opening it fails with 206
  // or 123 without opening or creating anything.
  void Name(std::string_view name);

  // Why `name` cannot be opened on `platform` as it stands: 123 for a name
  // holding a zero byte, 206 for one longer than the platform accepts; 0
  // when it can be. Such names are refused whole, never cut.
  static std::uint32_t NameRefusal(std::string_view name,
                                   const Platform& platform);

  // Opens the named file (others may read it, none may write it) or standard
  // input. A stream that is open is closed first; a failure of that close
  // stays pending even when the open succeeds. On failure the stream is
  // closed and the code is left.
  void OpenForReading();

  // What opening a named file for writing does to what it holds.
  enum class Contents {
    kEmptied,  // emptied at once: the file holds what the stream writes
    kKept,     // kept until Empty(), which must come before any write
  };

  // Creates the named file, or opens an existing one and empties it as
  // `contents` says, or opens standard output. Output to a character device
  // (a console) is handed to the platform at the end of every write
  // statement; anything else in blocks of 128 bytes and at close.
  void OpenForWriting(Contents contents = Contents::kEmptied);

  // Empties the named file of a stream opened for writing with its
  // contents kept; nothing for standard output. On failure the code is
  // left and the stream stays open.
  void Empty();

  // True when the next byte is the end-of-text byte (CR convention), the
  // data is exhausted, or the stream cannot be read. Consumes nothing, but
  // may refill (and on a console wait for input).
  bool AtEndOfInput() {
    // Any byte in the buffer but the end-of-text byte is input under either
    // convention.
    if (state_ == State::kReading && position_ < fill_level_ &&
        buffer_[position_] != kEndOfText) {
      return false;
    }
    return AtEndOfInputPastBuffer();
  }

  // Replaces `line` with the bytes of the current line, without its end.
  void ReadLine(std::string* line);

  // Takes the lines that lie whole in the buffer, with what tells their end
  // (an LF under the LF convention, or a CR and the byte after it), one by
  // one: for each does what ReadLine and SkipLineEnd would, then calls
  // take_line(std::string_view) with a view of the line in the buffer, valid
  // during the call. Stops at the first line that does not lie so, having
  // consumed nothing of it. Calls no platform operation, so it cannot fail.
  // take_line must not use the stream; whatever it throws leaves the stream
  // after its line. Inline: the sort run reads most short lines this way.
  template <typename TakeLine>
  void ReadBufferedLines(TakeLine&& take_line) {
    const std::uint32_t fill = fill_level_;
    std::uint32_t at = position_;
    if (state_ != State::kReading || at >= fill) return;
    const bool line_feeds_end_lines = line_convention_ == LineConvention::kLf;
    bool holds_line_feed = false;
    // The stops after the position, from the refill's map; each line's own
    // stop is the lowest left.
    std::uint64_t low = at < 64 ? stops_[0] & (~std::uint64_t{0} << at) : 0;
    std::uint64_t high =
        at < 64 ? stops_[1] : stops_[1] & (~std::uint64_t{0} << (at - 64));
    while ((low | high) != 0) {
      std::uint32_t stop;
      if (low != 0) {
        stop = static_cast<std::uint32_t>(std::countr_zero(low));
        low &= low - 1;
      } else {
        stop = 64 + static_cast<std::uint32_t>(std::countr_zero(high));
        high &= high - 1;
      }
      std::uint32_t next;
      if (buffer_[stop] == '\r') {
        // As SkipLineEnd: CR LF or a lone CR, told by the byte after it.
        if (stop + 1 >= fill) return;
        next = stop + 1 + (buffer_[stop + 1] == '\n' ? 1 : 0);
      } else if (buffer_[stop] == '\n') {
        // Under the CR convention an LF that follows no CR is a byte of
        // its line.
        if (!line_feeds_end_lines) {
          holds_line_feed = true;
          continue;
        }
        next = stop + 1;
      } else {
        return;  // an end-of-text byte stays
      }
      const std::string_view line(reinterpret_cast<const char*>(buffer_ + at),
                                  stop - at);
      if (holds_line_feed) {
        ++lines_holding_line_feeds_;
        holds_line_feed = false;
      }
      at = next;
      position_ = at;
      take_line(line);
    }
  }

  // Consumes the rest of the current line and its line end.
  void SkipLineEnd() {
    // Most lines end in CR LF with both in the buffer; that is one line end
    // under either convention.
    if (state_ == State::kReading && position_ + 1 < fill_level_ &&
        buffer_[position_] == '\r' && buffer_[position_ + 1] == '\n') {
      position_ += 2;
      return;
    }
    SkipLineEndByBytes();
  }

  // Appends the bytes of `text`. A buffer that becomes full is written out
  // at once; if that fails, the rest of the text is dropped.
  void WriteText(std::string_view text);

  // Appends the bytes before the first zero byte of `text`.
  void WriteZeroTerminated(const char* text);

  // Appends the line end (CR LF, or LF under the LF convention), then ends
  // the write statement.
  void WriteLineEnd();

  // WriteText(text) and then WriteLineEnd(). Inline for a line that fits
  // in the buffer of a stream that hands its bytes over in blocks.
  void WriteLine(std::string_view text) {
    if (state_ == State::kWriting && !flush_at_end_of_write_ &&
        text.size() + 2 < kBufferCapacity - position_) {
      CopyBytes(buffer_ + position_, text.data(), text.size());
      position_ += static_cast<std::uint32_t>(text.size());
      if (line_convention_ == LineConvention::kCr) buffer_[position_++] = '\r';
      buffer_[position_++] = '\n';
      return;
    }
    WriteText(text);
    WriteLineEnd();
  }

  // Ends a write statement: on a character device the buffered bytes go to
  // the platform now.
  void EndOfWrite();

  // Writes out what is buffered (writing) and closes the file. If the write
  // out fails the code is left and the stream stays open. The standard
  // streams stay open after close.
  void Close();

  // The bytes taken from the stream since it was opened: those of the lines
  // and line ends read, and of bytes skipped.
  std::uint64_t BytesTaken() const { return taken_before_buffer_ + position_; }

  // Under the CR convention, the lines read since the stream was opened
  // that hold an LF byte (which ends no line there); 0 under the LF
  // convention.
  std::uint64_t LinesHoldingLineFeeds() const {
    return lines_holding_line_feeds_;
  }

  State state() const { return state_; }
  Handle handle() const { return handle_; }

 private:
  bool BeginOpen(State new_state);
  // Forgets the buffer's bytes and the behaviours an open fixes.
  void ResetTransfer();
  // Takes the handle of an opening stream: the `standard` handle for the
  // empty name, else the named file opened by `open_file`. On failure the
  // stream is closed, the code is left, and the result is false.
  bool TakeHandle(StandardHandle standard,
                  Handle (Platform::*open_file)(const char* name));
  bool Refill();
  // AtEndOfInput and SkipLineEnd where the buffer alone cannot tell; inline
  // above, as the sort run calls both for every line.
  bool AtEndOfInputPastBuffer();
  void SkipLineEndByBytes();
  // The position of the first CR, line stop byte or LF not after a CR at or
  // after `from`
  // (below the fill level) in the buffer, or the fill level when there is
  // none.
  std::uint32_t FindLineStop(std::uint32_t from) const;
  // Maps the line stops among the bytes read into stops_.
  void MapLineStops();
  bool WriteOut();
  // The next byte, refilling as needed, or kNoByte at the end of the input
  // (an end-of-text byte stays unread) and when the stream cannot be read.
  static constexpr int kNoByte = -1;
  int TakeByte();
  void PutBack() { --position_; }
  void RunCloseBehaviour();
  // Leaves the platform's code for the failed `operation`, and its site.
  void LeavePlatformError(IoOperation operation);
  // Leaves the stream's own `code` for the failed `operation`, and its site
  // with `words`.
  void LeaveStreamError(std::int32_t code, IoOperation operation,
                        const char* words);

  Platform& platform_;
  const Role role_;
  // What the line convention fixes for the paths taken on every line: the
  // byte other than CR at which a line read stops and which it leaves unread
  // (the end-of-text byte, or LF), and the line end written.
  LineConvention line_convention_ = LineConvention::kCr;
  std::uint8_t line_stop_ = kEndOfText;
  std::string_view line_end_ = LineEndOf(LineConvention::kCr);
  State state_ = State::kUnnamed;
  Handle handle_ = 0;
  std::uint32_t position_ = 0;
  std::uint32_t fill_level_ = 0;
  // The bytes of the buffers taken before the present one.
  std::uint64_t taken_before_buffer_ = 0;
  // The data has ended: the platform is not asked again. Under the CR
  // convention an end-of-text byte is also stored after the data.
  bool data_ended_ = false;
  bool flush_at_end_of_write_ = false;
  bool close_handle_ = false;
  // 0 for a name the platform can open, else the code opening it leaves.
  std::uint32_t name_refusal_ = 0;
  std::size_t name_length_ = 0;
  char name_[kNameCapacity + 1] = {};
  std::uint8_t buffer_[kBufferCapacity] = {};
  // While reading, bit i (of word i / 64) is set for each CR, line stop
  // byte or LF among the bytes read, buffer_[0, fill_level_), but for an
  // LF right after a CR: that LF is taken with its CR.
  std::uint64_t stops_[kBufferCapacity / 64] = {};
  static_assert(kBufferCapacity == 128, "the map of line stops is two words");
  std::uint64_t lines_holding_line_feeds_ = 0;
};

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_TEXT_STREAM_H_

// Reading from text streams: refill, taking bytes, lines and line ends.

// MLFSORT_PORTABLE_BUILTINS takes the scalar line-stop scan, as a machine
// without SSE2 would, so that it is built and tested too.
#if defined(__SSE2__) && !defined(MLFSORT_PORTABLE_BUILTINS)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "textio/pending_io_error.h"
#include "textio/text_stream.h"

namespace mlfsort {

std::uint32_t TextStream::FindLineStop(std::uint32_t from) const {
  // From the refill's map of the buffer's line stops.
  if (from < 64) {
    const std::uint64_t low = stops_[0] >> from;
    if (low != 0)
      return from + static_cast<std::uint32_t>(std::countr_zero(low));
    from = 64;
  }
  const std::uint64_t high = stops_[1] >> (from - 64);
  if (high != 0)
    return from + static_cast<std::uint32_t>(std::countr_zero(high));
  return fill_level_;
}

bool TextStream::Refill() {
  taken_before_buffer_ += position_;
  position_ = 0;
  fill_level_ = 0;
  std::uint32_t bytes_read = 0;
  if (!platform_.ReadFile(handle_, buffer_, kBufferCapacity, &bytes_read)) {
    // A pipe whose writer has gone has simply ended.
    if (platform_.GetLastError() != platform_error::kBrokenPipe) {
      LeavePlatformError(IoOperation::kRead);
      return false;
    }
    bytes_read = 0;
  }
  fill_level_ = bytes_read;
  MapLineStops();
  return true;
}

void TextStream::MapLineStops() {
  // CRs, end-of-text (or, under the LF convention, LF) bytes, and LFs, each
  // in a map of their own.
  std::uint64_t crs[2] = {0, 0};
  std::uint64_t stop_bytes[2] = {0, 0};
  std::uint64_t line_feeds[2] = {0, 0};
  const std::uint8_t stop_byte = line_stop_;
#if defined(__SSE2__) && !defined(MLFSORT_PORTABLE_BUILTINS)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i stop = _mm_set1_epi8(static_cast<char>(stop_byte));
  const __m128i lf = _mm_set1_epi8('\n');
  const auto bits = [](__m128i found) {
    return static_cast<std::uint64_t>(
        static_cast<unsigned>(_mm_movemask_epi8(found)));
  };
  for (std::uint32_t at = 0; at < fill_level_; at += 16) {
    const __m128i chunk =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(buffer_ + at));
    crs[at / 64] |= bits(_mm_cmpeq_epi8(chunk, cr)) << (at % 64);
    stop_bytes[at / 64] |= bits(_mm_cmpeq_epi8(chunk, stop)) << (at % 64);
    line_feeds[at / 64] |= bits(_mm_cmpeq_epi8(chunk, lf)) << (at % 64);
  }
#else
  for (std::uint32_t at = 0; at < fill_level_; ++at) {
    const std::uint8_t byte = buffer_[at];
    const std::uint64_t bit = std::uint64_t{1} << (at % 64);
    if (byte == '\r') crs[at / 64] |= bit;
    if (byte == stop_byte) stop_bytes[at / 64] |= bit;
    if (byte == '\n') line_feeds[at / 64] |= bit;
  }
#endif
  // An LF right after a CR is taken with that CR, so it is no stop of its
  // own: a CR LF line costs the loops one stop. Every other LF is mapped,
  // under either convention: under the CR one it lies inside its line, and
  // such lines are counted.
  const std::uint64_t after_crs[2] = {crs[0] << 1, crs[1] << 1 | crs[0] >> 63};
  std::uint64_t stops[2];
  for (std::uint32_t word = 0; word < 2; ++word) {
    stops[word] = crs[word] | (stop_bytes[word] & ~line_feeds[word]) |
                  (line_feeds[word] & ~after_crs[word]);
  }
  // Bytes past the fill level are stale.
  for (std::uint32_t word = 0; word < 2; ++word) {
    const std::uint32_t first = 64 * word;
    if (fill_level_ <= first) {
      stops[word] = 0;
    } else if (fill_level_ < first + 64) {
      stops[word] &= (std::uint64_t{1} << (fill_level_ - first)) - 1;
    }
  }
  stops_[0] = stops[0];
  stops_[1] = stops[1];
}

int TextStream::TakeByte() {
  if (state_ != State::kReading) {
    const bool opens_itself = role_ == Role::kStandardInput;
    if (opens_itself) OpenForReading();
    if (state_ != State::kReading) {
      // Standard input that failed to open keeps the open's site, which
      // tells more.
      if (opens_itself) {
        SetPendingIoError(kStreamNotReading);
        RetagIoFailure(kStreamNotReading);
      } else {
        LeaveStreamError(kStreamNotReading, IoOperation::kRead,
                         "it is not open for reading");
      }
      return kNoByte;
    }
  }
  for (;;) {
    if (position_ < fill_level_) {
      const std::uint8_t byte = buffer_[position_];
      // The position never passes an end-of-text byte, so every later read
      // meets it again. Under the LF convention byte 26 is data.
      if (byte == kEndOfText && line_convention_ == LineConvention::kCr) {
        return kNoByte;
      }
      ++position_;
      return byte;
    }
    if (data_ended_) return kNoByte;
    // A failed refill stores nothing: the next read asks the platform again.
    if (!Refill()) return kNoByte;
    if (fill_level_ == 0) {
      // End of the data is final. Under the CR convention an end-of-text
      // byte stored after the data lets AtEndOfInput see it in the buffer.
      data_ended_ = true;
      if (line_convention_ == LineConvention::kCr) {
        buffer_[0] = kEndOfText;
        fill_level_ = 1;
        MapLineStops();
      }
      return kNoByte;
    }
  }
}

bool TextStream::AtEndOfInputPastBuffer() {
  if (TakeByte() == kNoByte) return true;
  PutBack();
  return false;
}

void TextStream::ReadLine(std::string* line) {
  line->clear();
  bool holds_line_feed = false;
  for (;;) {
    if (state_ != State::kReading || position_ >= fill_level_) {
      // Under the CR convention the line stop byte (end-of-text) never
      // comes as a byte, so only a CR stops here.
      const int byte = TakeByte();
      if (byte == kNoByte) break;
      if (byte == '\r' || byte == line_stop_) {
        PutBack();
        break;
      }
      holds_line_feed = holds_line_feed || byte == '\n';
      line->push_back(static_cast<char>(byte));
      continue;
    }
    // Take the rest of the line straight from the buffer.
    const std::uint32_t stop = FindLineStop(position_);
    if (stop != fill_level_ && buffer_[stop] == '\n' &&
        line_convention_ == LineConvention::kCr) {
      // An LF inside the line.
      holds_line_feed = true;
      line->append(reinterpret_cast<const char*>(buffer_ + position_),
                   stop + 1 - position_);
      position_ = stop + 1;
      continue;
    }
    line->append(reinterpret_cast<const char*>(buffer_ + position_),
                 stop - position_);
    position_ = stop;
    if (stop != fill_level_) break;  // the CR or end-of-text byte stays unread
  }
  if (holds_line_feed && line_convention_ == LineConvention::kCr) {
    ++lines_holding_line_feeds_;
  }
}

void TextStream::SkipLineEndByBytes() {
  for (;;) {
    const int byte = TakeByte();
    if (byte == kNoByte) return;
    if (byte == '\r') break;
    // Under the LF convention an LF alone is a line end.
    if (byte == '\n' && line_convention_ == LineConvention::kLf) return;
  }
  const int after_cr = TakeByte();
  if (after_cr == '\n' || after_cr == kNoByte) return;
  PutBack();
}

}  // namespace mlfsort

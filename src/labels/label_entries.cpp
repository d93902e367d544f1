#include "labels/label_entries.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace mlfsort {
namespace {

// How far ahead of the entry being read the reader asks for entries (and
// twice as far for where the store keeps them), and how much of each: an
// entry of a label file mostly fits.
constexpr std::size_t kEntriesAhead = 16;
constexpr std::size_t kPrefetchBytes = 256;

// The sort key of the entry whose first piece is `piece`: that of its first
// line. No line holds the first byte of the line end (a CR always ends a
// line, and so does an LF under the LF convention), so the first line ends
// at the first such byte.
std::string_view EntryKeyOf(std::string_view piece, char line_end_start) {
  return EntryKeyOfLine(piece.substr(0, piece.find(line_end_start)));
}

}  // namespace

std::string_view EntryKeyOfPiece(std::string_view piece,
                                 LineConvention convention) {
  return EntryKeyOf(piece, LineEndOf(convention).front());
}

EntryTracker::Part EntryTracker::TakeOutside(std::string_view line) {
  if (line.empty() || line.front() == '#' || IsSubdirectoryLine(line)) {
    return Part::kPassThrough;
  }
  in_entry_ = !IsEntryTerminator(line);
  return Part::kFirst;
}

EntryKeys::EntryKeys(const LineStore& lines, LineConvention convention)
    : lines_(lines), line_end_start_(LineEndOf(convention).front()) {}

std::string_view EntryKeys::KeyOf(std::uint32_t line_index) const {
  return EntryKeyOf(lines_.LineAt(static_cast<std::int32_t>(line_index)),
                    line_end_start_);
}

void EntryKeys::AskForPlace(std::uint32_t line_index) const {
  lines_.PrefetchPlace(static_cast<std::int32_t>(line_index));
}

void EntryKeys::AskForKey(std::uint32_t line_index) const {
  lines_.PrefetchLine(static_cast<std::int32_t>(line_index));
}

EntryHolder::EntryHolder(LineStore& lines, SortedKeyIndex& index,
                         LineConvention convention)
    : lines_(lines), index_(index), crlf_(convention != LineConvention::kLf) {}

void EntryHolder::MakeRoom(std::size_t bytes) {
  // Room for a whole piece and its last line, which may be long.
  const std::size_t capacity =
      std::max(piece_size_ + bytes, kPieceBytes + 4096);
  auto piece = std::make_unique_for_overwrite<char[]>(capacity);
  if (piece_size_ > 0) std::memcpy(piece.get(), piece_.get(), piece_size_);
  piece_ = std::move(piece);
  piece_capacity_ = capacity;
}

void EntryHolder::Finish() {
  if (piece_size_ > 0) StorePiece();
}

void EntryHolder::StorePiece() {
  if (first_unfiled_) {
    while (lines_.Count() % LineStore::kLinesPerPlace != 0) lines_.Append({});
  }
  const std::string_view stored =
      lines_.Append(std::string_view(piece_.get(), piece_size_));
  piece_size_ = 0;
  if (!first_unfiled_) return;
  first_unfiled_ = false;
  index_.Insert(EntryKeyOf(stored, crlf_ ? '\r' : '\n'),
                static_cast<std::uint32_t>(lines_.Count() - 1));
}

SortedEntryReader::SortedEntryReader(SortedKeyIndex& index,
                                     const LineStore& lines,
                                     LineConvention convention)
    : index_(index), lines_(lines), line_end_(LineEndOf(convention)) {}

bool SortedEntryReader::Next(std::string_view* piece) {
  if (line_index_ >= 0 && line_index_ + 1 < lines_.Count()) {
    piece_ = lines_.LineAfter(piece_);
    ++line_index_;
  } else {
    if (ahead_.empty()) {
      ahead_ = index_.LineIndexesFrom(position_);
      if (ahead_.empty()) return false;
    }
    // The entries lie all over the store: each is asked for well before it
    // is read, first where the store keeps its place, then its first bytes.
    const auto at = [this](std::size_t ahead) {
      return static_cast<std::int32_t>(ahead_[ahead]);
    };
    if (ahead_.size() > 2 * kEntriesAhead) {
      lines_.PrefetchPlace(at(2 * kEntriesAhead));
    }
    if (ahead_.size() > kEntriesAhead) {
      lines_.PrefetchFromPlace(at(kEntriesAhead), kPrefetchBytes);
    }
    line_index_ = at(0);
    piece_ = lines_.LineAt(line_index_);
    ahead_ = ahead_.subspan(1);
    ++position_;
  }
  if (EndsEntry(piece_)) line_index_ = -1;
  *piece = piece_;
  return true;
}

bool SortedEntryReader::EndsEntry(std::string_view piece) const {
  // A piece begins a line, and no line holds a line end's first byte.
  if (!piece.ends_with(line_end_)) return false;
  piece.remove_suffix(line_end_.size());
  if (!piece.ends_with('.')) return false;
  piece.remove_suffix(1);
  return piece.empty() || piece.ends_with(line_end_);
}

}  // namespace mlfsort

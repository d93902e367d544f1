// Whole label entries, for sorting a label file by utterance.
//
// Outside an entry these lines pass straight through, in input order: an
// empty line; a line beginning with "#" (the header, comments, the repeated
// headers of concatenated files); a subdirectory line, whose pattern is
// followed by "->" or "=>" (readers try those in file order, so they keep
// it). Any other line starts an entry, which runs through the next line
// that is exactly "." and holds every line in between, whatever it is. A
// lone "." outside an entry is an entry of one line; an entry still open
// when the input ends is kept as it stands.
//
// Held for sorting, an entry is stored in the line store as its lines, each
// followed by the output's line end, so that the write phase copies it in
// one step: one stored piece, or, for an entry longer than a piece, several
// that follow one another in the store, each ending at a line end. A piece
// whose last line is "." ends its entry; the store's last entry may be left
// open. The index files the first piece of each entry under the key of the
// entry's first line (EntryKeyOfLine). A first piece is stored where the store
// keeps a place, after up to three empty lines that nothing reads: the write
// phase then finds it without stepping over the pieces before it.

#ifndef MLFSORT_LABELS_LABEL_ENTRIES_H_
#define MLFSORT_LABELS_LABEL_ENTRIES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "index/line_store.h"
#include "index/sorted_key_index.h"
#include "labels/label_line.h"
#include "textio/copy_bytes.h"
#include "textio/text_stream.h"

namespace mlfsort {

// Follows a label file line by line and tells each line's part in it.
class EntryTracker {
 public:
  enum class Part {
    kPassThrough,  // outside every entry
    kFirst,        // starts an entry
    kInside,       // belongs to the open entry
  };

  // The part of `line`, read after the lines given before; an entry closes
  // after its "." line. Inline: a run asks for every line, and most lie
  // inside an entry.
  Part Take(std::string_view line) {
    if (in_entry_) {
      in_entry_ = !IsEntryTerminator(line);
      return Part::kInside;
    }
    return TakeOutside(line);
  }

  // Whether the lines taken so far leave an entry open.
  bool in_entry() const { return in_entry_; }

 private:
  Part TakeOutside(std::string_view line);

  bool in_entry_ = false;
};

// The sort key of the entry whose first piece, as the store holds it, is
// `piece`: that of its first line, which ends at the first byte of the
// line end of `convention`.
std::string_view EntryKeyOfPiece(std::string_view piece,
                                 LineConvention convention);

// The sort keys of held entries, by the line index of each first piece.
class EntryKeys final : public KeySource {
 public:
  EntryKeys(const LineStore& lines, LineConvention convention);
  std::string_view KeyOf(std::uint32_t line_index) const override;
  void AskForPlace(std::uint32_t line_index) const override;
  void AskForKey(std::uint32_t line_index) const override;

 private:
  const LineStore& lines_;
  const char line_end_start_;
};

// Stores the entries of a run, given their lines, and files each in the
// index.
class EntryHolder {
 public:
  // `index` must take its keys from an EntryKeys of `lines` and
  // `convention`. Lines are stored with the line end of `convention`.
  EntryHolder(LineStore& lines, SortedKeyIndex& index,
              LineConvention convention);

  // Takes `line`, the first line of an entry or one inside it, as an
  // EntryTracker told. Inline: a run gives it most lines.
  void Take(std::string_view line, EntryTracker::Part part) {
    if (line.size() + 2 > piece_capacity_ - piece_size_) {
      MakeRoom(line.size() + 2);
    }
    char* end = piece_.get() + piece_size_;
    CopyBytes(end, line.data(), line.size());
    end += line.size();
    if (crlf_) *end++ = '\r';
    *end++ = '\n';
    piece_size_ = static_cast<std::size_t>(end - piece_.get());
    if (part == EntryTracker::Part::kFirst) first_unfiled_ = true;
    if (IsEntryTerminator(line) || piece_size_ >= kPieceBytes) StorePiece();
  }

  // Stores what the entry still open at the end of the input holds.
  void Finish();

  // A piece is stored once it holds this many bytes, at the end of a line.
  static constexpr std::size_t kPieceBytes = 64 * 1024;

 private:
  void MakeRoom(std::size_t bytes);
  void StorePiece();

  LineStore& lines_;
  SortedKeyIndex& index_;
  const bool crlf_;
  // The lines of the open entry not yet stored, and whether its first piece
  // is among them (the first is filed, the others are not).
  std::unique_ptr<char[]> piece_;
  std::size_t piece_size_ = 0;
  std::size_t piece_capacity_ = 0;
  bool first_unfiled_ = false;
};

// Reads the held entries back for the write phase: entry by entry in the
// index's order, a piece at a time, each entry's lines in input order.
class SortedEntryReader {
 public:
  SortedEntryReader(SortedKeyIndex& index, const LineStore& lines,
                    LineConvention convention);

  // Sets `piece` to the next piece of an entry (lines with their line ends)
  // and returns true; false after the last.
  bool Next(std::string_view* piece);

  // Whether the piece read last was its entry's last: it ends in a "."
  // line, or it is the store's last (an entry left open by the input's
  // end).
  bool entry_ended() const {
    return line_index_ < 0 || line_index_ + 1 >= lines_.Count();
  }

 private:
  // True when `piece` ends in a "." line.
  bool EndsEntry(std::string_view piece) const;

  SortedKeyIndex& index_;
  const LineStore& lines_;
  const std::string_view line_end_;
  // The first pieces at hand, from the index's position `position_` on.
  std::span<const std::uint32_t> ahead_;
  std::int32_t position_ = 0;
  // The piece read last, and its line index while pieces of its entry
  // follow it (-1 before the first read, and after an entry's last piece).
  std::string_view piece_;
  std::int32_t line_index_ = -1;
};

}  // namespace mlfsort

#endif  // MLFSORT_LABELS_LABEL_ENTRIES_H_

#include "labels/order_check.h"

#include <cstddef>

#include "failure/failure_words.h"
#include "labels/label_line.h"

namespace mlfsort {
namespace {

constexpr std::size_t kShownLineBytes = 200;
constexpr std::string_view kCut = "...";

bool IsUtf8Continuation(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// `line` as a finding shows it: control bytes escaped, and cut where the
// shown bytes would pass kShownLineBytes, never inside an escape or a UTF-8
// character, so that what is shown stays one readable line.
std::string ShownLine(std::string_view line) {
  std::size_t shown_bytes = 0;
  std::size_t kept = 0;
  const auto count = [&shown_bytes](char) { ++shown_bytes; };
  for (; kept < line.size(); ++kept) {
    const std::size_t before = shown_bytes;
    ShowByte(line[kept], count);
    if (shown_bytes > kShownLineBytes) {
      shown_bytes = before;
      break;
    }
  }
  if (kept < line.size()) {
    while (kept > 0 && IsUtf8Continuation(line[kept])) --kept;
  }
  std::string shown;
  shown.reserve(shown_bytes + kCut.size());
  const auto append = [&shown](char byte) { shown += byte; };
  for (const char byte : line.substr(0, kept)) ShowByte(byte, append);
  if (kept < line.size()) shown += kCut;
  return shown;
}

}  // namespace

OrderCheck::OrderCheck(const KeyOrder& order, bool entries)
    : order_(order), entries_(entries) {}

void OrderCheck::StartInput(std::string_view shown_name) {
  if (has_previous_ && previous_input_number_ == input_number_) {
    previous_input_name_ = input_name_;
  }
  input_name_ = shown_name;
  ++input_number_;
  line_number_ = 0;
}

bool OrderCheck::Take(std::string_view line) {
  if (finding_) return false;
  ++line_number_;
  if (entries_) {
    switch (tracker_.Take(line)) {
      case EntryTracker::Part::kInside:
        return true;
      case EntryTracker::Part::kPassThrough:
        return TakePassThrough();
      case EntryTracker::Part::kFirst:
        return TakeKey(EntryKeyOfLine(line), line);
    }
  }
  if (IsPassThroughLine(line)) return TakePassThrough();
  return TakeKey(SortKeyOf(line), line);
}

bool OrderCheck::TakeKey(std::string_view key, std::string_view line) {
  if (has_previous_) {
    const int order = order_.Compare(key, previous_key_);
    if (order < 0) {
      finding_ =
          Place(input_name_, line_number_) + "disorder: " + ShownLine(line);
      return false;
    }
    if (order == 0 && !entries_) {
      const bool same_input = previous_input_number_ == input_number_;
      finding_ = Place(same_input ? input_name_ : previous_input_name_,
                       previous_line_number_) +
                 "dropped: the key of " +
                 (same_input ? "line " : input_name_ + ":") +
                 std::to_string(line_number_) + " is the same";
      return false;
    }
  }
  // Assigning keeps the capacity of the key before: no allocation per line
  // once the longest key has been seen.
  previous_key_.assign(key);
  previous_input_number_ = input_number_;
  previous_line_number_ = line_number_;
  has_previous_ = true;
  return true;
}

bool OrderCheck::TakePassThrough() {
  if (!has_previous_) return true;
  finding_ =
      Place(input_name_, line_number_) + "pass-through line after sorted lines";
  return false;
}

std::string OrderCheck::Place(std::string_view name,
                              std::uint64_t line_number) {
  return std::string(name) + ":" + std::to_string(line_number) + ": ";
}

}  // namespace mlfsort

// The order of sort keys: case-blind, with hyphen, apostrophe and control
// bytes deciding only between keys that are otherwise equal.

#ifndef MLFSORT_ORDER_KEY_ORDER_H_
#define MLFSORT_ORDER_KEY_ORDER_H_

#include <cstdint>
#include <string_view>

#include "order/wide_key_summary.h"

namespace mlfsort {

// A three-way order on keys that is a strict weak ordering. Keys that compare
// equal are duplicates for the sorted key index.
class KeyOrder {
 public:
  virtual ~KeyOrder() = default;

  // Negative when a sorts before b, 0 when they are equal, positive after.
  // Both keys take part whole, zero bytes included.
  virtual int Compare(std::string_view a, std::string_view b) const = 0;

  // A summary of a key's leading order, for comparing without touching the
  // key bytes: Summary(a) < Summary(b) implies Compare(a, b) < 0, and the
  // same for >. Equal summaries tell nothing. An order with no cheap summary
  // returns the same value for every key.
  virtual std::uint64_t Summary(std::string_view key) const = 0;

  // The same promise as Summary, over a longer lead. By default, Summary in
  // the high half.
  virtual WideKeySummary WideSummary(std::string_view key) const {
    return static_cast<WideKeySummary>(Summary(key)) << 64;
  }

  // A wide summary of the key as it stands to `reference`: keys that share
  // a long lead with the reference, as label keys share a corpus path, are
  // summarized by what follows the lead. The promise of Summary holds
  // between any two keys summarized against the same reference (not
  // between summaries against different ones). By default, WideSummary.
  virtual WideKeySummary SummaryAgainst(std::string_view key,
                                        std::string_view reference) const {
    static_cast<void>(reference);
    return WideSummary(key);
  }

  // Compare(a, b) == 0, which an order may tell faster.
  virtual bool Equal(std::string_view a, std::string_view b) const {
    return Compare(a, b) == 0;
  }

  // A number that equal keys share (Compare(a, b) == 0 implies equal
  // fingerprints), for finding repeated keys by a hash; unequal keys may
  // share one too. By default, Summary.
  virtual std::uint64_t Fingerprint(std::string_view key) const {
    return Summary(key);
  }
};

// The multiplier of the tool's hashes: 2^64 divided by the golden ratio,
// odd, so that a product's high bits depend on every bit of the number
// multiplied. Fingerprints mix key bytes with it, and the sorted key index
// takes its slots for recent keys from the high bits of a fingerprint
// times it.
inline constexpr std::uint64_t kHashMultiplier = 0x9E3779B97F4A7C15u;

// The portable key order, the same on every machine:
// - Tie-breaker bytes (0, 1-8, 14-31, 127, apostrophe, hyphen) are skipped
//   at the first level.
// - First level, the other bytes in order by class: space, TAB, LF, VT, FF,
//   CR; then ! " # $ % & ( ) * , . / : ; ? @ [ \ ] ^ _ ` { | } ~; then
//   + < = >; then 0-9; then a-z with A-Z equal to them; then bytes 128-255
//   by value. A sequence that is a prefix of the other sorts first.
// - Second level: the tie-breaker bytes as a list of (position, byte),
//   compared left to right; at the first pair that differs the one further
//   right sorts first, at the same position the order is 0, 1-8, 14-31, 127,
//   apostrophe, hyphen; a list that runs out first sorts first.
// Two keys are equal exactly when they are equal ignoring ASCII letter case.
// The wide summary packs the first-level weights of the leading weighted
// bytes, the first in the most significant bits, in an order-keeping code:
// 6 bits for space " * , . / : _, digits and letters, 9 or 10 bits for the
// other weights; so 21 such weights and 2 bits of the next; 0 fills the
// rest. The summary is its high half. A summary against a reference leads
// with whether the key's weights run below, equal to or above the
// reference's (2 bits), then how many leading weights they share (7 bits,
// counting down above the reference), then the key's weights after those,
// packed alike, to kSummaryAgainstBits in all (14 weights of 6 bits); the
// bits after those are 0. The fingerprint hashes the first and
// last eight bytes and the length, with ASCII letter case folded.
class PortableKeyOrder final : public KeyOrder {
 public:
  // The leading bits of a summary against a reference that hold its code;
  // as many as the sorted key index keeps.
  static constexpr int kSummaryAgainstBits = 96;

  int Compare(std::string_view a, std::string_view b) const override;
  std::uint64_t Summary(std::string_view key) const override;
  WideKeySummary WideSummary(std::string_view key) const override;
  WideKeySummary SummaryAgainst(std::string_view key,
                                std::string_view reference) const override;
  // Equal length, and equal bytes but for ASCII letter case.
  bool Equal(std::string_view a, std::string_view b) const override;
  std::uint64_t Fingerprint(std::string_view key) const override;

  // The one instance; the order has no state.
  static const PortableKeyOrder& Instance();
};

}  // namespace mlfsort

#endif  // MLFSORT_ORDER_KEY_ORDER_H_

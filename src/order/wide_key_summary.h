// The 128-bit number that a wide key summary is (label keys often share a
// long leading path, which a summary of 64 bits would not see past): the
// compiler's own where it has one, else two 64-bit halves with the few
// operations summaries use.

#ifndef MLFSORT_ORDER_WIDE_KEY_SUMMARY_H_
#define MLFSORT_ORDER_WIDE_KEY_SUMMARY_H_

#include <compare>
#include <cstdint>

namespace mlfsort {

#if defined(__SIZEOF_INT128__) && !defined(MLFSORT_PORTABLE_BUILTINS)

__extension__ typedef unsigned __int128 WideKeySummary;

#else

class WideKeySummary {
 public:
  constexpr WideKeySummary(std::uint64_t low = 0) : high_(0), low_(low) {}

  constexpr explicit operator std::uint64_t() const { return low_; }
  constexpr explicit operator std::uint32_t() const {
    return static_cast<std::uint32_t>(low_);
  }

  // Shifts by 0 to 128 bits.
  friend constexpr WideKeySummary operator<<(WideKeySummary value, int bits) {
    if (bits == 0) return value;
    if (bits >= 128) return {};
    if (bits >= 64) return Halves(value.low_ << (bits - 64), 0);
    return Halves(value.high_ << bits | value.low_ >> (64 - bits),
                  value.low_ << bits);
  }
  friend constexpr WideKeySummary operator>>(WideKeySummary value, int bits) {
    if (bits == 0) return value;
    if (bits >= 128) return {};
    if (bits >= 64) return Halves(0, value.high_ >> (bits - 64));
    return Halves(value.high_ >> bits,
                  value.low_ >> bits | value.high_ << (64 - bits));
  }
  friend constexpr WideKeySummary operator|(WideKeySummary a,
                                            WideKeySummary b) {
    return Halves(a.high_ | b.high_, a.low_ | b.low_);
  }
  // The high half first: the order of the numbers.
  friend constexpr auto operator<=>(const WideKeySummary&,
                                    const WideKeySummary&) = default;

 private:
  static constexpr WideKeySummary Halves(std::uint64_t high,
                                         std::uint64_t low) {
    WideKeySummary value(low);
    value.high_ = high;
    return value;
  }

  std::uint64_t high_;
  std::uint64_t low_;
};

#endif

}  // namespace mlfsort

#endif  // MLFSORT_ORDER_WIDE_KEY_SUMMARY_H_

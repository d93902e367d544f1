// How the tool's lists grow when full: by 4 up to 8 entries, by 16 up to 64,
// then by a quarter, which keeps both the copies on growth and the unused
// room small.

#ifndef MLFSORT_INDEX_LIST_GROWTH_H_
#define MLFSORT_INDEX_LIST_GROWTH_H_

#include <cstdint>
#include <limits>

namespace mlfsort {

// The next capacity of a list that is full at `capacity`; the largest
// capacity stays as it is.
constexpr std::int32_t NextListCapacity(std::int32_t capacity) {
  constexpr std::int32_t kLargest = std::numeric_limits<std::int32_t>::max();
  const std::int32_t step = capacity > 64  ? capacity / 4
                            : capacity > 8 ? 16
                                           : 4;
  return capacity > kLargest - step ? kLargest : capacity + step;
}

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_LIST_GROWTH_H_

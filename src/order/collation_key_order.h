// The key order of a platform's locale collation, for platforms that have
// one: keys compare as the collation compares them.

#ifndef MLFSORT_ORDER_COLLATION_KEY_ORDER_H_
#define MLFSORT_ORDER_COLLATION_KEY_ORDER_H_

#include <cstdint>
#include <string_view>

#include "order/key_order.h"
#include "platform/platform.h"

namespace mlfsort {

class CollationKeyOrder final : public KeyOrder {
 public:
  // `collation` must outlive the order.
  explicit CollationKeyOrder(const LocaleCollation& collation)
      : collation_(collation) {}

  int Compare(std::string_view a, std::string_view b) const override {
    return collation_.Compare(a, b);
  }
  // The same value for every key: a locale collation has no cheap summary.
  std::uint64_t Summary(std::string_view) const override { return 0; }

 private:
  const LocaleCollation& collation_;
};

}  // namespace mlfsort

#endif  // MLFSORT_ORDER_COLLATION_KEY_ORDER_H_

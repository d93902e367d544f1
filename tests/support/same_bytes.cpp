#include "support/same_bytes.h"

#include <algorithm>
#include <cstddef>

namespace mlfsort {

// Byte-for-byte comparison that stays readable for files of megabytes.
::testing::AssertionResult SameBytes(const std::string& actual,
                                     const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto mismatch = std::mismatch(actual.begin(), actual.end(),
                                      expected.begin(), expected.end());
  const std::size_t at =
      static_cast<std::size_t>(mismatch.first - actual.begin());
  const std::size_t from = at < 40 ? 0 : at - 40;
  return ::testing::AssertionFailure()
         << "sizes " << actual.size() << " (actual) and " << expected.size()
         << " (expected); first difference at byte " << at << "\n  actual:   "
         << ::testing::PrintToString(actual.substr(from, 80))
         << "\n  expected: "
         << ::testing::PrintToString(expected.substr(from, 80));
}

}  // namespace mlfsort

// Checks the portable key order on three keys cut from arbitrary bytes: it
// must be a strict weak ordering (the sorted key index relies on that to
// find duplicates), call keys equal exactly when they agree ignoring ASCII
// case, agree with the plain model of the order, and keep both its
// summaries consistent with full comparisons.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "order/key_order.h"
#include "support/sort_model.h"

namespace mlfsort {
namespace {

// Aborts with a message, so libFuzzer keeps the input as a crash.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "key_order: %s\n", what);
    std::abort();
  }
}

int Sign(int value) { return (value > 0) - (value < 0); }

std::string LowerCase(std::string key) {
  for (char& byte : key) {
    if (byte >= 'A' && byte <= 'Z') byte = static_cast<char>(byte - 'A' + 'a');
  }
  return key;
}

std::string SwappedCase(std::string key) {
  for (char& byte : key) {
    if (byte >= 'A' && byte <= 'Z') {
      byte = static_cast<char>(byte - 'A' + 'a');
    } else if (byte >= 'a' && byte <= 'z') {
      byte = static_cast<char>(byte - 'a' + 'A');
    }
  }
  return key;
}

void CheckOrder(FuzzedDataProvider& provider) {
  const KeyOrder& order = PortableKeyOrder::Instance();
  std::array<std::string, 3> keys;
  keys[0] = provider.ConsumeRandomLengthString();
  keys[1] = provider.ConsumeRandomLengthString();
  keys[2] = provider.ConsumeRemainingBytesAsString();

  // compare[i][j] is the sign of Compare(keys[i], keys[j]).
  int compare[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      compare[i][j] = Sign(order.Compare(keys[i], keys[j]));
    }
  }

  for (int i = 0; i < 3; ++i) {
    Require(compare[i][i] == 0, "a key is not equal to itself");
    const std::string swapped = SwappedCase(keys[i]);
    Require(order.Compare(keys[i], swapped) == 0,
            "a key differs from itself in another case");
    Require(order.Summary(keys[i]) == order.Summary(swapped) &&
                order.WideSummary(keys[i]) == order.WideSummary(swapped),
            "a summary depends on letter case");
    // The wide summary leads with the same eight weights.
    Require(static_cast<std::uint64_t>(order.WideSummary(keys[i]) >> 64) ==
                order.Summary(keys[i]),
            "the wide summary does not begin with the summary");
    for (int j = 0; j < 3; ++j) {
      Require(compare[i][j] == -compare[j][i],
              "the order is not antisymmetric");
      Require(
          (compare[i][j] == 0) == (LowerCase(keys[i]) == LowerCase(keys[j])),
          "equal keys are not the keys equal ignoring case");
      Require(compare[i][j] == Sign(ModelCompareKeys(keys[i], keys[j])),
              "the order disagrees with the model");
      Require(Sign(order.Compare(swapped, keys[j])) == compare[i][j],
              "letter case changed the order between two keys");
      const std::uint64_t summary_i = order.Summary(keys[i]);
      const std::uint64_t summary_j = order.Summary(keys[j]);
      if (summary_i != summary_j) {
        Require(compare[i][j] == (summary_i < summary_j ? -1 : 1),
                "the summaries contradict the comparison");
      }
      const WideKeySummary wide_i = order.WideSummary(keys[i]);
      const WideKeySummary wide_j = order.WideSummary(keys[j]);
      if (wide_i != wide_j) {
        Require(compare[i][j] == (wide_i < wide_j ? -1 : 1),
                "the wide summaries contradict the comparison");
      }
      // Against each of the three keys as the reference, the third among
      // them included.
      for (const std::string& reference : keys) {
        const WideKeySummary against_i =
            order.SummaryAgainst(keys[i], reference);
        const WideKeySummary against_j =
            order.SummaryAgainst(keys[j], reference);
        if (against_i != against_j) {
          Require(
              compare[i][j] == (against_i < against_j ? -1 : 1),
              "the summaries against a reference contradict the comparison");
        }
      }
      // Transitivity of both "before" and "equal", so that keys that are
      // neither before nor after one another form classes.
      for (int k = 0; k < 3; ++k) {
        if (compare[i][j] <= 0 && compare[j][k] <= 0) {
          Require(compare[i][k] == std::min(compare[i][j], compare[j][k]),
                  "the order is not transitive");
        }
      }
    }
  }
}

}  // namespace
}  // namespace mlfsort

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider provider(data, size);
  mlfsort::CheckOrder(provider);
  return 0;
}

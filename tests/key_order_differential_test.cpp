// Checks the portable key order against the Windows locale order
// (CompareStringA) on many random keys: the same sorted sequence, the same
// equal keys, and the same sign for random pairs. Keys hold ASCII bytes 1 to
// 127 only; NUL and bytes above 127 are ordered differently on purpose.
//
// A difference is shrunk to a shortest pair of keys that still shows it, so
// a failure names a small example of what the portable order gets wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "order/key_order.h"
#include "platform/windows_platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace mlfsort {
namespace {

constexpr std::size_t kKeyCount = 100000;
constexpr std::size_t kPairCount = 300000;
constexpr std::size_t kMaxKeyBytes = 20;
constexpr std::size_t kShownDifferences = 12;

int Sign(int value) { return (value > 0) - (value < 0); }

std::string Escaped(std::string_view key) {
  std::ostringstream text;
  text << '"';
  for (const char byte : key) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 32 || value == 127 || byte == '"' || byte == '\\') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      text << "\\x" << kHex[value >> 4] << kHex[value & 15];
    } else {
      text << byte;
    }
  }
  text << '"';
  return text.str();
}

// Random keys whose bytes favour what the two orders are most likely to
// weigh differently: letter case, hyphen and apostrophe, control bytes,
// white space and punctuation. Many keys extend a prefix of an earlier one,
// as the keys of one label file do.
class KeyGenerator {
 public:
  explicit KeyGenerator(std::uint64_t seed) : random_(seed) {}

  char NextByte() {
    static constexpr std::string_view kLetters =
        "aAbBcCeEzZ";  // case pairs, and both ends of the alphabet
    static constexpr std::string_view kPunctuation =
        "!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";
    switch (Below(10)) {
      case 0:
      case 1:
        return kLetters[Below(kLetters.size())];
      case 2:
        return static_cast<char>('a' + Below(26));
      case 3:
        return Below(2) == 0 ? '-' : '\'';
      case 4:
        return static_cast<char>('0' + Below(10));
      case 5:
        return kPunctuation[Below(kPunctuation.size())];
      case 6:
        return " \t\n\v\f\r"[Below(6)];
      case 7:
        return Below(32) == 0 ? '\x7F' : static_cast<char>(1 + Below(31));
      default:
        return static_cast<char>(1 + Below(127));
    }
  }

  std::string NextKey(const std::vector<std::string>& earlier) {
    std::string key;
    if (!earlier.empty() && Below(3) != 0) {
      const std::string& base = earlier[Below(earlier.size())];
      key = base.substr(0, Below(base.size() + 1));
      // A case or tie-breaker change inside the shared part.
      if (!key.empty() && Below(2) == 0) {
        key[Below(key.size())] = NextByte();
      }
    }
    const std::size_t length = Below(kMaxKeyBytes + 1);
    while (key.size() < length) key += NextByte();
    return key;
  }

  std::size_t Below(std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_);
  }

 private:
  std::mt19937_64 random_;
};

class KeyOrderDifferentialTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KeyGenerator generator(20240601);
    keys_ = new std::vector<std::string>();
    keys_->reserve(kKeyCount);
    while (keys_->size() < kKeyCount) {
      keys_->push_back(generator.NextKey(*keys_));
    }
  }
  static void TearDownTestSuite() {
    delete keys_;
    keys_ = nullptr;
  }

  void SetUp() override {
    // The portable order stands for the order of English (United States);
    // other locales order some ASCII differently by design.
    if (GetUserDefaultLCID() !=
        MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)) {
      GTEST_SKIP() << "the user locale is not en-US (run with "
                      "LC_ALL=en_US.UTF-8 under Wine)";
    }
  }

  int Portable(std::string_view a, std::string_view b) const {
    return Sign(PortableKeyOrder::Instance().Compare(a, b));
  }
  int Native(std::string_view a, std::string_view b) const {
    return Sign(native_.Compare(a, b));
  }

  bool Disagree(std::string_view a, std::string_view b) const {
    return Portable(a, b) != Native(a, b);
  }

  // Records the pair when the orders disagree on it; the first few are kept
  // shrunk, each shrunk pair once, for the failure message.
  void Check(const std::string& a, const std::string& b) {
    if (!Disagree(a, b)) return;
    ++differences_;
    if (shown_.size() == kShownDifferences) return;
    auto [small_a, small_b] = Shrunk(a, b);
    if (small_b < small_a) std::swap(small_a, small_b);
    shown_.insert({std::move(small_a), std::move(small_b)});
  }

  // Drops bytes while the orders still disagree: one byte of either key, or
  // the byte at the same position of both.
  std::pair<std::string, std::string> Shrunk(std::string a,
                                             std::string b) const {
    const auto erased = [](std::string key, std::size_t pos) {
      if (pos < key.size()) key.erase(pos, 1);
      return key;
    };
    for (bool shrinking = true; shrinking;) {
      shrinking = false;
      for (std::size_t pos = 0; pos < std::max(a.size(), b.size());) {
        if (Disagree(erased(a, pos), erased(b, pos))) {
          a = erased(a, pos);
          b = erased(b, pos);
        } else if (pos < a.size() && Disagree(erased(a, pos), b)) {
          a = erased(a, pos);
        } else if (pos < b.size() && Disagree(a, erased(b, pos))) {
          b = erased(b, pos);
        } else {
          ++pos;
          continue;
        }
        shrinking = true;
      }
    }
    return {a, b};
  }

  ::testing::AssertionResult NoDifferences() const {
    if (differences_ == 0) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << differences_ << " pairs ordered differently; shortest forms "
            << "of the first ones, with the sign of Compare(a, b):\n";
    for (const auto& [a, b] : shown_) {
      failure << "  " << Escaped(a) << " vs " << Escaped(b) << ": portable "
              << Portable(a, b) << ", Windows " << Native(a, b) << "\n";
    }
    return failure;
  }

  // Sorts `keys` stably by each order. Neighbours in either sequence must
  // compare alike under both orders, which covers the order of the classes
  // and which keys are equal; then the two sequences are the same.
  void ExpectSortedAlike(const std::vector<std::string>& keys) {
    std::vector<std::string> by_portable = keys;
    std::vector<std::string> by_native = keys;
    std::stable_sort(by_portable.begin(), by_portable.end(),
                     [this](const std::string& a, const std::string& b) {
                       return Portable(a, b) < 0;
                     });
    std::stable_sort(by_native.begin(), by_native.end(),
                     [this](const std::string& a, const std::string& b) {
                       return Native(a, b) < 0;
                     });
    for (std::size_t index = 1; index < keys.size(); ++index) {
      Check(by_portable[index - 1], by_portable[index]);
      Check(by_native[index - 1], by_native[index]);
    }
    EXPECT_TRUE(NoDifferences());
    EXPECT_TRUE(by_portable == by_native);
  }

  static std::vector<std::string>* keys_;
  WindowsCollation native_;
  std::size_t differences_ = 0;
  std::set<std::pair<std::string, std::string>> shown_;
};

std::vector<std::string>* KeyOrderDifferentialTest::keys_ = nullptr;

TEST_F(KeyOrderDifferentialTest, SortedSequencesAndEqualKeysAgree) {
  ExpectSortedAlike(*keys_);
}

TEST_F(KeyOrderDifferentialTest, EveryShortKeyOfTheDecidingBytesAgrees) {
  // Every key of up to five bytes from a letter in both cases, another
  // letter, each tie-breaker kind, a blank, punctuation from both groups.
  constexpr std::string_view kAlphabet = "aAb-'\x01\x1F\x7F +.";
  std::vector<std::string> keys = {""};
  std::size_t longest_start = 0;
  for (int length = 1; length <= 5; ++length) {
    const std::size_t end = keys.size();
    for (std::size_t index = longest_start; index < end; ++index) {
      for (const char byte : kAlphabet) keys.push_back(keys[index] + byte);
    }
    longest_start = end;
  }
  ExpectSortedAlike(keys);
}

TEST_F(KeyOrderDifferentialTest, RandomPairsCompareWithTheSameSign) {
  KeyGenerator picker(7);
  for (std::size_t pair = 0; pair < kPairCount; ++pair) {
    const std::string& a = (*keys_)[picker.Below(kKeyCount)];
    const std::string& b = (*keys_)[picker.Below(kKeyCount)];
    Check(a, b);
  }
  EXPECT_TRUE(NoDifferences());
}

TEST_F(KeyOrderDifferentialTest, KeysDifferingInCaseAndTieBreakersAgree) {
  // Pairs built from one key by case changes and by inserting or removing
  // hyphens, apostrophes and control bytes: the second level decides them.
  KeyGenerator editor(11);
  static constexpr std::string_view kTieBreakers = "-'\x01\x08\x0E\x1F\x7F";
  for (std::size_t pair = 0; pair < kPairCount; ++pair) {
    const std::string& a = (*keys_)[editor.Below(kKeyCount)];
    std::string b = a;
    for (std::size_t edits = 1 + editor.Below(3); edits > 0; --edits) {
      const std::size_t pos = editor.Below(b.size() + 1);
      switch (editor.Below(3)) {
        case 0:
          b.insert(pos, 1, kTieBreakers[editor.Below(kTieBreakers.size())]);
          break;
        case 1:
          if (pos < b.size()) b.erase(pos, 1);
          break;
        default:
          if (pos < b.size() &&
              std::isalpha(static_cast<unsigned char>(b[pos]))) {
            b[pos] = static_cast<char>(b[pos] ^ 0x20);
          }
          break;
      }
    }
    Check(a, b);
  }
  EXPECT_TRUE(NoDifferences());
}

}  // namespace
}  // namespace mlfsort

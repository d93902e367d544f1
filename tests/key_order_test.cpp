#include "order/key_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mlfsort {
namespace {

using std::string_literals::operator""s;

// The tie-breaker bytes in their order at one position.
const std::string kTieBreakersInOrder =
    "\0\x01\x02\x03\x04\x05\x06\x07\x08\x0E\x0F\x10\x11\x12\x13\x14\x15\x16"
    "\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F\x7F'-"s;
// The weighted ASCII bytes in their order; an upper-case letter weighs the
// same as its lower-case form, and bytes 128-255 follow by value.
const std::string kWeightedAsciiInOrder =
    " \t\n\v\f\r!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>0123456789"
    "abcdefghijklmnopqrstuvwxyz";

int Sign(int value) { return (value > 0) - (value < 0); }

std::string Printable(std::string_view key) {
  return ::testing::PrintToString(std::string(key));
}

// A key in an ascending list, marked when it equals the key before it.
struct RankedKey {
  std::string key;
  bool equals_previous = false;
};

class KeyOrderTest : public ::testing::Test {
 protected:
  int Compare(std::string_view a, std::string_view b) const {
    return order_.Compare(a, b);
  }

  // Checks every pair of the list, both ways round, against its ranks.
  void ExpectAscending(const std::vector<RankedKey>& keys) const {
    std::vector<int> ranks;
    for (const RankedKey& ranked : keys) {
      const bool new_rank = ranks.empty() || !ranked.equals_previous;
      ranks.push_back(ranks.empty() ? 0 : ranks.back() + (new_rank ? 1 : 0));
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
      for (std::size_t j = 0; j < keys.size(); ++j) {
        EXPECT_EQ(Compare(keys[i].key, keys[j].key), Sign(ranks[i] - ranks[j]))
            << Printable(keys[i].key) << " vs " << Printable(keys[j].key);
      }
    }
  }

  const KeyOrder& order_ = PortableKeyOrder::Instance();
};

struct ExpectedComparison {
  std::string a;
  std::string b;
  int result;
};

void ExpectComparisons(const KeyOrder& order,
                       const std::vector<ExpectedComparison>& cases) {
  for (const ExpectedComparison& expected : cases) {
    EXPECT_EQ(order.Compare(expected.a, expected.b), expected.result)
        << Printable(expected.a) << " vs " << Printable(expected.b);
    EXPECT_EQ(order.Compare(expected.b, expected.a), -expected.result)
        << Printable(expected.b) << " vs " << Printable(expected.a);
  }
}

using KeyOrderClassTest = KeyOrderTest;

TEST_F(KeyOrderClassTest, EveryOneByteKeyStandsInItsClass) {
  std::vector<RankedKey> keys;
  for (char byte : kTieBreakersInOrder + kWeightedAsciiInOrder) {
    if (byte >= 'a' && byte <= 'z') {
      keys.push_back({std::string(1, byte)});
      keys.push_back(
          {std::string(1, static_cast<char>(byte - 'a' + 'A')), true});
    } else {
      keys.push_back({std::string(1, byte)});
    }
  }
  for (int byte = 128; byte < 256; ++byte) {
    keys.push_back({std::string(1, static_cast<char>(byte))});
  }
  std::vector<std::string> distinct;
  for (const RankedKey& ranked : keys) distinct.push_back(ranked.key);
  std::sort(distinct.begin(), distinct.end());
  ASSERT_EQ(std::unique(distinct.begin(), distinct.end()), distinct.end());
  ASSERT_EQ(keys.size(), 256u);
  ExpectAscending(keys);
}

TEST_F(KeyOrderClassTest, ClassesDecideInsideLongerKeys) {
  ExpectComparisons(order_, {{"utt1.lab", "utt10.lab", -1},
                             {"utt10.lab", "utt1a.lab", -1},
                             {"utt1a.lab", "utt2.lab", -1},
                             {"utt9.lab", "utt10.lab", 1},
                             {"a_1", "a1", -1},
                             {"a b", "ab", -1},
                             {"a\tb", "ab", -1},
                             {"ab\r", "ab", 1},
                             {"ab\r", "ab ", 1},
                             {"ab\r", "ab!", -1},
                             {"\"x\"", "x", -1},
                             {"sil-a+b", "sil+a-b", 1},
                             {"x-y+z", "xy+z", 1},
                             {"a-b+c", "a+b-c", 1},
                             {"utt_2.lab", "utt1.lab", -1},
                             {"utt 2.lab", "utt1.lab", -1},
                             {"coop", "Coop", 0},
                             {"/SPK01/Utt1.LAB", "/spk01/utt1.lab", 0}});
}

TEST_F(KeyOrderClassTest, BytesAbove127CompareByValueWithoutFolding) {
  ExpectComparisons(order_, {{"\xC9", "\xE9", -1},
                             {"\x8A", "\x9A", -1},
                             {"z", "\x80", -1},
                             {"\xE9", "e", 1},
                             {"\xE9", "f", 1},
                             // UTF-8 forms of E-circumflex and U-acute, which a
                             // single-byte case folding would merge.
                             {"x\xC3\x8A", "x\xC3\x9A", -1},
                             // UTF-8 e-acute and E-acute stay different keys.
                             {"caf\xC3\xA9", "CAF\xC3\x89", 1},
                             {"\xC3\xA9-a",
                              "\xC3\xA9"
                              "a",
                              1}});
}

using KeyOrderTieBreakerTest = KeyOrderTest;

TEST_F(KeyOrderTieBreakerTest, MeasuredPairs) {
  ExpectComparisons(order_, {{"coop", "co-op", -1},
                             {"co-op", "co_op", 1},
                             {"co_op", "coat", -1},
                             {"were", "we're", -1},
                             {"a-b", "ab", 1},
                             {"ab", "a-c", -1},
                             {"a'b", "a-b", -1},
                             {"-a", "a", 1},
                             {"a-", "a", 1},
                             {"a--b", "a-b", 1},
                             {"a\x01"
                              "b",
                              "ab", 1},
                             {"a\x7F b", "a b", 1},
                             {"-ab", "a-b", 1},
                             {"a-b", "ab-", 1},
                             {"-ab", "ab-", 1},
                             {"ab", "ab-", -1},
                             {"-", "", 1},
                             {"-", "'", 1},
                             {"--", "-", 1},
                             {"''", "-", -1},
                             {"a'b", "ab", 1},
                             {"a''b", "a'b", 1},
                             {"a-b", "aa", 1},
                             {"a-a", "ab", -1},
                             {"a-z", "ab", 1},
                             {"a-b-c", "ab-c", 1},
                             {"a-bc", "ab-c", 1},
                             {"a-bc", "abc", 1},
                             {"A-b", "ab", 1},
                             {"a-B", "Ab", 1},
                             {"a-b", "a b", 1},
                             {"a-b", "a.b", 1},
                             {"a-b", "a_b", 1},
                             {"a'b", "a_b", 1},
                             {"utt-1.lab", "utt1.lab", 1},
                             {"utt-2.lab", "utt1.lab", 1},
                             {"a.lab", "a-b.lab", -1},
                             {"ab.lab", "a-b.lab", -1},
                             {"*/a.lab", "*/a-b.lab", -1},
                             {"a\x01"
                              "b",
                              "a-b", -1}});
}

TEST_F(KeyOrderTieBreakerTest, MeasuredHyphenAndApostropheList) {
  ExpectAscending({{"a"},    {"a b"},      {"a.b"}, {"a_b"},       {"aa"},
                   {"ab"},   {"aB", true}, {"ab'"}, {"ab-"},       {"a'b"},
                   {"a''b"}, {"a'-b"},     {"a-b"}, {"A-B", true}, {"a-'b"},
                   {"a--b"}, {"'ab"},      {"-ab"}, {"ac"},        {"a-c"}});
}

TEST_F(KeyOrderTieBreakerTest, MeasuredLabelFileList) {
  ExpectAscending({{"\"*/utt_1.lab\""},
                   {"\"*/utt1.lab\""},
                   {"\"*/utt-1.lab\""},
                   {"#!MLF!#"},
                   {"."},
                   {"utt_1.lab"},
                   {"utt1.lab"},
                   {"Utt1.lab", true},
                   {"utt1.LAB", true},
                   {"utt-1.lab"},
                   {"utt1_a.lab"},
                   {"utt10.lab"},
                   {"utt1a.lab"},
                   {"utt1-a.lab"},
                   {"utt2.lab"}});
}

TEST_F(KeyOrderTieBreakerTest, PositionsBeyond255StillCount) {
  // Both keys weigh 270 'x'; the hyphen further right sorts first, however
  // far apart the two positions lie.
  const std::string hyphen_at_10 =
      std::string(10, 'x') + "-" + std::string(260, 'x');
  const std::string hyphen_at_265 =
      std::string(265, 'x') + "-" + std::string(5, 'x');
  EXPECT_EQ(Compare(hyphen_at_265, hyphen_at_10), -1);
  EXPECT_EQ(Compare(hyphen_at_10, hyphen_at_265), 1);
  EXPECT_EQ(Compare(std::string(300, 'x') + "'", std::string(300, 'x') + "-"),
            -1);
}

TEST_F(KeyOrderTieBreakerTest, DecisionAfterEquivalentPrefixOfAnyLength) {
  for (std::size_t length = 0; length <= 33; ++length) {
    const std::string prefix(length, 'x');
    const std::string upper_prefix(length, 'X');
    SCOPED_TRACE(length);
    EXPECT_EQ(Compare(prefix + "-ab", prefix + "ab-"), 1);
    EXPECT_EQ(Compare(upper_prefix + "-ab", prefix + "ab-"), 1);
    EXPECT_EQ(Compare(prefix + "a-b", upper_prefix + "a'b"), 1);
    EXPECT_EQ(Compare(prefix + "-b", prefix + "a"), 1);
    EXPECT_EQ(Compare(upper_prefix + "Ab-", prefix + "aB-"), 0);
    EXPECT_EQ(Compare(prefix + "a", upper_prefix + "B"), -1);
    EXPECT_EQ(Compare(prefix, upper_prefix + "-"), -1);
    EXPECT_EQ(Compare(prefix + "'x" + prefix, prefix + "x" + prefix + "-"), 1);
  }
}

using KeyOrderNulTest = KeyOrderTest;

TEST_F(KeyOrderNulTest, NulBreaksTiesInsteadOfVanishing) {
  ExpectComparisons(order_, {{"a\0b"s, "ab", 1},
                             {"ab\0"s, "ab", 1},
                             {"\0"s, "", 1},
                             {"\0"s, "a", -1},
                             {"a\0\0b"s, "a\0b"s, 1},
                             {"a\0b"s,
                              "a\x01"
                              "b",
                              -1},
                             {"ab\0"s, "a-b", -1},
                             {"a\0B"s, "a\0b"s, 0}});
}

TEST_F(KeyOrderNulTest, BytesAfterNulCount) {
  ExpectComparisons(order_, {{"a\0b"s, "a\0c"s, -1},
                             {"utt1\0.lab"s, "utt1\0.lac"s, -1},
                             {"x\0"s + std::string(20, 'y'),
                              "x\0"s + std::string(19, 'y') + "z", -1}});
}

using KeyOrderSummaryTest = KeyOrderTest;

TEST_F(KeyOrderSummaryTest, PacksLeadingWeightsMostSignificantFirst) {
  EXPECT_EQ(order_.Summary(""), 0u);
  EXPECT_EQ(order_.Summary("\0-'\x01"s), 0u);
  EXPECT_EQ(order_.Summary("Co-op"), order_.Summary("coop"));
  EXPECT_LT(order_.Summary("a"), order_.Summary("a "));
  EXPECT_LT(order_.Summary("azzzzzzz"), order_.Summary("b"));
  // Ten 6-bit weights and 4 bits of the eleventh fit in the summary (which
  // the codes of c and d share); twenty-one and 2 bits of the twenty-second
  // in the wide one.
  EXPECT_LT(order_.Summary("abcdefghij0"), order_.Summary("abcdefghijz"));
  EXPECT_EQ(order_.Summary("abcdefghijc"), order_.Summary("abcdefghijd"));
  EXPECT_EQ(order_.Summary("abcdefghijkX"), order_.Summary("abcdefghijk-Y"));
  EXPECT_LT(order_.WideSummary("*/spk0101/utt3589600.la"),
            order_.WideSummary("*/spk0101/utt3589601.la"));
  EXPECT_EQ(order_.WideSummary("*/spk0101/utt3589601.lab"),
            order_.WideSummary("*/spk0101/utt3589601.lAC"));
  // Weights without a code of their own take 9 or 10 bits and keep their
  // order, within the codes they share and across them.
  EXPECT_LT(order_.Summary("\x7F\xFF"), order_.Summary("\xFF\xFF"));
  EXPECT_LT(order_.Summary("z\xB4"), order_.Summary("z\xB5"));
  EXPECT_LT(order_.Summary("z\x8F"), order_.Summary("z\x90"));
  EXPECT_LT(order_.Summary("a!"), order_.Summary("a\""));
  EXPECT_LT(order_.Summary("a~"), order_.Summary("a+"));
  EXPECT_LT(order_.Summary("a>"), order_.Summary("a0"));
  EXPECT_LT(order_.WideSummary(std::string(20, 'a') + "\x80"),
            order_.WideSummary(std::string(20, 'a') + "\xFF"));
  EXPECT_LT(order_.WideSummary(std::string(19, 'z') + "\x80"),
            order_.WideSummary(std::string(19, 'z') + "\x81"));
}

// The order written out plainly: both level lists built in full and compared
// as vectors. A tie-breaker enters as (-position, rank), so that a plain
// lexicographic comparison puts the one further right first.
struct ReferenceLevels {
  std::vector<int> weights;
  std::vector<std::pair<long, int>> tie_breakers;

  auto operator<=>(const ReferenceLevels&) const = default;
};

ReferenceLevels ReferenceLevelsOf(std::string_view key) {
  ReferenceLevels levels;
  for (std::size_t pos = 0; pos < key.size(); ++pos) {
    const auto byte = static_cast<unsigned char>(key[pos]);
    const std::size_t rank = kTieBreakersInOrder.find(static_cast<char>(byte));
    if (rank != std::string::npos) {
      levels.tie_breakers.emplace_back(-static_cast<long>(pos),
                                       static_cast<int>(rank));
    } else if (byte >= 128) {
      levels.weights.push_back(1000 + byte);
    } else {
      const char lower = (byte >= 'A' && byte <= 'Z')
                             ? static_cast<char>(byte - 'A' + 'a')
                             : static_cast<char>(byte);
      levels.weights.push_back(
          static_cast<int>(kWeightedAsciiInOrder.find(lower)));
    }
  }
  return levels;
}

int ReferenceCompare(const ReferenceLevels& a, const ReferenceLevels& b) {
  const std::strong_ordering order = a <=> b;
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  const auto lower = [](char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a')
                                        : byte;
  };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&lower](char x, char y) { return lower(x) == lower(y); });
}

// Random keys in families: each family grows from one stem by case flips,
// inserted or removed tie-breakers and changed bytes, so that keys equal at
// the first level, or equal altogether, are common.
class KeyOrderPropertyTest : public KeyOrderTest {
 protected:
  static constexpr int kFamilies = 700;
  static constexpr int kKeysPerFamily = 6;
  static constexpr int kRandomPartnersPerKey = 30;

  void SetUp() override {
    std::mt19937 rng(20240611);
    for (int family = 0; family < kFamilies; ++family) {
      std::string key = RandomBytes(rng, Below(rng, 57));
      for (int member = 0; member < kKeysPerFamily; ++member) {
        if (member == 0 || Below(rng, 4) == 0) {
          keys_.push_back(key + RandomBytes(rng, Below(rng, 60)));
        } else {
          keys_.push_back(Mutated(rng, keys_.back()));
        }
      }
    }
    for (const std::string& key : keys_)
      levels_.push_back(ReferenceLevelsOf(key));
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      const std::size_t family_start = i - i % kKeysPerFamily;
      for (int member = 0; member < kKeysPerFamily; ++member) {
        pairs_.emplace_back(i, family_start + member);
      }
      for (int partner = 0; partner < kRandomPartnersPerKey; ++partner) {
        pairs_.emplace_back(i, Below(rng, keys_.size()));
      }
    }
  }

  static std::size_t Below(std::mt19937& rng, std::size_t bound) {
    return std::uniform_int_distribution<std::size_t>(0, bound - 1)(rng);
  }

  static char RandomByte(std::mt19937& rng) {
    static const std::string kAlphabet =
        "aAbBeEzZ"
        "--''"
        "\0\x01\x1F\x7F"s
        " \t\r\n"
        "._/*\"+~!;`>"
        "0129"
        "\x80\xC3\xC9\xE9\x8A\x8F\x90\x9A\xFF";
    return kAlphabet[Below(rng, kAlphabet.size())];
  }

  static std::string RandomBytes(std::mt19937& rng, std::size_t length) {
    std::string bytes;
    while (bytes.size() < length) bytes += RandomByte(rng);
    return bytes;
  }

  static std::string Mutated(std::mt19937& rng, std::string key) {
    const std::size_t pos = key.empty() ? 0 : Below(rng, key.size());
    switch (Below(rng, 5)) {
      case 0:
        for (char& byte : key) {
          if (Below(rng, 2) == 0 && byte >= 'a' && byte <= 'z') byte -= 32;
        }
        break;
      case 1:
        key.insert(pos, 1, "-'\0\x7F"s[Below(rng, 4)]);
        break;
      case 2:
        if (!key.empty()) key.erase(pos, 1);
        break;
      case 3:
        if (!key.empty()) key[pos] = RandomByte(rng);
        break;
      default:
        key.resize(pos);
        break;
    }
    return key;
  }

  std::vector<std::string> keys_;
  std::vector<ReferenceLevels> levels_;
  std::vector<std::pair<std::size_t, std::size_t>> pairs_;
};

TEST_F(KeyOrderPropertyTest, AgreesWithReferenceOnEveryPair) {
  int decided_by_tie_breakers = 0;
  for (const auto& [i, j] : pairs_) {
    const int expected = ReferenceCompare(levels_[i], levels_[j]);
    ASSERT_EQ(Compare(keys_[i], keys_[j]), expected)
        << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
    if (expected != 0 && levels_[i].weights == levels_[j].weights) {
      ++decided_by_tie_breakers;
    }
  }
  EXPECT_GT(decided_by_tie_breakers, 1000);
}

TEST_F(KeyOrderPropertyTest, EqualExactlyWhenEqualIgnoringAsciiCase) {
  int equal_but_different_bytes = 0;
  for (const auto& [i, j] : pairs_) {
    const bool equal = EqualIgnoringAsciiCase(keys_[i], keys_[j]);
    ASSERT_EQ(Compare(keys_[i], keys_[j]) == 0, equal)
        << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
    ASSERT_EQ(order_.Equal(keys_[i], keys_[j]), equal)
        << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
    // Equal keys are found again by their fingerprints.
    if (equal) {
      ASSERT_EQ(order_.Fingerprint(keys_[i]), order_.Fingerprint(keys_[j]))
          << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
    }
    if (equal && keys_[i] != keys_[j]) ++equal_but_different_bytes;
  }
  EXPECT_GT(equal_but_different_bytes, 500);
}

TEST_F(KeyOrderPropertyTest, StrictWeakOrderingOnRandomTriples) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 30000; ++trial) {
    // Two of the three from one family, so that near-equal keys meet.
    const std::size_t first = Below(rng, keys_.size());
    const std::size_t family_start = first - first % kKeysPerFamily;
    std::array<std::size_t, 3> triple = {
        first, family_start + Below(rng, kKeysPerFamily),
        Below(rng, keys_.size())};
    std::sort(triple.begin(), triple.end());
    do {
      const std::string& a = keys_[triple[0]];
      const std::string& b = keys_[triple[1]];
      const std::string& c = keys_[triple[2]];
      const int ab = Compare(a, b);
      const int bc = Compare(b, c);
      const int ac = Compare(a, c);
      ASSERT_EQ(Compare(a, a), 0) << Printable(a);
      ASSERT_EQ(Compare(b, a), -ab) << Printable(a) << " vs " << Printable(b);
      if (ab <= 0 && bc <= 0) {
        ASSERT_EQ(ac, std::min(ab, bc))
            << Printable(a) << ", " << Printable(b) << ", " << Printable(c);
      }
    } while (std::next_permutation(triple.begin(), triple.end()));
  }
}

// The code of each first-level weight in order, as a string of 0 and 1:
// space " * , . / : _, digits and letters have 6-bit codes of their own;
// each run of other weights between them is cut into groups of at most 16
// that share one 6-bit code, followed by the weight's place in its group in
// as few bits as the group needs. The 6-bit codes count from 1.
std::vector<std::string> CodesInWeightOrder() {
  const std::string own_code = " \"*,./:_0123456789abcdefghijklmnopqrstuvwxyz";
  std::string weights = kWeightedAsciiInOrder;
  for (int byte = 128; byte < 256; ++byte) weights += static_cast<char>(byte);
  const auto has_own_code = [&](std::size_t weight) {
    return own_code.find(weights[weight]) != std::string::npos;
  };
  std::vector<std::string> codes;
  unsigned short_code = 1;
  for (std::size_t first = 0; first < weights.size(); ++short_code) {
    std::size_t end = first + 1;
    while (!has_own_code(first) && end < weights.size() && !has_own_code(end) &&
           end - first < 16) {
      ++end;
    }
    std::size_t place_bits = 0;
    while ((std::size_t{1} << place_bits) < end - first) ++place_bits;
    for (std::size_t weight = first; weight < end; ++weight) {
      codes.push_back(
          std::bitset<6>(short_code).to_string() +
          std::bitset<4>(weight - first).to_string().substr(4 - place_bits));
    }
    first = end;
  }
  return codes;
}

TEST_F(KeyOrderPropertyTest, SummaryAgreesWithCompare) {
  // The leading 64 bits of the weights' codes, as a string of 0 and 1.
  const std::vector<std::string> codes = CodesInWeightOrder();
  const auto leading_bits = [&codes](const ReferenceLevels& levels) {
    const int ascii_weights = static_cast<int>(kWeightedAsciiInOrder.size());
    std::string bits;
    for (const int level : levels.weights) {
      bits +=
          codes[level >= 1000 ? ascii_weights + (level - 1000 - 128) : level];
    }
    bits.resize(64, '0');
    return bits;
  };
  for (const auto& [i, j] : pairs_) {
    const std::uint64_t summary_i = order_.Summary(keys_[i]);
    const std::uint64_t summary_j = order_.Summary(keys_[j]);
    const int result = Compare(keys_[i], keys_[j]);
    if (summary_i != summary_j) {
      ASSERT_EQ(result, summary_i < summary_j ? -1 : 1)
          << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
    }
    // Keys share a summary exactly when their codes agree in 64 bits.
    ASSERT_EQ(summary_i == summary_j,
              leading_bits(levels_[i]) == leading_bits(levels_[j]))
        << Printable(keys_[i]) << " vs " << Printable(keys_[j]);
  }
}

TEST_F(KeyOrderPropertyTest, SummaryAgainstAReferenceAgreesWithCompare) {
  // Family members share leads, so a member as the reference gives long
  // shared counts on both sides of it.
  const std::vector<std::string> references = {
      "", keys_[0], keys_[6 * 10 + 1], keys_[6 * 100 + 3], keys_[6 * 400 + 5]};
  for (const std::string& reference : references) {
    for (const auto& [i, j] : pairs_) {
      const WideKeySummary summary_i =
          order_.SummaryAgainst(keys_[i], reference);
      const WideKeySummary summary_j =
          order_.SummaryAgainst(keys_[j], reference);
      if (summary_i != summary_j) {
        ASSERT_EQ(Compare(keys_[i], keys_[j]), summary_i < summary_j ? -1 : 1)
            << Printable(keys_[i]) << " vs " << Printable(keys_[j])
            << " against " << Printable(reference);
      }
    }
  }
}

TEST_F(KeyOrderSummaryTest, SummaryAgainstAReferenceSeesPastTheSharedLead) {
  const std::string path = "export/corpora/wsj0/si_tr_s/011/";
  EXPECT_EQ(order_.WideSummary(path + "011c0201.lab"),
            order_.WideSummary(path + "011c0202.lab"));
  EXPECT_LT(order_.SummaryAgainst(path + "011c0201.lab", path + "011c0203"),
            order_.SummaryAgainst(path + "011C0202.LAB", path + "011c0203"));
  // Fourteen weights after the shared lead are seen: past "/spk0", a
  // speaker and a seven-digit utterance number; of the fifteenth, 3 bits
  // (which the codes of "," and "." share).
  const std::string early = "/spk0512/utt5982394.lab\" ch l";
  EXPECT_LT(order_.SummaryAgainst("/spk0359/utt0500740.lab", early),
            order_.SummaryAgainst("/spk0359/utt0500741.lab", early));
  EXPECT_GT(order_.SummaryAgainst("/spk0600/utt0500740.lab", early),
            order_.SummaryAgainst("/spk0599/utt0500741.lab", early));
  EXPECT_EQ(order_.SummaryAgainst("/spk0359/utt0500740.lab", early),
            order_.SummaryAgainst("/spk0359/utt0500740,lab", early));
  // Past 127 shared weights the count stands still and the weights after
  // the 127th decide, on both sides of the reference.
  const std::string lead(127, 'm');
  const std::string reference = lead + "mmmm";
  const std::vector<std::string> ascending = {
      lead + "a",   lead + "ma", lead + "mma", lead + "mmmma",
      lead + "mmz", lead + "mz", lead + "z"};
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    ASSERT_LT(Compare(ascending[i], ascending[i + 1]), 0) << i;
    EXPECT_LT(order_.SummaryAgainst(ascending[i], reference),
              order_.SummaryAgainst(ascending[i + 1], reference))
        << i;
  }
}

}  // namespace
}  // namespace mlfsort

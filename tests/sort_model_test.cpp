#include "support/sort_model.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace mlfsort {
namespace {

using Lines = std::vector<std::string>;

// Every neighbouring pair of `ascending` must compare below, in both
// directions, and each key must equal itself.
void ExpectAscending(const Lines& ascending) {
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    EXPECT_EQ(ModelCompareKeys(ascending[i], ascending[i]), 0) << ascending[i];
    if (i + 1 == ascending.size()) break;
    EXPECT_LT(ModelCompareKeys(ascending[i], ascending[i + 1]), 0)
        << '"' << ascending[i] << "\" < \"" << ascending[i + 1] << '"';
    EXPECT_GT(ModelCompareKeys(ascending[i + 1], ascending[i]), 0)
        << '"' << ascending[i + 1] << "\" > \"" << ascending[i] << '"';
  }
}

TEST(SortModelKeyOrder, TieBreakersDecideOnlyWhenAllElseIsEqual) {
  ExpectAscending({"ab", "ab'", "ab-", "a'b", "a''b", "a'-b", "a-b", "a-'b",
                   "a--b", "'ab", "-ab"});
  ExpectAscending({"coop", "co-op"});
  ExpectAscending({"were", "we're"});
  ExpectAscending({"a-a", "ab", "a-c"});
  ExpectAscending({"ab-c", "a-bc", "a-b-c"});
  ExpectAscending({"co_op", "coat"});
  ExpectAscending({std::string("ab"), std::string("a\0b", 3),
                   std::string("a\001b"), std::string("a\177b")});
}

TEST(SortModelKeyOrder, ClassesComeInTheirFixedOrder) {
  ExpectAscending({"", " ", "\t", "\n", "\v", "\f", "\r", "!", "~", "+", ">",
                   "0", "9", "a", "Z", "\x80", "\xff"});
  ExpectAscending({"utt1.lab", "utt10.lab", "utt1a.lab", "utt2.lab"});
  ExpectAscending({"utt_1.lab", "utt1.lab", "utt-1.lab"});
  ExpectAscending({"a b", "a-b"});
  ExpectAscending({"sil+a-b", "sil-a+b"});
}

TEST(SortModelKeyOrder, EqualExactlyWhenEqualIgnoringAsciiCase) {
  EXPECT_EQ(ModelCompareKeys("*/UTT1.LAB", "*/utt1.lab"), 0);
  EXPECT_EQ(ModelCompareKeys("A-B", "a-b"), 0);
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      const bool same = std::tolower(a) == std::tolower(b);
      const std::string key_a(1, static_cast<char>(a));
      const std::string key_b(1, static_cast<char>(b));
      ASSERT_EQ(ModelCompareKeys(key_a, key_b) == 0, same) << a << " " << b;
    }
  }
  // Letters above ASCII keep their case apart.
  EXPECT_NE(ModelCompareKeys("\xc9", "\xe9"), 0);
}

TEST(SortModelLines, LineEndsAndEndOfText) {
  EXPECT_EQ(ModelSplitLines("A\r\nB\r\n"), (Lines{"A", "B"}));
  EXPECT_EQ(ModelSplitLines("A\rB"), (Lines{"A", "B"}));
  EXPECT_EQ(ModelSplitLines("A\nB\n"), (Lines{"A\nB\n"}));
  EXPECT_EQ(ModelSplitLines("A\n\rB"), (Lines{"A\n", "B"}));
  EXPECT_EQ(ModelSplitLines("A\r\r\nB"), (Lines{"A", "", "B"}));
  EXPECT_EQ(ModelSplitLines("A\r"), (Lines{"A"}));
  EXPECT_EQ(ModelSplitLines("A\032B\r\n"), (Lines{"A"}));
  EXPECT_EQ(ModelSplitLines("A\r\x1a\n"), (Lines{"A"}));
  EXPECT_EQ(ModelSplitLines(std::string("a\0b", 3)),
            (Lines{std::string("a\0b", 3)}));
  EXPECT_TRUE(ModelSplitLines("").empty());
  EXPECT_TRUE(ModelSplitLines("\x1a\r\n").empty());
}

TEST(SortModelLines, KindsAndKeys) {
  EXPECT_TRUE(ModelIsPassThrough(""));
  EXPECT_TRUE(ModelIsPassThrough("#!MLF!#"));
  EXPECT_FALSE(ModelIsPassThrough(" #x"));
  EXPECT_EQ(ModelSortKey("."), "");
  EXPECT_EQ(ModelSortKey("ab"), "");
  EXPECT_EQ(ModelSortKey("\"*/a.lab\""), "/a.lab\"");
  const std::string long_line = "xx" + std::string(99, 'k') + "tail";
  EXPECT_EQ(ModelSortKey(long_line), std::string(99, 'k'));
}

TEST(SortModelOutput, PassThroughFirstThenOneLinePerKeyLastWins) {
  EXPECT_EQ(ModelSortedOutput("#!MLF!#\r\n*/utt2.lab\r\n*/utt1.lab\r\n"),
            "#!MLF!#\r\n*/utt1.lab\r\n*/utt2.lab\r\n");
  EXPECT_EQ(ModelSortedOutput("#h\r\n\"*/b\r\n#c\r\n\r\n\"*/a"),
            "#h\r\n#c\r\n\r\n\"*/a\r\n\"*/b\r\n");
  EXPECT_EQ(ModelSortedOutput("xxb1\r.\r\nxxB1\r\nxxa\r\n..\r\n"),
            "..\r\nxxa\r\nxxB1\r\n");
  EXPECT_EQ(ModelSortedOutput("1-k\r2'k\r"), "2'k\r\n");
  EXPECT_EQ(ModelSortedOutput(""), "");
  EXPECT_EQ(ModelSortedOutput("#a\nb\n"), "#a\nb\n\r\n");
}

// Each input is split on its own; a later input's header is left out but
// counted; an entry goes on into the next input.
TEST(SortModelCheck, InputsFollowOneAnother) {
  constexpr LineConvention kCr = LineConvention::kCr;
  const ModelCheckResult sorted = ModelCheck({{"a",
                                               "#!MLF!#\r\nxxa\r\n\x1a"
                                               "xxz\r\n"},
                                              {"b", "#!MLF!#\r\nxxb\r"}},
                                             kCr, ModelMode::kLines);
  EXPECT_TRUE(sorted.in_order);
  EXPECT_EQ(sorted.finding, "");
  const ModelCheckResult header = ModelCheck(
      {{"a", "xxa\r\n"}, {"b", "xxb\r\n#!MLF!#\r\n"}}, kCr, ModelMode::kLines);
  EXPECT_FALSE(header.in_order);
  EXPECT_EQ(header.finding, "b:2: pass-through line after sorted lines");
  const ModelCheckResult entries = ModelCheck(
      {{"a", "\"*/b\"\r\nx\r\n"}, {"b", "#!MLF!#\r\n.\r\n\"*/a\"\r"}}, kCr,
      ModelMode::kEntries);
  EXPECT_FALSE(entries.in_order);
  EXPECT_EQ(entries.finding, "b:3: disorder: \"*/a\"");
}

}  // namespace
}  // namespace mlfsort

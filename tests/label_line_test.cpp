#include "labels/label_line.h"

#include <gtest/gtest.h>

#include <string>

namespace mlfsort {
namespace {

TEST(LabelLineTest, LineKeyIsBytesThreeToOneHundredAndOne) {
  EXPECT_EQ(SortKeyOf("ab"), "");
  EXPECT_EQ(SortKeyOf("."), "");
  EXPECT_EQ(SortKeyOf("\"*/utt1.lab\""), "/utt1.lab\"");
  const std::string long_line = "xx" + std::string(99, 'k') + "tail";
  EXPECT_EQ(SortKeyOf(long_line), std::string(99, 'k'));
  EXPECT_EQ(SortKeyOf(long_line.substr(0, 101)), std::string(99, 'k'));
}

TEST(LabelLineTest, EntryKeyRunsToTheEndOfTheFirstLine) {
  const std::string long_name = "\"*/" + std::string(150, 'p') + ".lab\"";
  EXPECT_EQ(EntryKeyOfLine(long_name), long_name.substr(2));
  EXPECT_EQ(EntryKeyOfLine("\"*"), "");
  EXPECT_EQ(EntryKeyOfLine(""), "");
}

TEST(LabelLineTest, PassThroughLinesAndTheTerminatorAreExact) {
  EXPECT_TRUE(IsPassThroughLine(""));
  EXPECT_TRUE(IsPassThroughLine("#!MLF!#"));
  EXPECT_FALSE(IsPassThroughLine(" #x"));
  EXPECT_TRUE(IsEntryTerminator("."));
  EXPECT_FALSE(IsEntryTerminator(".."));
  EXPECT_FALSE(IsEntryTerminator(". "));
  EXPECT_FALSE(IsEntryTerminator(""));
}

TEST(LabelLineTest, SubdirectoryLinesNeedAPatternAndAnArrow) {
  EXPECT_TRUE(IsSubdirectoryLine("\"*/a*.lab\" -> \"/data/a\""));
  EXPECT_TRUE(IsSubdirectoryLine("\"*/a -> b.lab\"=>/data"));
  EXPECT_TRUE(IsSubdirectoryLine("*/a-b.lab\t=> /data"));
  EXPECT_TRUE(IsSubdirectoryLine("*/a.lab->/data"));
  EXPECT_FALSE(IsSubdirectoryLine("\"*/a -> b.lab\""));
  EXPECT_FALSE(IsSubdirectoryLine("\"*/utt1.lab\""));
  EXPECT_FALSE(IsSubdirectoryLine("-> /data"));
  EXPECT_FALSE(IsSubdirectoryLine("0 100 a -> b"));
  EXPECT_FALSE(IsSubdirectoryLine("\"unclosed -> x"));
}

}  // namespace
}  // namespace mlfsort

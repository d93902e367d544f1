#include "sorter/label_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mlfsort {
namespace {

using Part = EntryTracker::Part;

std::vector<Part> PartsOf(const std::vector<std::string>& lines) {
  EntryTracker tracker;
  std::vector<Part> parts;
  for (const std::string& line : lines) parts.push_back(tracker.Take(line));
  return parts;
}

TEST(LabelEntriesTest, SubdirectoryLinesNeedAPatternAndAnArrow) {
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

TEST(LabelEntriesTest, EntriesRunFromTheirFirstLineThroughALoneDot) {
  EXPECT_EQ(
      PartsOf({"#!MLF!#", "\"*/b.lab\"", "x", "", "# in", "..", ".", "",
               "\"*/d*\" -> \"/d\"", ".", "\"*/a.lab\"", "y"}),
      (std::vector<Part>{Part::kPassThrough, Part::kFirst, Part::kInside,
                         Part::kInside, Part::kInside, Part::kInside,
                         Part::kInside, Part::kPassThrough, Part::kPassThrough,
                         Part::kFirst, Part::kFirst, Part::kInside}));
}

}  // namespace
}  // namespace mlfsort

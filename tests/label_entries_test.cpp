#include "labels/label_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "index/line_store.h"
#include "index/sorted_key_index.h"
#include "order/key_order.h"
#include "support/same_bytes.h"

namespace mlfsort {
namespace {

using Part = EntryTracker::Part;

std::vector<Part> PartsOf(const std::vector<std::string>& lines) {
  EntryTracker tracker;
  std::vector<Part> parts;
  for (const std::string& line : lines) parts.push_back(tracker.Take(line));
  return parts;
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

// Gives `lines` to a tracker and an entry holder, as a run does, then reads
// the entries back in key order: the pass-through lines, each followed by
// "|", then what the write phase writes.
std::string HeldAndReadBack(const std::vector<std::string>& lines,
                            LineConvention convention, bool threaded = false) {
  LineStore store;
  const EntryKeys keys(store, convention);
  SortedKeyIndex index(PortableKeyOrder::Instance(), keys, &OperatorNewMemory(),
                       threaded, SortedKeyIndex::EqualKeys::kKeepAll);
  EntryTracker tracker;
  EntryHolder holder(store, index, convention);
  std::string written;
  for (const std::string& line : lines) {
    const Part part = tracker.Take(line);
    if (part == Part::kPassThrough) {
      written += line + "|";
    } else {
      holder.Take(line, part);
    }
  }
  holder.Finish();
  SortedEntryReader reader(index, store, convention);
  std::string_view piece;
  while (reader.Next(&piece)) written += piece;
  return written;
}

TEST(HeldEntriesTest, WholeEntriesByFirstLineEqualKeysInInputOrder) {
  EXPECT_EQ(HeldAndReadBack({"#!MLF!#", "\"*/b.lab\"", "x", ".", "\"*/a.lab\"",
                             "1", "\"*/d*\" -> \"/d\"", ".", ".", "",
                             "\"*/A.LAB\"", "2", ".", "\"*/c.lab\"", "open"},
                            LineConvention::kLf),
            "#!MLF!#||"
            ".\n"
            "\"*/a.lab\"\n1\n\"*/d*\" -> \"/d\"\n.\n"
            "\"*/A.LAB\"\n2\n.\n"
            "\"*/b.lab\"\nx\n.\n"
            "\"*/c.lab\"\nopen\n");
  // Without a "." the first entry holds every line after it.
  EXPECT_EQ(HeldAndReadBack({"xxb", "xxa"}, LineConvention::kCr),
            "xxb\r\nxxa\r\n");
  EXPECT_EQ(HeldAndReadBack({"#only"}, LineConvention::kCr), "#only|");
}

// A key is cut from the entry's first line alone, never from the lines
// stored after it: the keys below are equal (empty, or equal over their 99
// bytes) or differ only in bytes that a cut at an LF would lose.
TEST(HeldEntriesTest, KeysComeFromTheFirstLineOnly) {
  EXPECT_EQ(HeldAndReadBack({"zz", "bb b", ".", "yy", "aa a", "."},
                            LineConvention::kLf),
            "zz\nbb b\n.\nyy\naa a\n.\n");
  // The whole first line is the key, past byte 101 too: long names that
  // differ late still sort.
  const std::string long_b = "xx" + std::string(150, 'k') + "b";
  const std::string long_a = "xx" + std::string(150, 'k') + "a";
  EXPECT_EQ(HeldAndReadBack({long_b, ".", long_a, "."}, LineConvention::kCr),
            long_a + "\r\n.\r\n" + long_b + "\r\n.\r\n");
  // Under the CR convention a line may hold an LF, which is part of its
  // key; a long common lead makes the index compare the keys themselves.
  const std::string lead = "xx/corpus/speaker01/session02/a";
  EXPECT_EQ(HeldAndReadBack({lead + "\nz", ".", lead + "\ny", "."},
                            LineConvention::kCr),
            lead + "\ny\r\n.\r\n" + lead + "\nz\r\n.\r\n");
}

// Entries longer than a stored piece come back whole, closed or left open,
// with the index's batches sorted on its worker thread.
TEST(HeldEntriesTest, LongEntriesSpanSeveralPieces) {
  std::vector<std::string> lines;
  std::string expected_b;
  std::string expected_c;
  const auto add = [&lines](std::string line, std::string* expected) {
    *expected += line + "\n";
    lines.push_back(std::move(line));
  };
  add("\"*/b.lab\"", &expected_b);
  // Lines that end in "." but are not "." must not end the entry where a
  // piece ends.
  for (int i = 0; i < 40000; ++i) add(std::to_string(i) + " .", &expected_b);
  add(".", &expected_b);
  lines.insert(lines.end(), {"\"*/a.lab\"", "."});
  add("\"*/c.lab\"", &expected_c);
  for (int i = 0; i < 40000; ++i) add(std::to_string(i) + "..", &expected_c);
  ASSERT_GT(expected_b.size(), 3 * EntryHolder::kPieceBytes);
  EXPECT_TRUE(
      SameBytes(HeldAndReadBack(lines, LineConvention::kLf, /*threaded=*/true),
                "\"*/a.lab\"\n.\n" + expected_b + expected_c));
}

}  // namespace
}  // namespace mlfsort

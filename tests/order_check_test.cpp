#include "labels/order_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "order/key_order.h"
#include "support/corpus_files.h"
#include "support/sort_model.h"
#include "support/temp_files.h"

namespace mlfsort {
namespace {

namespace fs = std::filesystem;

constexpr char kCorpusDir[] = MLFSORT_CORPUS_DIR;

struct Input {
  std::string name;
  std::vector<std::string> lines;
};

// Checks `inputs` as a run gives them: the first line of a later input that
// is exactly "#!MLF!#" is skipped. Take must say whether the check goes on.
std::optional<std::string> FindingOf(
    const std::vector<Input>& inputs, bool entries,
    const KeyOrder& order = PortableKeyOrder::Instance()) {
  OrderCheck check(order, entries);
  for (const Input& input : inputs) {
    check.StartInput(input.name);
    for (std::size_t i = 0; i < input.lines.size(); ++i) {
      if (i == 0 && &input != &inputs.front() && input.lines[i] == "#!MLF!#") {
        check.SkipLine();
        continue;
      }
      const bool goes_on = check.Take(input.lines[i]);
      EXPECT_EQ(goes_on, !check.Finding()) << input.lines[i];
    }
  }
  return check.Finding();
}

std::optional<std::string> LinesFinding(const std::vector<Input>& inputs) {
  return FindingOf(inputs, /*entries=*/false);
}

std::optional<std::string> EntriesFinding(const std::vector<Input>& inputs) {
  return FindingOf(inputs, /*entries=*/true);
}

TEST(OrderCheckTest, SortedInputsPassAcrossASkippedHeader) {
  const std::vector<Input> sorted = {
      {"a.mlf", {"#!MLF!#", "", "\"*/a.lab\"", "\"*/b.lab\""}},
      {"b.mlf", {"#!MLF!#", "\"*/c.lab\""}}};
  EXPECT_EQ(LinesFinding(sorted), std::nullopt);
  EXPECT_EQ(EntriesFinding(sorted), std::nullopt);
}

TEST(OrderCheckTest, DisorderShowsTheLaterLineWhereItStands) {
  EXPECT_EQ(LinesFinding({{"train.mlf", {"#!MLF!#", "\"*/b\"", "\"*/a\""}}}),
            "train.mlf:3: disorder: \"*/a\"");
  // The skipped header counts in the second input's line numbers.
  const std::vector<Input> two = {{"a.mlf", {"#!MLF!#", "\"*/a\"", "\"*/c\""}},
                                  {"b.mlf", {"#!MLF!#", "\"*/d\"", "\"*/b\""}}};
  EXPECT_EQ(LinesFinding(two), "b.mlf:3: disorder: \"*/b\"");
  EXPECT_EQ(
      EntriesFinding({{"a.mlf", {"#!MLF!#", "\"*/a\"", ".", "\"*/c\"", "."}},
                      {"b.mlf", {"#!MLF!#", "\"*/d\"", ".", "\"*/b\""}}}),
      "b.mlf:4: disorder: \"*/b\"");
  EXPECT_EQ(EntriesFinding({{"a.mlf", {"\"*/b\"", "x", ".", "\"*/a\"", "y"}},
                            {"b.mlf", {"\"*/c\""}}}),
            "a.mlf:4: disorder: \"*/a\"");
  // The later lines change nothing.
  EXPECT_EQ(LinesFinding({{"a.mlf", {"xxb", "xxa", "#", "xxa"}}}),
            "a.mlf:2: disorder: xxa");
}

TEST(OrderCheckTest, EqualKeysAreDroppedLinesButEntriesInOrder) {
  // Keys equal but for letter case.
  EXPECT_EQ(LinesFinding({{"t.mlf",
                           {"#!MLF!#", "\"*/UTT1.lab\" 0 1 SIL",
                            "\"*/utt1.LAB\" 0 1 sil"}}}),
            "t.mlf:2: dropped: the key of line 3 is the same");
  EXPECT_EQ(LinesFinding({{"a.mlf", {"#!MLF!#", "xxa", "xxb"}},
                          {"b.mlf", {"#!MLF!#", "xxB"}}}),
            "a.mlf:3: dropped: the key of b.mlf:2 is the same");
  // The earlier line lies two inputs back.
  EXPECT_EQ(
      LinesFinding({{"a.mlf", {"xxa"}}, {"b.mlf", {}}, {"c.mlf", {"xxA"}}}),
      "a.mlf:1: dropped: the key of c.mlf:1 is the same");
  EXPECT_EQ(EntriesFinding({{"t.mlf",
                             {"\"*/utt1.lab\"", "b", ".", "\"*/UTT1.lab\"", "a",
                              ".", "\"*/utt1.lab\"", "."}}}),
            std::nullopt);
}

TEST(OrderCheckTest, PassThroughLinesMustComeBeforeSortedOnes) {
  EXPECT_EQ(LinesFinding({{"t.mlf", {"#!MLF!#", "xxa", "# note"}}}),
            "t.mlf:3: pass-through line after sorted lines");
  EXPECT_EQ(LinesFinding({{"a.mlf", {"xxa"}}, {"b.mlf", {"xxb", ""}}}),
            "b.mlf:2: pass-through line after sorted lines");
  // Not the skipped header, but a header taken as a line.
  EXPECT_EQ(LinesFinding({{"a.mlf", {"xxa"}}, {"b.mlf", {"xxb", "#!MLF!#"}}}),
            "b.mlf:2: pass-through line after sorted lines");
  EXPECT_EQ(EntriesFinding({{"t.mlf", {"\"*/a\"", ".", ""}}}),
            "t.mlf:3: pass-through line after sorted lines");
  EXPECT_EQ(EntriesFinding(
                {{"t.mlf",
                  {"\"*/d*\" -> \"/d\"", "\"*/a\"", ".", "\"*/e*\" => /e"}}}),
            "t.mlf:4: pass-through line after sorted lines");
}

// Inside an entry nothing passes through and no key is compared; the entry
// goes on across inputs, as in one sort of them all.
TEST(OrderCheckTest, LinesInsideAnEntryAreNeverChecked) {
  EXPECT_EQ(
      EntriesFinding({{"a.mlf", {"\"*/a\"", "xxz", "# c", "", "xxa"}},
                      {"b.mlf", {"#!MLF!#", "-> x", "aa", ".", "\"*/b\""}}}),
      std::nullopt);
  EXPECT_EQ(LinesFinding({{"a.mlf", {"\"*/a\"", "xxz", "xxa"}}}),
            "a.mlf:3: disorder: xxa");
}

TEST(OrderCheckTest, KeysSharingALongLeadAndKeysPastByte101) {
  const std::string lead = "\"*/corpus/" + std::string(80, 'd') + "/utt";
  EXPECT_EQ(LinesFinding({{"t.mlf", {lead + "1", lead + "2", lead + "2a"}}}),
            std::nullopt);
  EXPECT_EQ(LinesFinding({{"t.mlf", {lead + "2", lead + "1"}}}),
            "t.mlf:2: disorder: " + lead + "1");
  // The lines share their first 101 bytes: one key in the line modes, two
  // with --entries.
  const std::string head = "xx" + std::string(99, 'k');
  EXPECT_EQ(LinesFinding({{"t.mlf", {head + "a", head + "b"}}}),
            "t.mlf:1: dropped: the key of line 2 is the same");
  EXPECT_EQ(EntriesFinding({{"t.mlf", {head + "a", ".", head + "b"}}}),
            std::nullopt);
  EXPECT_EQ(EntriesFinding({{"t.mlf", {head + "b", ".", head + "a"}}}),
            "t.mlf:3: disorder: " + head + "a");
}

TEST(OrderCheckTest, ShownLineIsEscapedAndCutWhole) {
  EXPECT_EQ(LinesFinding({{"t", {"xxz", std::string("xx\tb\x01\x7f\r\n", 8)}}}),
            "t:2: disorder: xx\\tb\\x01\\x7F\\r\\n");
  // 199 bytes, then a two-byte character that would pass 200.
  const std::string ahead = "xx" + std::string(197, 'a');
  EXPECT_EQ(LinesFinding({{"t", {"xxz", ahead + "\xc3\xa9"}}}),
            "t:2: disorder: " + ahead + "...");
  // An escape is not split either: 196 + 4 fits, 197 + 4 does not.
  EXPECT_EQ(LinesFinding({{"t", {"xxz", std::string(196, 'a') + "\x01!"}}}),
            "t:2: disorder: " + std::string(196, 'a') + "\\x01...");
  EXPECT_EQ(LinesFinding({{"t", {"xxz", std::string(197, 'a') + "\x01"}}}),
            "t:2: disorder: " + std::string(197, 'a') + "...");
}

// The order the run passes decides, not a fixed one.
TEST(OrderCheckTest, KeysCompareUnderTheGivenOrder) {
  class ByteOrder final : public KeyOrder {
   public:
    int Compare(std::string_view a, std::string_view b) const override {
      return a.compare(b);
    }
    std::uint64_t Summary(std::string_view) const override { return 0; }
  };
  const ByteOrder byte_order;
  const std::vector<Input> upper_first = {{"t", {"xxB", "xxa"}}};
  EXPECT_EQ(FindingOf(upper_first, false, byte_order), std::nullopt);
  EXPECT_EQ(FindingOf(upper_first, false), "t:2: disorder: xxa");
}

// Every corpus file, in both modes: split in two as it stands (the second
// half after a header), with its lines shuffled, and sorted, whole and
// split: the check finds what the model finds, and the sorted copy passes.
class OrderCheckCorpusFile : public ::testing::TestWithParam<std::string> {};

std::string JoinedLines(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) bytes += line + "\n";
  return bytes;
}

std::vector<Input> SplitInTwo(const std::vector<std::string>& lines) {
  const auto half = lines.begin() + static_cast<long>(lines.size() / 2);
  std::vector<std::string> second_half = {"#!MLF!#"};
  second_half.insert(second_half.end(), half, lines.end());
  return {{"one.mlf", {lines.begin(), half}}, {"two.mlf", second_half}};
}

TEST_P(OrderCheckCorpusFile, FindsWhatTheModelFinds) {
  if (GetParam() == kNoCorpus) {
    GTEST_SKIP() << "no label-file corpus at " << kCorpusDir
                 << " (CMake cache variable MLFSORT_CORPUS_DIR)";
  }
  const std::optional<std::string> file =
      ReadFileBytes((fs::path(kCorpusDir) / GetParam()).string());
  ASSERT_TRUE(file);
  constexpr LineConvention kLf = LineConvention::kLf;
  const std::vector<std::string> lines = ModelSplitLines(*file, kLf);
  std::vector<std::string> shuffled = lines;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  for (const ModelMode mode : {ModelMode::kLines, ModelMode::kEntries}) {
    const bool entries = mode == ModelMode::kEntries;
    const std::vector<std::string> sorted =
        ModelSplitLines(ModelSortedOutput(*file, kLf, mode), kLf);
    const struct {
      const char* name;
      std::vector<Input> inputs;
    } cases[] = {{"as it stands", SplitInTwo(lines)},
                 {"shuffled", {{"one.mlf", shuffled}}},
                 {"sorted", {{"one.mlf", sorted}}},
                 {"sorted, split", SplitInTwo(sorted)}};
    for (const auto& [name, inputs] : cases) {
      SCOPED_TRACE(std::string(entries ? "entries, " : "lines, ") + name);
      std::vector<ModelInput> model_inputs;
      for (const Input& input : inputs) {
        model_inputs.push_back({input.name, JoinedLines(input.lines)});
      }
      const ModelCheckResult model = ModelCheck(model_inputs, kLf, mode);
      EXPECT_EQ(model.in_order, model.finding.empty()) << model.finding;
      EXPECT_EQ(FindingOf(inputs, entries).value_or(""), model.finding);
      if (std::string_view(name).starts_with("sorted")) {
        EXPECT_TRUE(model.in_order) << model.finding;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, OrderCheckCorpusFile,
                         ::testing::ValuesIn(CorpusFiles(kCorpusDir)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return CorpusTestName(info.param);
                         });

}  // namespace
}  // namespace mlfsort

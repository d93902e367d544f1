#include "index/line_store.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "failure/exceptions.h"
#include "index/list_growth.h"
#include "support/failing_memory.h"

namespace mlfsort {
namespace {

TEST(LineStoreTest, GrowsByTheListSteps) {
  FailingMemory memory;
  LineStore lines(&memory);
  // The kept places are what the store holds beside its one block.
  const auto place_capacity = [&memory] {
    constexpr std::size_t kBlockBytes = std::size_t{2} << 20;
    return static_cast<std::int32_t>(
        (memory.outstanding_bytes() - kBlockBytes) / sizeof(void*));
  };
  std::vector<std::int32_t> capacities;
  for (int i = 0; i < 200 * LineStore::kLinesPerPlace; ++i) {
    lines.Append("line");
    if (capacities.empty() || capacities.back() != place_capacity()) {
      capacities.push_back(place_capacity());
    }
  }
  // Each growth takes the step the capacity calls for: 4 up to 8, 16 up to
  // 64, then a quarter of itself.
  ASSERT_GE(capacities.size(), 10u);
  EXPECT_EQ(capacities.front(), 4);
  for (std::size_t at = 1; at < capacities.size(); ++at) {
    const std::int32_t before = capacities[at - 1];
    const std::int32_t step = before > 64 ? before / 4 : before > 8 ? 16 : 4;
    EXPECT_EQ(capacities[at], before + step) << "after " << before;
  }
  EXPECT_EQ(NextListCapacity(INT32_MAX - 1), INT32_MAX);
  EXPECT_EQ(NextListCapacity(INT32_MAX), INT32_MAX);
}

TEST(LineStoreTest, KeepsEveryLineWhereItWas) {
  LineStore lines;
  std::vector<std::string> expected;
  std::vector<std::string_view> views;
  // Short lines fill shared blocks, lines longer than 127 bytes take more
  // than one length byte, and long ones get blocks of their own.
  for (int i = 0; i < 20000; ++i) {
    std::string line = "line " + std::to_string(i);
    if (i % 5000 == 0) line += std::string(600000, 'x');
    if (i % 13 == 0) line += std::string(200, 'y');
    if (i % 7 == 0) line.clear();
    views.push_back(lines.Append(line));
    expected.push_back(line);
  }
  ASSERT_EQ(lines.Count(), 20000);
  for (int i = 0; i < 20000; ++i) {
    EXPECT_EQ(lines.LineAt(i), expected[i]);
    EXPECT_EQ(views[i], expected[i]);
    ASSERT_EQ(lines.LineAt(i).data(), views[i].data()) << "moved: " << i;
  }
}

TEST(LineStoreTest, LastLineIsReplacedInItsPlace) {
  LineStore lines;
  EXPECT_FALSE(lines.CanReplaceLast(1));
  lines.Append("first");
  lines.Append("second");
  // Longer, and long enough for a length of two bytes.
  const std::string longer(300, 'y');
  ASSERT_TRUE(lines.CanReplaceLast(longer.size()));
  EXPECT_EQ(lines.ReplaceLast(longer), longer);
  ASSERT_TRUE(lines.CanReplaceLast(1));
  EXPECT_EQ(lines.ReplaceLast("z"), "z");
  EXPECT_EQ(lines.Append("third"), "third");
  EXPECT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines.LineAt(0), "first");
  EXPECT_EQ(lines.LineAt(1), "z");
  EXPECT_EQ(lines.LineAt(2), "third");
  // A line that would need a block of its own is not put there.
  EXPECT_FALSE(lines.CanReplaceLast(3 << 20));
}

TEST(LineStoreTest, PositionOutsideTheStoreIsTheIndexError) {
  LineStore lines;
  lines.Append("a");
  for (std::int32_t position : {-1, 1, INT32_MIN}) {
    try {
      lines.LineAt(position);
      ADD_FAILURE() << "no failure for " << position;
    } catch (const EStringListError& failure) {
      EXPECT_EQ(failure.message(),
                "List index out of bounds (" + std::to_string(position) + ")");
      EXPECT_NE(failure.address(), nullptr);
    }
  }
  EXPECT_EQ(lines.LineAt(0), "a");
}

TEST(LineStoreTest, FailedMemoryLeavesTheStoreAsItWasAndNothingLeaks) {
  FailingMemory memory;
  {
    LineStore lines(&memory);
    lines.Append("first");
    // The next block, for a line too long for the first one, is refused.
    memory.AllowAllocations(0);
    const std::string long_line(3 << 20, 'x');
    EXPECT_THROW(lines.Append(long_line), std::bad_alloc);
    EXPECT_EQ(lines.Count(), 1);
    memory.AllowAllocations(-1);
    EXPECT_EQ(lines.Append(long_line), long_line);
    EXPECT_EQ(lines.Append("last"), "last");
    EXPECT_EQ(lines.LineAt(0), "first");
    EXPECT_EQ(lines.LineAt(2), "last");
  }
  EXPECT_EQ(memory.outstanding_bytes(), 0u);
}

}  // namespace
}  // namespace mlfsort

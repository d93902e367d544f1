#include "process/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace mlfsort {
namespace {

// The two questions a run asks of its command line, answered from the
// arguments after the program's name as the run takes them: how many
// non-empty arguments there are, and the n-th of them ("" when there is
// none).
std::int32_t CountOf(const ProcessArguments& arguments) {
  const std::vector<std::string> after = ArgumentsAfterName(arguments);
  return static_cast<std::int32_t>(std::count_if(
      after.begin(), after.end(),
      [](const std::string& argument) { return !argument.empty(); }));
}

std::string NthOf(const ProcessArguments& arguments, std::int32_t n) {
  for (const std::string& argument : ArgumentsAfterName(arguments)) {
    if (!argument.empty() && --n == 0) return argument;
  }
  return "";
}

// A single command line, as a platform that does not split it hands it over.
class SingleCommandLineTest : public ::testing::Test {
 protected:
  // Sets the whole command line, program name included.
  void SetLine(std::string line) { line_ = std::move(line); }
  // Sets what follows the program's name and one blank.
  void SetAfterName(const std::string& text) { SetLine("mlfsort " + text); }

  ProcessArguments arguments() const { return {false, line_, {}}; }
  std::int32_t Count() const { return CountOf(arguments()); }
  std::string Nth(std::int32_t n) const { return NthOf(arguments(), n); }
  std::vector<std::string> All() const {
    return ArgumentsAfterName(arguments());
  }

 private:
  std::string line_;
};

TEST_F(SingleCommandLineTest, NothingOrOnlyBlanksGivesNoArguments) {
  for (const std::string line :
       {"mlfsort", "mlfsort ", "mlfsort \t\r\n \x01"}) {
    SetLine(line);
    EXPECT_EQ(Count(), 0) << line;
    EXPECT_EQ(Nth(1), "") << line;
  }
}

TEST_F(SingleCommandLineTest, EmptyLineHasNoArguments) {
  for (const std::string line : {"", "\"", "  \"\"  "}) {
    SetLine(line);
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(Nth(1), "");
  }
}

TEST_F(SingleCommandLineTest, BlanksSeparateWords) {
  SetAfterName("in.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");

  SetAfterName("a  b\t\tc ");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Nth(1), "a");
  EXPECT_EQ(Nth(2), "b");
  EXPECT_EQ(Nth(3), "c");
  EXPECT_EQ(Nth(4), "");
  EXPECT_EQ(Nth(0), "");
}

TEST_F(SingleCommandLineTest, TabSeparatesProgramNameFromFirstArgument) {
  SetLine("mlfsort\tin.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");
}

TEST_F(SingleCommandLineTest, BytesOneToThirtyTwoAreBlanksAndOthersAreNot) {
  for (int byte = 1; byte <= 255; ++byte) {
    if (byte == '"') continue;
    const std::string between(1, static_cast<char>(byte));
    SetAfterName("a" + between + "b");
    if (byte <= 32) {
      EXPECT_EQ(Count(), 2) << byte;
      EXPECT_EQ(Nth(2), "b") << byte;
    } else {
      EXPECT_EQ(Count(), 1) << byte;
      EXPECT_EQ(Nth(1), "a" + between + "b") << byte;
    }
  }
}

TEST_F(SingleCommandLineTest, NulByteEndsTheLine) {
  SetLine(std::string("mlfsort in.mlf\0other", 20));
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(2), "");

  SetLine(std::string("mlfsort \"in\0 other\"", 19));
  EXPECT_EQ(Nth(1), "in");
  EXPECT_EQ(Count(), 1);
}

TEST_F(SingleCommandLineTest, QuotedSectionKeepsBlanksAndDropsQuotes) {
  SetAfterName("\"my labels.mlf\"");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "my labels.mlf");

  SetAfterName("my\" \"labels.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "my labels.mlf");

  SetAfterName("\"a b\"c d");
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), "a bc");
  EXPECT_EQ(Nth(2), "d");
}

TEST_F(SingleCommandLineTest, QuotedBlankIsAnArgument) {
  SetAfterName("\" \"");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), " ");
}

TEST_F(SingleCommandLineTest, EmptyPairAtArgumentStartIsDropped) {
  SetAfterName("\"\" in.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");

  SetAfterName("\"\" \"\"");
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Nth(1), "");
}

TEST_F(SingleCommandLineTest, QuotesInsideAnArgumentNeverBecomeBytes) {
  for (const std::string text : {"a\"\"b", "\"a\"\"b\"", "\"a\"b", "a\"b\""}) {
    SetAfterName(text);
    EXPECT_EQ(Count(), 1) << text;
    EXPECT_EQ(Nth(1), "ab") << text;
  }
}

TEST_F(SingleCommandLineTest, UnclosedQuoteRunsToTheEnd) {
  SetAfterName("\"in.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");

  SetAfterName("\"my labels.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "my labels.mlf");
}

TEST_F(SingleCommandLineTest, LoneQuoteAtTheEndEndsTheCount) {
  SetAfterName("in.mlf \"");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");
  EXPECT_EQ(Nth(2), "");
}

TEST_F(SingleCommandLineTest, ProgramNameFollowsTheSameRules) {
  SetLine("\"C:/my tools/mlfsort.exe\" in.mlf");
  EXPECT_EQ(Count(), 1);
  EXPECT_EQ(Nth(1), "in.mlf");

  SetLine("C:/my tools/mlfsort.exe in.mlf");
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), "tools/mlfsort.exe");
}

TEST_F(SingleCommandLineTest, UnquotedRunIsCutAtTheLimit) {
  SetAfterName(std::string(4096, 'x') + std::string(904, 'y'));
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), std::string(4096, 'x'));
  EXPECT_EQ(Nth(2), std::string(904, 'y'));

  SetAfterName(std::string(4096, 'x') + " b");
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(2), "b");

  SetAfterName(std::string(4096, 'x') + "\"q r\"");
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(2), "q r");
}

TEST_F(SingleCommandLineTest, QuotedSectionGoesOnInTheNextArgument) {
  SetAfterName("\"" + std::string(4094, 'x') + " a b\" z");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Nth(1), std::string(4094, 'x') + " a");
  EXPECT_EQ(Nth(2), " b");
  EXPECT_EQ(Nth(3), "z");
}

TEST_F(SingleCommandLineTest, QuotedSectionClosingAtTheLimitEndsThere) {
  std::string opened = "\"";
  opened.append(4096, 'x');
  SetAfterName(opened + "\" z");
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), std::string(4096, 'x'));
  EXPECT_EQ(Nth(2), "z");

  SetAfterName(opened + "\"z w");
  EXPECT_EQ(Count(), 3);
  EXPECT_EQ(Nth(2), "z");
  EXPECT_EQ(Nth(3), "w");
}

TEST_F(SingleCommandLineTest, AllArgumentsAreTheCutsUpToTheEnd) {
  SetAfterName("-o \"a b\" \"\" " + std::string(4100, 'x') + " \"");
  EXPECT_EQ(All(), (std::vector<std::string>{"-o", "a b",
                                             std::string(4096, 'x'), "xxxx"}));
  SetLine("mlfsort");
  EXPECT_EQ(All(), std::vector<std::string>{});
  SetLine("");
  EXPECT_EQ(All(), std::vector<std::string>{});
}

TEST(CutArgumentTest, LeavesPositionOnTheByteThatEndedTheArgument) {
  std::size_t position = 0;
  EXPECT_EQ(CutArgument("ab  \"c d\"e", &position), "ab");
  EXPECT_EQ(position, 2u);
  EXPECT_EQ(CutArgument("ab  \"c d\"e", &position), "c de");
  EXPECT_EQ(position, 10u);
  EXPECT_EQ(CutArgument("ab  \"c d\"e", &position), "");
  EXPECT_EQ(position, 10u);
}

TEST(CutArgumentTest, LimitLeavesPositionOnTheNextByte) {
  const std::string line(5000, 'x');
  std::size_t position = 0;
  EXPECT_EQ(CutArgument(line, &position).size(), 4096u);
  EXPECT_EQ(position, 4096u);
  EXPECT_EQ(CutArgument(line, &position).size(), 904u);
  EXPECT_EQ(position, 5000u);
}

TEST(CutArgumentTest, PositionPastTheEndGivesEmptyArgument) {
  std::size_t position = 9;
  EXPECT_EQ(CutArgument("ab", &position), "");
  EXPECT_EQ(position, 2u);
}

class SplitArgumentsTest : public ::testing::Test {
 protected:
  void SetArguments(std::vector<std::string> arguments) {
    arguments_ = std::move(arguments);
  }
  ProcessArguments arguments() const {
    ProcessArguments split{true, {}, {}};
    for (const std::string& argument : arguments_) {
      split.split.push_back(argument);
    }
    return split;
  }
  std::int32_t Count() const { return CountOf(arguments()); }
  std::string Nth(std::int32_t n) const { return NthOf(arguments(), n); }
  std::vector<std::string> All() const {
    return ArgumentsAfterName(arguments());
  }

 private:
  std::vector<std::string> arguments_;
};

TEST_F(SplitArgumentsTest, ProgramNameAloneOrNothingGivesNoArguments) {
  SetArguments({"mlfsort"});
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Nth(1), "");
  SetArguments({});
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(Nth(1), "");
}

TEST_F(SplitArgumentsTest, EmptyArgumentsAreSkipped) {
  SetArguments({"mlfsort", "", "a", "", "b"});
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), "a");
  EXPECT_EQ(Nth(2), "b");
  EXPECT_EQ(Nth(3), "");
  EXPECT_EQ(Nth(0), "");
}

TEST_F(SplitArgumentsTest, ArgumentsAreTakenWholeByteForByte) {
  const std::string quoted_and_blank = "my \"labels\"\t.mlf";
  const std::string long_name(5000, 'n');
  SetArguments({"my tools/mlfsort", quoted_and_blank, long_name});
  EXPECT_EQ(Count(), 2);
  EXPECT_EQ(Nth(1), quoted_and_blank);
  EXPECT_EQ(Nth(2), long_name);
}

TEST_F(SplitArgumentsTest, AllArgumentsAreTakenWholeEmptyOnesIncluded) {
  const std::string long_name(5000, 'n');
  SetArguments({"mlfsort", "", "-o", "a \"b\"", long_name, ""});
  EXPECT_EQ(All(),
            (std::vector<std::string>{"", "-o", "a \"b\"", long_name, ""}));
  SetArguments({"mlfsort"});
  EXPECT_EQ(All(), std::vector<std::string>{});
  SetArguments({});
  EXPECT_EQ(All(), std::vector<std::string>{});
}

}  // namespace
}  // namespace mlfsort

#include "process/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/memory_platform.h"

namespace mlfsort {
namespace {

using Action = CommandOptions::Action;
using Arguments = std::vector<std::string>;

TEST(OptionsTest, PlainArgumentsKeepTheirMeaningAroundOptions) {
  EXPECT_FALSE(ParseCommandOptions({}).input_name);
  EXPECT_EQ(ParseCommandOptions({"", "-x", "b"}).input_name, "-x");
  const CommandOptions after_name =
      ParseCommandOptions({"in.mlf", "--lf", "--output=a=b"});
  EXPECT_EQ(after_name.action, Action::kSort);
  EXPECT_EQ(after_name.input_name, "in.mlf");
  EXPECT_EQ(after_name.line_convention, LineConvention::kLf);
  EXPECT_EQ(after_name.output_name, "a=b");
  EXPECT_FALSE(after_name.threads);
  EXPECT_FALSE(after_name.entries);
  EXPECT_TRUE(ParseCommandOptions({"--entries", "in.mlf"}).entries);
  EXPECT_EQ(ParseCommandOptions({"--threads=1"}).threads, 1);
  // The next argument is the value, whatever it looks like; after a lone
  // "--" every argument is plain.
  const CommandOptions separate =
      ParseCommandOptions({"--output", "--lf", "--", "--lf"});
  EXPECT_EQ(separate.output_name, "--lf");
  EXPECT_EQ(separate.input_name, "--lf");
  EXPECT_EQ(separate.line_convention, LineConvention::kCr);
}

TEST(OptionsTest, FirstHelpVersionOrWrongOptionDecides) {
  EXPECT_EQ(ParseCommandOptions({"in.mlf", "--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandOptions({"--version", "--x"}).action, Action::kVersion);
  const std::vector<std::pair<Arguments, std::string>> wrong = {
      {{"--x", "--help"}, "unrecognized option '--x'"},
      {{"--lf=yes"}, "option '--lf' doesn't allow an argument"},
      {{"--entries=1"}, "option '--entries' doesn't allow an argument"},
      {{"in.mlf", "--output"}, "option '--output' requires an argument"},
      {{"--output="}, "option '--output' requires an argument"},
      {{"--threads=0"}, "invalid argument '0' for '--threads'"},
      {{"--threads", "2x"}, "invalid argument '2x' for '--threads'"},
  };
  for (const auto& [arguments, error] : wrong) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.action, Action::kUsageError) << error;
    EXPECT_EQ(options.usage_error, error);
  }
}

// On Windows the options come from the one command line, split by the
// tool's own rules.
TEST(OptionsTest, SingleCommandLineIsSplitBeforeParsing) {
  MemoryPlatform platform;
  platform.SetCommandLine("mlfsort --output \"my out.srt\" \"\" in.mlf");
  const CommandOptions options = ReadCommandOptions(platform);
  EXPECT_EQ(options.output_name, "my out.srt");
  EXPECT_EQ(options.input_name, "in.mlf");
}

TEST(OptionsTest, HelpLinesFitEightyColumns) {
  std::istringstream help(HelpText());
  std::string line;
  int lines = 0;
  while (std::getline(help, line)) {
    EXPECT_LE(line.size(), 79u) << line;
    ++lines;
  }
  EXPECT_GT(lines, 10);
}

}  // namespace
}  // namespace mlfsort

#include "run/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/memory_platform.h"

namespace mlfsort {
namespace {

using Action = CommandOptions::Action;
using Arguments = std::vector<std::string>;

TEST(OptionsTest, PlainArgumentsKeepTheirMeaningAroundOptions) {
  EXPECT_TRUE(ParseCommandOptions({}).names.empty());
  EXPECT_EQ(ParseCommandOptions({"", "b", "", "-", "a"}).names,
            Arguments({"b", "-", "a"}));
  const CommandOptions after_name =
      ParseCommandOptions({"in.mlf", "--lf", "--output=a=b"});
  EXPECT_EQ(after_name.action, Action::kSort);
  EXPECT_EQ(after_name.names, Arguments({"in.mlf"}));
  EXPECT_EQ(after_name.line_convention, LineConvention::kLf);
  EXPECT_EQ(after_name.output_name, "a=b");
  EXPECT_FALSE(after_name.threads);
  EXPECT_FALSE(after_name.entries);
  EXPECT_TRUE(ParseCommandOptions({"--entries", "in.mlf"}).entries);
  EXPECT_EQ(ParseCommandOptions({"--threads=1"}).threads, 1);
  // After a lone "--" every argument is plain.
  const CommandOptions ended = ParseCommandOptions({"--", "--lf", "-x", "--"});
  EXPECT_EQ(ended.names, Arguments({"--lf", "-x", "--"}));
  EXPECT_EQ(ended.line_convention, LineConvention::kCr);
}

TEST(OptionsTest, ShortOptionsBundleAndEndTheBundleWithAValue) {
  const CommandOptions bundle = ParseCommandOptions({"-leq", "in.mlf"});
  EXPECT_EQ(bundle.line_convention, LineConvention::kLf);
  EXPECT_TRUE(bundle.entries && bundle.quiet);
  EXPECT_EQ(bundle.names, Arguments({"in.mlf"}));
  const CommandOptions next = ParseCommandOptions({"-leo", "out", "in.mlf"});
  EXPECT_TRUE(next.entries);
  EXPECT_EQ(next.output_name, "out");
  EXPECT_EQ(next.names, Arguments({"in.mlf"}));
  // The rest of the bundle is the value, never more options.
  const CommandOptions attached = ParseCommandOptions({"-loeq", "in.mlf"});
  EXPECT_EQ(attached.output_name, "eq");
  EXPECT_FALSE(attached.entries || attached.quiet);
  EXPECT_EQ(attached.names, Arguments({"in.mlf"}));
  // The last output counts; each is counted.
  const CommandOptions several =
      ParseCommandOptions({"-oa", "--output", "b", "-o", "-"});
  EXPECT_EQ(several.output_name, "-");
  EXPECT_EQ(several.outputs_given, 3);
}

// A value left out must not turn the next option into a file name; written
// attached or as a path, such a value is taken.
TEST(OptionsTest, ValueThatLooksLikeAnOptionMustBeAttachedOrAPath) {
  const std::vector<std::pair<Arguments, std::string>> refused = {
      {{"-o", "-e", "in.mlf"},
       "option '-o' requires an argument; '-e' looks like an option (write "
       "-o ./-e for a file of that name)"},
      {{"--output", "--", "in.mlf"},
       "option '--output' requires an argument; '--' looks like an option "
       "(write --output ./-- for a file of that name)"},
      {{"--threads", "-2"},
       "option '--threads' requires an argument; '-2' looks like an option "
       "(write --threads=-2 to give it as the value)"},
  };
  for (const auto& [arguments, error] : refused) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.action, Action::kUsageError) << error;
    EXPECT_EQ(options.usage_error, error);
  }
  for (const auto& [arguments, output] :
       std::vector<std::pair<Arguments, std::string>>{
           {{"--output=--lf"}, "--lf"},
           {{"-o-e"}, "-e"},
           {{"-o", "./-e"}, "./-e"},
           {{"--output", "-"}, "-"}}) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.output_name, output);
    EXPECT_FALSE(options.entries);
    EXPECT_EQ(options.line_convention, LineConvention::kCr);
  }
}

TEST(OptionsTest, FirstHelpVersionOrWrongOptionDecides) {
  EXPECT_EQ(ParseCommandOptions({"in.mlf", "--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandOptions({"--version", "--x"}).action, Action::kVersion);
  EXPECT_EQ(ParseCommandOptions({"-lhx"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandOptions({"-V", "-x"}).action, Action::kVersion);
  const std::vector<std::pair<Arguments, std::string>> wrong = {
      {{"--x", "--help"}, "unrecognized option '--x'"},
      {{"--lf=yes"}, "option '--lf' doesn't allow an argument"},
      {{"--entries=1"}, "option '--entries' doesn't allow an argument"},
      {{"in.mlf", "--output"}, "option '--output' requires an argument"},
      {{"--output="}, "option '--output' requires an argument"},
      {{"--threads=0"}, "invalid argument '0' for '--threads'"},
      {{"--threads", "2x"}, "invalid argument '2x' for '--threads'"},
      {{"-lx", "-h"}, "invalid option -- 'x'"},
      {{"-t2"}, "invalid option -- 't'"},
      {{"in.mlf", "-leo"}, "option requires an argument -- 'o'"},
      {{"-o", ""}, "option requires an argument -- 'o'"},
  };
  for (const auto& [arguments, error] : wrong) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.action, Action::kUsageError) << error;
    EXPECT_EQ(options.usage_error, error);
  }
}

// A check writes no file: naming one is refused where the pair is complete,
// so a --help before it still wins and one after it does not.
TEST(OptionsTest, CheckIsRecordedAndNeverTakesAnOutput) {
  EXPECT_FALSE(ParseCommandOptions({"in.mlf"}).check);
  for (const Arguments& arguments :
       {Arguments{"-c", "in.mlf"}, Arguments{"--check", "in.mlf"},
        Arguments{"-lce", "in.mlf"}}) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.action, Action::kSort);
    EXPECT_TRUE(options.check);
    EXPECT_EQ(options.names, Arguments({"in.mlf"}));
  }
  for (const Arguments& arguments :
       {Arguments{"-c", "-o", "out", "in.mlf"},
        Arguments{"--output=out", "--check"}, Arguments{"-co-"},
        Arguments{"-oout", "-lc", "--help"}}) {
    const CommandOptions options = ParseCommandOptions(arguments);
    EXPECT_EQ(options.action, Action::kUsageError) << arguments.front();
    EXPECT_EQ(options.usage_error, "options '-c' and '-o' cannot be combined");
  }
  EXPECT_EQ(ParseCommandOptions({"-c", "--help", "-o", "out"}).action,
            Action::kHelp);
  EXPECT_EQ(ParseCommandOptions({"--check=yes"}).usage_error,
            "option '--check' doesn't allow an argument");
}

// On Windows the options come from the one command line, split by the
// tool's own rules.
TEST(OptionsTest, SingleCommandLineIsSplitBeforeParsing) {
  MemoryPlatform platform;
  platform.SetCommandLine("mlfsort --output \"my out.srt\" \"\" in.mlf");
  const CommandOptions options = ReadCommandOptions(platform);
  EXPECT_EQ(options.output_name, "my out.srt");
  EXPECT_EQ(options.names, Arguments({"in.mlf"}));
}

TEST(OptionsTest, HelpShowsShortFormsInOneColumnWithinEightyColumns) {
  const std::string text = HelpText();
  EXPECT_NE(text.find("\n  -o, --output=FILE  write"), std::string::npos);
  EXPECT_NE(text.find("\n      --threads=N    sort"), std::string::npos);
  EXPECT_NE(text.find("\n  -c, --check        check"), std::string::npos);
  std::istringstream help(text);
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

#include "failure/failure_words.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "failure/exceptions.h"
#include "textio/io_failure_site.h"

namespace mlfsort {
namespace {

std::string WordsOf(const Exception& failure, const IoFailureSite& site,
                    const std::optional<std::string>& explanation = {}) {
  char text[kFailureWordsBytes];
  const std::size_t length =
      ComposeFailureWords(failure, site, explanation, text, sizeof text);
  return std::string(text, length);
}

IoFailureSite SiteOf(IoOperation operation, std::int32_t code, IoTarget target,
                     std::string_view name) {
  IoFailureSite site;
  site.operation = operation;
  site.code = code;
  site.target = target;
  site.name_size = name.size();
  name.copy(site.name, name.size());
  std::string_view("the words").copy(site.words, 9);
  return site;
}

// Each operation and target in its own words; a site left by another code
// is stale and not told.
TEST(FailureWordsTest, TellTheFileTheOperationAndTheWords) {
  const EInOutError failure("File not found", 2);
  EXPECT_EQ(WordsOf(failure, SiteOf(IoOperation::kOpenForReading, 2,
                                    IoTarget::kFile, "in.mlf")),
            "cannot open 'in.mlf' for reading: the words");
  EXPECT_EQ(WordsOf(failure, SiteOf(IoOperation::kWrite, 2,
                                    IoTarget::kStandardOutput, "")),
            "cannot write standard output: the words");
  EXPECT_EQ(WordsOf(failure, SiteOf(IoOperation::kCreate, 2,
                                    IoTarget::kTemporaryDirectory, "/tmp")),
            "cannot create a temporary file in '/tmp': the words");
  EXPECT_EQ(WordsOf(failure,
                    SiteOf(IoOperation::kRead, 5, IoTarget::kFile, "in.mlf")),
            "File not found");
  EXPECT_EQ(WordsOf(failure, IoFailureSite{}), "File not found");
  EXPECT_EQ(
      WordsOf(failure, SiteOf(IoOperation::kRead, 2, IoTarget::kFile, "in.mlf"),
              std::string("the run's own reason")),
      "the run's own reason");
}

// A name may hold any byte; the line must stay one line.
TEST(FailureWordsTest, NamesKeepToOneLine) {
  EXPECT_EQ(QuotedName("a b.mlf"), "'a b.mlf'");
  EXPECT_EQ(QuotedName(std::string("x\n\r\t\0\x7f\xe9", 7)),
            "'x\\n\\r\\t\\x00\\x7F\xe9'");
  char small[6];
  EXPECT_EQ(QuoteName("abcdefgh", small, sizeof small), 5u);
  EXPECT_EQ(std::string(small), "'abcd");
}

}  // namespace
}  // namespace mlfsort

#include "failure/message_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "failure/message_table.h"

namespace mlfsort {
namespace {

std::string Format(const char* format,
                   std::initializer_list<FormatArgument> arguments,
                   std::size_t size = 256) {
  std::string out(size, '#');
  const std::size_t length = FormatInto(
      out.data(), size, format,
      std::span<const FormatArgument>(arguments.begin(), arguments.size()));
  EXPECT_EQ(out[length], '\0');
  return out.substr(0, length);
}

TEST(MessageFormatTest, FillsPlaceholdersInOrder) {
  EXPECT_EQ(Format("I/O error %d", {FormatArgument::Decimal(32)}),
            "I/O error 32");
  EXPECT_EQ(Format("%d %d %d",
                   {FormatArgument::Decimal(-1), FormatArgument::Decimal(0),
                    FormatArgument::Decimal(INT32_MIN)}),
            "-1 0 -2147483648");
  EXPECT_EQ(
      Format("[%s|%s]", {FormatArgument::Text("a"), FormatArgument::Text("")}),
      "[a|]");
  EXPECT_EQ(Format("%p %p", {FormatArgument::Address(0x3E2A),
                             FormatArgument::Address(0xFFFFFFFF)}),
            "00003E2A FFFFFFFF");
  EXPECT_EQ(Format("100%%", {}), "100%");
}

TEST(MessageFormatTest, LeavesUnmatchedPlaceholdersAsTheyStand) {
  EXPECT_EQ(Format("%d and %d", {FormatArgument::Decimal(1)}), "1 and %d");
  EXPECT_EQ(Format("%s", {FormatArgument::Decimal(1)}), "%s");
  EXPECT_EQ(Format("%x%", {}), "%x%");
}

TEST(MessageFormatTest, CutsToTheBufferAndAlwaysTerminates) {
  EXPECT_EQ(Format("abcdef", {}, 4), "abc");
  EXPECT_EQ(Format("%s", {FormatArgument::Text("abcdef")}, 1), "");
  EXPECT_EQ(Format("x%p", {FormatArgument::Address(0x12345678)}, 6), "x1234");
}

TEST(MessageFormatTest, WidthRightAlignsADecimalAndKeepsItsLastCharacters) {
  EXPECT_EQ(Format("[%4d]", {FormatArgument::Decimal(5)}), "[   5]");
  EXPECT_EQ(Format("[%4d]", {FormatArgument::Decimal(-12)}), "[ -12]");
  EXPECT_EQ(Format("[%4d]", {FormatArgument::Decimal(1234)}), "[1234]");
  EXPECT_EQ(Format("[%4d]", {FormatArgument::Decimal(123456)}), "[3456]");
  EXPECT_EQ(Format("[%4d]", {FormatArgument::Decimal(-12345)}), "[2345]");
  EXPECT_EQ(Format("[%12d]", {FormatArgument::Decimal(4294967295)}),
            "[  4294967295]");
  EXPECT_EQ(Format("[%0d]", {FormatArgument::Decimal(INT64_MIN)}),
            "[-9223372036854775808]");
  // A width belongs to %d only, and has two digits at most.
  EXPECT_EQ(Format("%4s %123d",
                   {FormatArgument::Text("a"), FormatArgument::Decimal(1)}),
            "%4s %123d");
  EXPECT_EQ(Format("%4", {FormatArgument::Decimal(1)}), "%4");
}

TEST(MessageTableTest, TextsAreZeroTerminatedConstants) {
  const std::string_view text = MessageText(MessageId::kFileNotFound);
  EXPECT_EQ(text, "File not found");
  EXPECT_EQ(text.data()[text.size()], '\0');
  EXPECT_EQ(FormatMessage(MessageId::kListIndexError, -1),
            "List index out of bounds (-1)");
}

TEST(MessageTableTest, IoMessagesComeFromTheTable) {
  EXPECT_EQ(IoMessageText(platform_error::kFileNotFound), "File not found");
  EXPECT_EQ(IoMessageText(platform_error::kPathNotFound), "Invalid filename");
  EXPECT_EQ(IoMessageText(platform_error::kSemaphoreUserLimit),
            "Invalid numeric input");
  EXPECT_EQ(IoMessageText(platform_error::kSharingViolation), "");
  EXPECT_EQ(IoMessageText(0), "");
}

TEST(MessageTableTest, RuntimeErrorNumberEndsJustBeforeTheBlankAheadOfAt) {
  const auto line = [](std::int64_t number) {
    return Format(
        MessageText(MessageId::kRuntimeError).data(),
        {FormatArgument::Decimal(number), FormatArgument::Address(0x3E2A)});
  };
  EXPECT_EQ(line(203), "Runtime error 203 at 00003E2A");
  EXPECT_EQ(line(5), "Runtime error   5 at 00003E2A");
  EXPECT_EQ(line(12345), "Runtime error2345 at 00003E2A");
}

}  // namespace
}  // namespace mlfsort

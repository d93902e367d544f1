#include "failure/message_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

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

TEST(MessageTableTest, LoadsTextsCutToTheBuffer) {
  char text[8];
  EXPECT_EQ(LoadMessage(MessageId::kFileNotFound, text, sizeof text), 7u);
  EXPECT_STREQ(text, "File no");
  EXPECT_EQ(FormatMessage(MessageId::kListIndexError, -1),
            "List index out of bounds (-1)");
  char runtime_error[64];
  LoadMessage(MessageId::kRuntimeError, runtime_error, sizeof runtime_error);
  EXPECT_STREQ(runtime_error, "Runtime error     at 00000000");
}

}  // namespace
}  // namespace mlfsort

#include "failure/message_table.h"

#include <cstring>

#include "failure/message_format.h"

namespace mlfsort {
namespace {

struct MessageText {
  MessageId id;
  const char* text;
};

constexpr MessageText kMessageTexts[] = {
    {MessageId::kFileNotFound, "File not found"},
    {MessageId::kInvalidFilename, "Invalid filename"},
    {MessageId::kTooManyOpenFiles, "Too many open files"},
    {MessageId::kFileAccessDenied, "File access denied"},
    {MessageId::kReadBeyondEndOfFile, "Read beyond end of file"},
    {MessageId::kDiskFull, "Disk full"},
    {MessageId::kInvalidNumericInput, "Invalid numeric input"},
    {MessageId::kOutOfMemory, "Out of memory"},
    {MessageId::kIoErrorFallback, "I/O error %d"},
    {MessageId::kListIndexError, "List index out of bounds (%d)"},
    {MessageId::kReportTemplate, "Exception %s in module %s at %p.\n%s%s"},
    {MessageId::kRuntimeError, "Runtime error     at 00000000"},
};

const char* TextOf(MessageId id) {
  for (const MessageText& row : kMessageTexts) {
    if (row.id == id) return row.text;
  }
  return "";
}

}  // namespace

std::size_t LoadMessage(MessageId id, char* buffer, std::size_t size) {
  if (size == 0) return 0;
  const char* text = TextOf(id);
  std::size_t length = std::strlen(text);
  if (length > size - 1) length = size - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return length;
}

std::string FormatMessage(MessageId id, std::int32_t number) {
  char text[256];
  LoadMessage(id, text, sizeof text);
  char filled[256];
  const FormatArgument arguments[] = {FormatArgument::Decimal(number)};
  std::size_t length = FormatInto(filled, sizeof filled, text, arguments);
  return std::string(filled, length);
}

}  // namespace mlfsort

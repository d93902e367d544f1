#include "failure/message_table.h"

#include <cstring>
#include <iterator>

#include "failure/message_format.h"

namespace mlfsort {
namespace {

// By MessageId, in the order of its enumerators.
constexpr const char* kMessageTexts[] = {
    "File not found",                          // kFileNotFound
    "Invalid filename",                        // kInvalidFilename
    "Too many open files",                     // kTooManyOpenFiles
    "File access denied",                      // kFileAccessDenied
    "Read beyond end of file",                 // kReadBeyondEndOfFile
    "Disk full",                               // kDiskFull
    "Invalid numeric input",                   // kInvalidNumericInput
    "Out of memory",                           // kOutOfMemory
    "I/O error %d",                            // kIoErrorFallback
    "List index out of bounds (%d)",           // kListIndexError
    "Exception %s in module %s at %p.\n%s%s",  // kReportTemplate
    "Runtime error     at 00000000",           // kRuntimeError
};
static_assert(std::size(kMessageTexts) ==
                  static_cast<std::size_t>(MessageId::kRuntimeError) + 1,
              "one text for every message");

const char* TextOf(MessageId id) {
  return kMessageTexts[static_cast<std::size_t>(id)];
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

#include "failure/message_table.h"

#include <cstddef>
#include <iterator>

#include "failure/message_format.h"

namespace mlfsort {
namespace {

// By MessageId, in the order of its enumerators.
constexpr std::string_view kMessageTexts[] = {
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
    "Runtime error%4d at %p",                  // kRuntimeError
};
static_assert(std::size(kMessageTexts) ==
                  static_cast<std::size_t>(MessageId::kRuntimeError) + 1,
              "one text for every message");

}  // namespace

std::string_view MessageText(MessageId id) {
  return kMessageTexts[static_cast<std::size_t>(id)];
}

std::string FormatMessage(MessageId id, std::int32_t number) {
  char filled[256];
  const FormatArgument arguments[] = {FormatArgument::Decimal(number)};
  const std::size_t length =
      FormatInto(filled, sizeof filled, MessageText(id), arguments);
  return std::string(filled, length);
}

std::string_view IoMessageText(std::int32_t code) {
  for (const IoMessageRow& row : kIoMessageTable) {
    if (row.code == code) return MessageText(row.message);
  }
  return {};
}

}  // namespace mlfsort

// The program's table of message texts, kept apart from the code that uses
// them. Texts are loaded by identifier; %d, %s and %p in them are filled by
// FormatInto (message_format.h).

#ifndef MLFSORT_FAILURE_MESSAGE_TABLE_H_
#define MLFSORT_FAILURE_MESSAGE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace mlfsort {

enum class MessageId {
  kFileNotFound,
  kInvalidFilename,
  kTooManyOpenFiles,
  kFileAccessDenied,
  kReadBeyondEndOfFile,
  kDiskFull,
  kInvalidNumericInput,
  kOutOfMemory,
  kIoErrorFallback,  // "I/O error %d"
  kListIndexError,   // "List index out of bounds (%d)"
  kReportTemplate,   // "Exception %s in module %s at %p." LF "%s%s"
  kRuntimeError,     // "Runtime error     at 00000000"; the last
};

// Copies the text of `id` into `buffer` of `size` bytes, cut to size - 1
// bytes and zero-terminated. Returns the length copied. Allocates nothing.
std::size_t LoadMessage(MessageId id, char* buffer, std::size_t size);

// The text of `id` with its one %d filled with `number`.
std::string FormatMessage(MessageId id, std::int32_t number);

// One row of the I/O message table: an error code and the message of an I/O
// failure with that code.
struct IoMessageRow {
  std::int32_t code;
  MessageId message;
};

// The I/O message table, in lookup order. Codes not in it take the fallback
// "I/O error %d".
inline constexpr IoMessageRow kIoMessageTable[] = {
    {2, MessageId::kFileNotFound},          {3, MessageId::kInvalidFilename},
    {4, MessageId::kTooManyOpenFiles},      {5, MessageId::kFileAccessDenied},
    {100, MessageId::kReadBeyondEndOfFile}, {101, MessageId::kDiskFull},
    {106, MessageId::kInvalidNumericInput},
};

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_MESSAGE_TABLE_H_

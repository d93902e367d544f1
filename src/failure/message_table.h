// The program's table of message texts, kept apart from the code that uses
// them. The texts are constants that last as long as the program, handed
// out as they are; %d, %s and %p in them are filled by FormatInto
// (message_format.h).

#ifndef MLFSORT_FAILURE_MESSAGE_TABLE_H_
#define MLFSORT_FAILURE_MESSAGE_TABLE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

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
  kRuntimeError,     // "Runtime error%4d at %p"; the last
};

// The text of `id`. Its bytes last as long as the program and are followed
// by a zero byte, so data() is a C string too. Allocates nothing.
std::string_view MessageText(MessageId id);

// The text of `id` with its one %d filled with `number`.
std::string FormatMessage(MessageId id, std::int32_t number);

// One row of the I/O message table: an error code and the message of an I/O
// failure with that code.
struct IoMessageRow {
  std::int32_t code;
  MessageId message;
};

// The I/O message table, in lookup order. Codes not in it take the fallback
// "I/O error %d". The report words these codes so whatever left them: the
// table is fixed. No operation of this tool leaves 100, 101 or 106 (they
// are neither the platforms' codes nor the text streams' own, 102 to 105);
// their rows give the words such a code would take if it came from
// elsewhere.
inline constexpr IoMessageRow kIoMessageTable[] = {
    {platform_error::kFileNotFound, MessageId::kFileNotFound},
    {platform_error::kPathNotFound, MessageId::kInvalidFilename},
    {platform_error::kTooManyOpenFiles, MessageId::kTooManyOpenFiles},
    {platform_error::kAccessDenied, MessageId::kFileAccessDenied},
    {platform_error::kTooManySemaphores, MessageId::kReadBeyondEndOfFile},
    {platform_error::kExclusiveSemaphoreOwned, MessageId::kDiskFull},
    {platform_error::kSemaphoreUserLimit, MessageId::kInvalidNumericInput},
};

// The text of the I/O message table's row for `code`, or an empty view when
// the code has no row. Allocates nothing.
std::string_view IoMessageText(std::int32_t code);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_MESSAGE_TABLE_H_

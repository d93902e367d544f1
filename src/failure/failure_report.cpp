#include "failure/failure_report.h"

#include <cstring>

#include "failure/message_format.h"
#include "failure/message_table.h"

namespace mlfsort {
namespace {

// The shown address: the code position's distance from its module's base.
std::uint32_t ShownAddress(const void* code, const CodeLocation& where) {
  const auto position = reinterpret_cast<std::uintptr_t>(code);
  return static_cast<std::uint32_t>(position - where.module_base);
}

}  // namespace

std::size_t ComposeFailureReport(Platform& platform, const Exception& failure,
                                 char* text) {
  CodeLocation where;
  platform.LocateCode(failure.address(), &where);
  char report_template[256];
  LoadMessage(MessageId::kReportTemplate, report_template,
              sizeof report_template);
  const std::string& message = failure.message();
  const bool needs_full_stop = !message.empty() && message.back() != '.';
  const FormatArgument arguments[] = {
      FormatArgument::Text(failure.ClassName()),
      FormatArgument::Text(where.module_name),
      FormatArgument::Address(ShownAddress(failure.address(), where)),
      FormatArgument::Text(message.c_str()),
      FormatArgument::Text(needs_full_stop ? "." : ""),
  };
  return FormatInto(text, kReportTextBytes, report_template, arguments);
}

void WriteFailureReport(Platform& platform, const Exception& failure,
                        TextStream& standard_output) {
  char text[kReportTextBytes];
  ComposeFailureReport(platform, failure, text);
  standard_output.WriteZeroTerminated(text);
  standard_output.WriteLineEnd();
}

void WriteRuntimeError(Platform& platform, std::int32_t number,
                       const void* address, TextStream& standard_output) {
  // The stored text holds room for the number, which ends just before the
  // blank ahead of "at", and for the address at its end.
  char text[64];
  const std::size_t length =
      LoadMessage(MessageId::kRuntimeError, text, sizeof text);
  char* const at = std::strstr(text, " at ");
  if (at != nullptr && length >= 8) {
    // The number's field is the run of blanks before " at"; a number too
    // long for it keeps its last digits.
    char* field_start = at;
    while (field_start > text && field_start[-1] == ' ') --field_start;
    std::uint32_t magnitude = static_cast<std::uint32_t>(number);
    char* digit = at - 1;
    do {
      *digit-- = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0 && digit >= field_start);
    CodeLocation where;
    platform.LocateCode(address, &where);
    char shown[9];
    const FormatArgument argument[] = {
        FormatArgument::Address(ShownAddress(address, where))};
    FormatInto(shown, sizeof shown, "%p", argument);
    std::memcpy(text + length - 8, shown, 8);
  }
  standard_output.WriteZeroTerminated(text);
  standard_output.WriteLineEnd();
}

}  // namespace mlfsort

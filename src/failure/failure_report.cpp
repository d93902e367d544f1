#include "failure/failure_report.h"

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
  const std::string& message = failure.message();
  const bool needs_full_stop = !message.empty() && message.back() != '.';
  const FormatArgument arguments[] = {
      FormatArgument::Text(failure.ClassName()),
      FormatArgument::Text(where.module_name),
      FormatArgument::Address(ShownAddress(failure.address(), where)),
      FormatArgument::Text(message.c_str()),
      FormatArgument::Text(needs_full_stop ? "." : ""),
  };
  return FormatInto(text, kReportTextBytes,
                    MessageText(MessageId::kReportTemplate), arguments);
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
  CodeLocation where;
  platform.LocateCode(address, &where);
  // The number as the unsigned code it stands for (platform codes are
  // unsigned), so a code beyond INT32_MAX keeps its digits.
  const FormatArgument arguments[] = {
      FormatArgument::Decimal(static_cast<std::uint32_t>(number)),
      FormatArgument::Address(ShownAddress(address, where))};
  char text[64];
  FormatInto(text, sizeof text, MessageText(MessageId::kRuntimeError),
             arguments);
  standard_output.WriteZeroTerminated(text);
  standard_output.WriteLineEnd();
}

}  // namespace mlfsort

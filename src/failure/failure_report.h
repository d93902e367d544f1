// The failure report: the two lines a failure leaves on standard output.
//   Exception <class> in module <module> at <address>.<LF>
//   <message>[.]<CR LF>
// The address is the failing call's distance from the start of the loaded
// program image, in 8 upper-case hexadecimal digits. The report is composed
// in fixed buffers: reporting allocates nothing.

#ifndef MLFSORT_FAILURE_FAILURE_REPORT_H_
#define MLFSORT_FAILURE_FAILURE_REPORT_H_

#include <cstddef>
#include <cstdint>

#include "failure/exceptions.h"
#include "platform/platform.h"
#include "textio/text_stream.h"

namespace mlfsort {

inline constexpr std::size_t kReportTextBytes = 1024;

// Composes the report text of `failure` into `text` (kReportTextBytes
// bytes): cut to 1,023 characters and zero-terminated. Returns its length.
std::size_t ComposeFailureReport(Platform& platform, const Exception& failure,
                                 char* text);

// Writes the failure report to `standard_output` as one zero-terminated
// text followed by a line end. Failures of the writes are left pending and
// never start another report.
void WriteFailureReport(Platform& platform, const Exception& failure,
                        TextStream& standard_output);

// Writes "Runtime error <number> at <address>" and a line end to
// `standard_output`: the message of a failure outside the span of the
// failure hooks. The number, read as unsigned, is right-aligned in the four
// columns after "error" (a longer one keeps its last four digits); the
// address is shown as in the report. Allocates nothing.
void WriteRuntimeError(Platform& platform, std::int32_t number,
                       const void* address, TextStream& standard_output);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_FAILURE_REPORT_H_

// The warnings and notes a sort run leaves on standard error: facts about a
// run that ended well but may not have done what was meant. Each is the
// words of one line, without "mlfsort: " and the line end.

#ifndef MLFSORT_RUN_RUN_WARNINGS_H_
#define MLFSORT_RUN_RUN_WARNINGS_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace mlfsort {

// `number` in decimal, its digits grouped by threes with commas.
std::string WithThousands(std::uint64_t number);

// Plain arguments after the input name, which the run does not read.
std::string IgnoredArgumentsWarning(std::span<const std::string> ignored);

// An output named `given` times (more than once); `last` counts.
std::string SeveralOutputsWarning(int given, std::string_view last);

// `dropped` of `sortable` lines gave way to a later line of the same key.
std::string DroppedLinesWarning(std::uint64_t dropped, std::uint64_t sortable);

// `lines` lines of the input held an LF byte, which under the CR convention
// is part of the line. An empty `input_name` is standard input.
std::string LineFeedsWarning(std::uint64_t lines, std::string_view input_name);

// Where a derived output name may surprise: when the first "." of the
// input name lies in a directory part, or the name is bare ("srt" or
// ".srt"). Nothing otherwise.
std::optional<std::string> OutputNameNote(std::string_view input_name,
                                          std::string_view output_name);

}  // namespace mlfsort

#endif  // MLFSORT_RUN_RUN_WARNINGS_H_

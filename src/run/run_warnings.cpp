#include "run/run_warnings.h"

#include "failure/failure_words.h"

namespace mlfsort {
namespace {

std::string Plural(std::uint64_t count, std::string_view one,
                   std::string_view more) {
  return WithThousands(count) + " " + std::string(count == 1 ? one : more);
}

std::string InputCalled(std::string_view input_name) {
  return input_name.empty() ? "standard input" : QuotedName(input_name);
}

}  // namespace

std::string WithThousands(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) {
    digits.insert(at - 3, 1, ',');
  }
  return digits;
}

std::string IgnoredArgumentsWarning(std::span<const std::string> ignored) {
  std::string line =
      "warning: " +
      Plural(ignored.size(), "further argument", "further arguments") +
      " ignored (" + QuotedName(ignored.front());
  if (ignored.size() > 1) line += ", ...";
  return line + ")";
}

std::string SeveralOutputsWarning(int given, std::string_view last) {
  return "warning: -o given " +
         WithThousands(static_cast<std::uint64_t>(given)) +
         " times; the last, " + QuotedName(last) + ", counts";
}

std::string DroppedLinesWarning(std::uint64_t dropped, std::uint64_t sortable) {
  return "warning: " + WithThousands(dropped) + " of " +
         Plural(sortable, "sortable line", "sortable lines") +
         (dropped == 1 ? " had the key of a line read later and was dropped"
                       : " had the key of a line read later and were dropped") +
         "; -e keeps whole label entries";
}

std::string LineFeedsWarning(std::uint64_t lines, std::string_view input_name) {
  return "warning: " + Plural(lines, "line", "lines") + " of " +
         InputCalled(input_name) + (lines == 1 ? " holds" : " hold") +
         " an LF byte, read as part of the line (lines end at CR); -l reads "
         "LF line ends";
}

std::optional<std::string> OutputNameNote(std::string_view input_name,
                                          std::string_view output_name) {
  const std::size_t first_dot = input_name.find('.');
  const bool dot_in_directory =
      first_dot != std::string_view::npos &&
      input_name.find_first_of("/\\", first_dot) != std::string_view::npos;
  if (!dot_in_directory && output_name != "srt" && output_name != ".srt") {
    return std::nullopt;
  }
  const std::string_view why = first_dot == std::string_view::npos
                                   ? "the input name has no '.'"
                                   : "the name is cut after its first '.'";
  return "note: wrote " + QuotedName(output_name) + " (" + std::string(why) +
         "); -o chooses the name";
}

}  // namespace mlfsort

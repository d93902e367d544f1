#include "process/command_line.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mlfsort {
namespace {

constexpr char kQuote = '"';

bool IsBlank(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value >= 1 && value <= 32;
}

// The arguments after the program's own name, as the platform split them.
std::span<const std::string_view> SplitArgumentsAfterName(
    const ProcessArguments& arguments) {
  if (arguments.split.empty()) return {};
  return std::span<const std::string_view>(arguments.split).subspan(1);
}

}  // namespace

std::string CutArgument(std::string_view command_line, std::size_t* position) {
  const std::string_view line = command_line.substr(0, command_line.find('\0'));
  std::size_t at = std::min(*position, line.size());
  // Quotes are never argument bytes, so each one before `at` opened or closed
  // a section; an odd count means an earlier argument stopped at the length
  // limit inside a section that is still open.
  bool quoted = std::count(line.begin(), line.begin() + at, kQuote) % 2 == 1;
  if (!quoted) {
    for (;;) {
      while (at < line.size() && IsBlank(line[at])) ++at;
      if (line.substr(at, 2) != "\"\"") break;
      at += 2;
    }
  }
  std::string argument;
  while (at < line.size() && argument.size() < kMaxArgumentBytes &&
         (quoted || !IsBlank(line[at]))) {
    if (line[at] == kQuote) {
      quoted = !quoted;
    } else {
      argument.push_back(line[at]);
    }
    ++at;
  }
  // A section that closes exactly at the limit ends here; otherwise its
  // closing quote would start the next argument and make it come out empty.
  if (quoted && at < line.size() && line[at] == kQuote) ++at;
  *position = at;
  return argument;
}

std::vector<std::string> ArgumentsAfterName(const ProcessArguments& arguments) {
  std::vector<std::string> after_name;
  if (arguments.is_split) {
    for (std::string_view argument : SplitArgumentsAfterName(arguments)) {
      after_name.emplace_back(argument);
    }
    return after_name;
  }
  std::size_t position = 0;
  if (CutArgument(arguments.command_line, &position).empty()) return {};
  for (;;) {
    std::string argument = CutArgument(arguments.command_line, &position);
    if (argument.empty()) return after_name;
    after_name.push_back(std::move(argument));
  }
}

}  // namespace mlfsort

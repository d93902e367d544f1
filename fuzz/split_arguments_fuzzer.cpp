// Splits arbitrary bytes as a single command line and checks what the
// splitter must guarantee whatever the bytes: it ends, its arguments are
// well formed, and the argument count and the arguments agree with the cuts.
//
// The cuts are also checked as a whole: put together they hold exactly the
// bytes of the line that are neither double quotes nor blanks outside a
// quoted section, whatever the 4096-byte limit did to the argument edges.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "process/command_line.h"

namespace mlfsort {
namespace {

// Aborts with a message, so libFuzzer keeps the input as a crash.
void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "split_arguments: %s\n", what);
    std::abort();
  }
}

bool IsBlank(char byte) {
  const auto value = static_cast<unsigned char>(byte);
  return value >= 1 && value <= 32;
}

// The bytes the arguments carry: quotes never, blanks only inside a quoted
// section (a section is open after an odd number of quotes).
std::string ArgumentBytes(std::string_view line) {
  std::string bytes;
  bool quoted = false;
  for (char byte : line) {
    if (byte == '"') {
      quoted = !quoted;
    } else if (quoted || !IsBlank(byte)) {
      bytes.push_back(byte);
    }
  }
  return bytes;
}

// Whether a cut that stopped at `position` with an argument below the limit
// stopped where it had to: at the end, or at a blank outside any section.
bool EndsAtABoundary(std::string_view line, std::size_t position) {
  if (position == line.size()) return true;
  std::size_t quotes = 0;
  for (std::size_t i = 0; i < position; ++i) quotes += line[i] == '"';
  return quotes % 2 == 0 && IsBlank(line[position]);
}

void CheckSplit(std::string_view command_line) {
  const std::string_view line = command_line.substr(0, command_line.find('\0'));

  // Argument 0 first, then every argument up to the first empty one.
  std::vector<std::string> cuts;
  std::size_t position = 0;
  for (;;) {
    Require(cuts.size() <= line.size() + 1, "the splitter does not advance");
    const std::size_t before = position;
    std::string argument = CutArgument(command_line, &position);
    Require(position <= line.size(), "a cut passed the end of the line");
    Require(position > before || position == line.size(),
            "a cut neither advanced nor reached the end");
    Require(argument.size() <= kMaxArgumentBytes, "an argument is too long");
    Require(argument.find('"') == std::string::npos,
            "an argument holds a double quote");
    Require(argument.find('\0') == std::string::npos,
            "an argument holds a zero byte");
    if (argument.size() < kMaxArgumentBytes) {
      Require(EndsAtABoundary(line, position),
              "a short argument ended inside a word");
    }
    if (argument.empty()) {
      Require(position == line.size(),
              "an empty argument came out before the end of the line");
      if (cuts.empty()) cuts.emplace_back();  // argument 0 itself is empty
      break;
    }
    cuts.push_back(std::move(argument));
  }
  std::string joined;
  for (const std::string& cut : cuts) joined += cut;
  Require(joined == ArgumentBytes(line),
          "the arguments lost or gained bytes of the line");

  ProcessArguments arguments;
  arguments.is_split = false;
  arguments.command_line = command_line;
  const std::vector<std::string> after = ArgumentsAfterName(arguments);
  // An empty argument 0 ends the line, so nothing follows it.
  const std::size_t after_name = cuts.front().empty() ? 0 : cuts.size() - 1;
  Require(after.size() == after_name,
          "the arguments after the name differ from those cut");
  for (std::size_t n = 0; n < after.size(); ++n) {
    Require(after[n] == cuts[n + 1], "argument n is not cut n");
    Require(!after[n].empty(), "an argument after the name is empty");
  }

  // The same arguments handed over already split, with empty ones between
  // them, give the same ones and the empty ones.
  std::vector<std::string_view> split;
  for (const std::string& cut : cuts) {
    split.push_back(cut);
    split.push_back("");
  }
  ProcessArguments presplit;
  presplit.is_split = true;
  presplit.split = split;
  std::vector<std::string> presplit_after = ArgumentsAfterName(presplit);
  std::erase(presplit_after, std::string());
  std::vector<std::string> expected(cuts.begin() + 1, cuts.end());
  std::erase(expected, std::string());
  Require(presplit_after == expected,
          "the split arguments differ from the line's");
}

}  // namespace
}  // namespace mlfsort

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  mlfsort::CheckSplit(
      std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

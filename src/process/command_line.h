// The process's arguments after the program's own name, in either form a
// platform hands them over (ProcessArguments): already split, as POSIX
// does, or as one command line, as Windows does, which is cut here. The
// options parser takes them all (ArgumentsAfterName).
//
// Pre-split arguments are taken as they are: whole, byte for byte, with no
// limit on their length, empty ones included; blanks and double quotes in
// them are argument bytes. The first is the program's own name.
//
// A single command line is cut by these rules, one byte at a time, with no
// multi-byte awareness:
// - A blank byte is any byte of value 1 to 32. A NUL byte or the end of the
//   text ends the command line. Every other byte (DEL and bytes above 127
//   included) is an argument byte, except the double quote.
// - Blanks between arguments are skipped; so is a pair of double quotes that
//   stands where an argument would start, with the blanks after it. So a
//   cut comes out empty only at the line's end.
// - A double quote opens a quoted section that runs to the next double quote
//   or the end of the line; its bytes, blanks included, belong to the
//   argument, and the argument goes on after the closing quote. No form of
//   quoting puts a double quote into an argument.
// - An argument holds at most 4096 bytes; the next byte starts the next
//   argument. When the limit falls inside a quoted section, the next argument
//   begins inside that section (its blanks still belong to the argument);
//   when the section's closing quote directly follows the limit, the section
//   ends with it and the next argument starts after it.
// - Argument 0 is the program's own name, cut by the same rules.
//
// Nothing is cached: every call splits the command line afresh.

#ifndef MLFSORT_PROCESS_COMMAND_LINE_H_
#define MLFSORT_PROCESS_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace mlfsort {

// The most bytes one argument cut from a single command line holds.
inline constexpr std::size_t kMaxArgumentBytes = 4096;

// Cuts one argument from `command_line` starting at *position (a NUL byte or
// the end of the view ends the line), advancing *position past it. A
// position preceded by an odd number of double quotes lies inside a quoted
// section (left there by an argument that reached the limit) and continues
// it. Returns the empty string only at the end of the line: at its end, or
// at a lone double quote just before it.
std::string CutArgument(std::string_view command_line, std::size_t* position);

// Every argument after the program's name, in order. Pre-split arguments
// are taken whole, empty ones included; a single command line is cut up to
// the first argument that comes out empty (its end).
std::vector<std::string> ArgumentsAfterName(const ProcessArguments& arguments);

}  // namespace mlfsort

#endif  // MLFSORT_PROCESS_COMMAND_LINE_H_

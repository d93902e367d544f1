// Fills message templates into fixed buffers, allocating nothing, so the
// failure report can be composed even when memory is exhausted.

#ifndef MLFSORT_FAILURE_MESSAGE_FORMAT_H_
#define MLFSORT_FAILURE_MESSAGE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace mlfsort {

// One value for a placeholder: %d a signed decimal, %s a zero-terminated
// text, %p exactly 8 upper-case hexadecimal digits.
struct FormatArgument {
  enum class Kind { kDecimal, kText, kAddress } kind;
  std::int64_t decimal = 0;
  const char* text = "";
  std::uint32_t address = 0;

  static FormatArgument Decimal(std::int64_t value) {
    return {Kind::kDecimal, value, "", 0};
  }
  static FormatArgument Text(const char* value) {
    return {Kind::kText, 0, value, 0};
  }
  static FormatArgument Address(std::uint32_t value) {
    return {Kind::kAddress, 0, "", value};
  }
};

// Writes `format` into `out` with its placeholders replaced by `arguments`
// in order, cut to size - 1 bytes and zero-terminated (size must be at least
// 1). %Nd, with N one or two digits, right-aligns the decimal in N columns
// (0: as many as it takes) with blanks ahead of it; a decimal longer than
// that keeps its last N characters. A placeholder without an argument, or of
// another kind than its argument, is written as it stands; "%%" is one "%".
// Returns the length.
std::size_t FormatInto(char* out, std::size_t size, std::string_view format,
                       std::span<const FormatArgument> arguments);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_MESSAGE_FORMAT_H_

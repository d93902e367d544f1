#include "failure/message_format.h"

namespace mlfsort {
namespace {

// Appends bytes to a fixed buffer, dropping what does not fit.
class BoundedText {
 public:
  BoundedText(char* out, std::size_t size) : out_(out), limit_(size - 1) {}

  void Append(char byte) {
    if (length_ < limit_) out_[length_++] = byte;
  }
  void Append(const char* text) {
    while (*text != '\0') Append(*text++);
  }
  void AppendDecimal(std::int32_t value) {
    // Widened first, so the most negative value has a magnitude too.
    std::int64_t wide = value;
    if (wide < 0) {
      Append('-');
      wide = -wide;
    }
    char digits[12];
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + wide % 10);
      wide /= 10;
    } while (wide != 0);
    while (count > 0) Append(digits[--count]);
  }
  void AppendAddress(std::uint32_t value) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) {
      Append(kHexDigits[(value >> shift) & 0xF]);
    }
  }
  std::size_t Finish() {
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t length_ = 0;
};

}  // namespace

std::size_t FormatInto(char* out, std::size_t size, const char* format,
                       std::span<const FormatArgument> arguments) {
  BoundedText text(out, size);
  std::size_t next_argument = 0;
  for (const char* at = format; *at != '\0'; ++at) {
    if (*at != '%') {
      text.Append(*at);
      continue;
    }
    const char directive = at[1];
    if (directive == '%') {
      text.Append('%');
      ++at;
      continue;
    }
    using Kind = FormatArgument::Kind;
    const Kind wanted = directive == 'd'   ? Kind::kDecimal
                        : directive == 's' ? Kind::kText
                                           : Kind::kAddress;
    const bool known = directive == 'd' || directive == 's' || directive == 'p';
    if (!known || next_argument >= arguments.size() ||
        arguments[next_argument].kind != wanted) {
      text.Append('%');
      continue;
    }
    const FormatArgument& argument = arguments[next_argument++];
    switch (argument.kind) {
      case Kind::kDecimal:
        text.AppendDecimal(argument.decimal);
        break;
      case Kind::kText:
        text.Append(argument.text);
        break;
      case Kind::kAddress:
        text.AppendAddress(argument.address);
        break;
    }
    ++at;
  }
  return text.Finish();
}

}  // namespace mlfsort

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
  // A `width` of 0 writes the decimal as long as it is.
  void AppendDecimal(std::int64_t value, std::size_t width) {
    // The magnitude taken unsigned, so the most negative value has one too.
    std::uint64_t magnitude = static_cast<std::uint64_t>(value);
    if (value < 0) magnitude = 0 - magnitude;
    // Last character first: 20 digits and a sign at most.
    char reversed[21];
    std::size_t count = 0;
    do {
      reversed[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) reversed[count++] = '-';
    if (width != 0) {
      for (std::size_t column = count; column < width; ++column) Append(' ');
      if (count > width) count = width;
    }
    while (count > 0) Append(reversed[--count]);
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

bool IsDigit(char byte) { return byte >= '0' && byte <= '9'; }

}  // namespace

std::size_t FormatInto(char* out, std::size_t size, std::string_view format,
                       std::span<const FormatArgument> arguments) {
  BoundedText text(out, size);
  std::size_t next_argument = 0;
  for (std::size_t at = 0; at < format.size(); ++at) {
    if (format[at] != '%') {
      text.Append(format[at]);
      continue;
    }
    if (at + 1 < format.size() && format[at + 1] == '%') {
      text.Append('%');
      ++at;
      continue;
    }
    // The width, then the directive; past the end reads as no directive.
    std::size_t directive_at = at + 1;
    std::size_t width = 0;
    while (directive_at < format.size() && IsDigit(format[directive_at]) &&
           directive_at - at <= 2) {
      width = 10 * width + static_cast<std::size_t>(format[directive_at] - '0');
      ++directive_at;
    }
    const char directive =
        directive_at < format.size() ? format[directive_at] : '\0';
    using Kind = FormatArgument::Kind;
    const Kind wanted = directive == 'd'   ? Kind::kDecimal
                        : directive == 's' ? Kind::kText
                                           : Kind::kAddress;
    const bool known =
        directive == 'd' ||
        (directive_at == at + 1 && (directive == 's' || directive == 'p'));
    if (!known || next_argument >= arguments.size() ||
        arguments[next_argument].kind != wanted) {
      text.Append('%');
      continue;
    }
    const FormatArgument& argument = arguments[next_argument++];
    switch (argument.kind) {
      case Kind::kDecimal:
        text.AppendDecimal(argument.decimal, width);
        break;
      case Kind::kText:
        text.Append(argument.text);
        break;
      case Kind::kAddress:
        text.AppendAddress(argument.address);
        break;
    }
    at = directive_at;
  }
  return text.Finish();
}

}  // namespace mlfsort

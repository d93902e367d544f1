// The words that tell a failure on standard error, beside the report on
// standard output: what was being done, to which file, and why it failed,
// as in "cannot open 'trian.mlf' for reading: No such file or directory".

#ifndef MLFSORT_FAILURE_FAILURE_WORDS_H_
#define MLFSORT_FAILURE_FAILURE_WORDS_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "failure/exceptions.h"
#include "textio/io_failure_site.h"

namespace mlfsort {

// Room for the words of any failure: a name of IoFailureSite::kNameBytes,
// every byte of it escaped, and the rest.
inline constexpr std::size_t kFailureWordsBytes =
    4 * IoFailureSite::kNameBytes + 2 * IoFailureSite::kWordsBytes + 96;

// Composes the words for `failure` into `text` (`size` bytes, at least 1),
// zero-terminated, and returns their length. An `explanation` the run gave
// wins; else an I/O failure is told from `site` when the site was left with
// its code: "cannot <operation> '<name>'[ for reading|writing]: <words>",
// standard input and standard output named so, a temporary file as "a
// temporary file in '<directory>'"; exhausted memory is "out of
// memory"; any other failure is its message. Allocates nothing.
std::size_t ComposeFailureWords(const Exception& failure,
                                const IoFailureSite& site,
                                const std::optional<std::string>& explanation,
                                char* text, std::size_t size);

// Gives `append` the bytes that show `byte` on one line: the byte itself,
// or for a control byte (0-31, 127) its escape: \n, \r, \t, else \xHH with
// upper-case hex digits.
template <typename Append>
void ShowByte(char byte, Append&& append) {
  const auto value = static_cast<unsigned char>(byte);
  if (value >= 32 && value != 127) {
    append(byte);
    return;
  }
  append('\\');
  if (byte == '\n') {
    append('n');
  } else if (byte == '\r') {
    append('r');
  } else if (byte == '\t') {
    append('t');
  } else {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    append('x');
    append(kHexDigits[value >> 4]);
    append(kHexDigits[value & 0xF]);
  }
}

// `name` between single quotes, its control bytes escaped as ShowByte
// shows them so that it stays on one line, into `text` (`size` bytes, at least
// 1), cut to fit and zero-terminated. Returns the length.
std::size_t QuoteName(std::string_view name, char* text, std::size_t size);

// The same, as a string.
std::string QuotedName(std::string_view name);

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_FAILURE_WORDS_H_

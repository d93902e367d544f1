#include "failure/failure_words.h"

#include <cstring>

#include "failure/message_format.h"

namespace mlfsort {
namespace {

// The templates by operation: %s the quoted file, then the system's words.
const char* TemplateOf(IoOperation operation) {
  switch (operation) {
    case IoOperation::kOpenForReading:
      return "cannot open %s for reading: %s";
    case IoOperation::kOpenForWriting:
      return "cannot open %s for writing: %s";
    case IoOperation::kCreate:
      return "cannot create %s: %s";
    case IoOperation::kEmpty:
      return "cannot empty %s: %s";
    case IoOperation::kRead:
      return "cannot read %s: %s";
    case IoOperation::kWrite:
      return "cannot write %s: %s";
    case IoOperation::kClose:
      return "cannot close %s: %s";
    case IoOperation::kNone:
      break;
  }
  return nullptr;
}

std::size_t CopyText(std::string_view words, char* text, std::size_t size) {
  const std::size_t length = words.size() < size ? words.size() : size - 1;
  std::memcpy(text, words.data(), length);
  text[length] = '\0';
  return length;
}

}  // namespace

std::size_t QuoteName(std::string_view name, char* text, std::size_t size) {
  std::size_t length = 0;
  const auto append = [&](char byte) {
    if (length + 1 < size) text[length++] = byte;
  };
  append('\'');
  for (const char byte : name) ShowByte(byte, append);
  append('\'');
  text[length] = '\0';
  return length;
}

std::string QuotedName(std::string_view name) {
  std::string quoted(4 * name.size() + 3, '\0');
  quoted.resize(QuoteName(name, quoted.data(), quoted.size()));
  return quoted;
}

std::size_t ComposeFailureWords(const Exception& failure,
                                const IoFailureSite& site,
                                const std::optional<std::string>& explanation,
                                char* text, std::size_t size) {
  if (explanation) return CopyText(*explanation, text, size);
  if (dynamic_cast<const EOutOfMemory*>(&failure) != nullptr) {
    return CopyText("out of memory", text, size);
  }
  const auto* io_failure = dynamic_cast<const EInOutError*>(&failure);
  const char* format = TemplateOf(site.operation);
  if (io_failure == nullptr || format == nullptr ||
      site.code != io_failure->error_code()) {
    return CopyText(failure.message(), text, size);
  }
  char file[4 * IoFailureSite::kNameBytes + 32];
  if (site.target == IoTarget::kStandardInput) {
    CopyText("standard input", file, sizeof file);
  } else if (site.target == IoTarget::kStandardOutput) {
    CopyText("standard output", file, sizeof file);
  } else if (site.target == IoTarget::kTemporaryDirectory) {
    const std::size_t length =
        CopyText("a temporary file in ", file, sizeof file);
    QuoteName(site.name_view(), file + length, sizeof file - length);
  } else {
    QuoteName(site.name_view(), file, sizeof file);
  }
  const FormatArgument arguments[] = {FormatArgument::Text(file),
                                      FormatArgument::Text(site.words)};
  return FormatInto(text, size, format, arguments);
}

}  // namespace mlfsort

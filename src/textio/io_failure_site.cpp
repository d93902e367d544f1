#include "textio/io_failure_site.h"

#include <algorithm>
#include <cstring>

namespace mlfsort {
namespace {

thread_local IoFailureSite site;

}  // namespace

const IoFailureSite& LastIoFailure() { return site; }

void RecordIoFailure(IoOperation operation, std::int32_t code, IoTarget target,
                     std::string_view name, const char* words) {
  site.operation = operation;
  site.code = code;
  site.target = target;
  site.name_size = std::min(name.size(), IoFailureSite::kNameBytes);
  if (site.name_size > 0) std::memcpy(site.name, name.data(), site.name_size);
  site.name[site.name_size] = '\0';
  const std::size_t words_size =
      std::min(std::strlen(words), IoFailureSite::kWordsBytes);
  std::memcpy(site.words, words, words_size);
  site.words[words_size] = '\0';
}

void RetagIoFailure(std::int32_t code) { site.code = code; }

void ForgetIoFailure() { site.operation = IoOperation::kNone; }

}  // namespace mlfsort

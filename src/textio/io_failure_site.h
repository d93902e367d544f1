// Where the failure behind the pending I/O error happened: what a text
// stream was doing, to which file, and the system's own words for it. The
// text streams leave it beside the pending code, so that a failure can be
// told on standard error with the file and the action; the failure report
// on standard output never names a file.
//
// Like the pending code it is held per thread, and a later failure replaces
// an earlier one. Failures of the standard error stream leave no site:
// nothing that is reported ever fails there.

#ifndef MLFSORT_TEXTIO_IO_FAILURE_SITE_H_
#define MLFSORT_TEXTIO_IO_FAILURE_SITE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace mlfsort {

// What the stream was doing when it failed.
enum class IoOperation : std::uint8_t {
  kNone,  // no site recorded
  kOpenForReading,
  kOpenForWriting,
  kCreate,  // a temporary file
  kEmpty,
  kRead,
  kWrite,
  kClose,
};

// Which file failed: a named file, a standard stream, or a temporary file
// in a directory (the site's name is the directory's).
enum class IoTarget : std::uint8_t {
  kFile,
  kStandardInput,
  kStandardOutput,
  kTemporaryDirectory,
};

struct IoFailureSite {
  // The most bytes of a name and of the words a site keeps; longer ones are
  // cut, which only shortens what standard error shows.
  static constexpr std::size_t kNameBytes = kLongestFileName;
  static constexpr std::size_t kWordsBytes = 255;

  IoOperation operation = IoOperation::kNone;
  // The code left with it.
  std::int32_t code = 0;
  IoTarget target = IoTarget::kFile;
  std::size_t name_size = 0;
  char name[kNameBytes + 1] = {};
  // Zero-terminated; empty when there are none.
  char words[kWordsBytes + 1] = {};

  std::string_view name_view() const { return {name, name_size}; }
};

// The site left by the latest failure that recorded one.
const IoFailureSite& LastIoFailure();

// Records a failure of `operation` on `target` (`name` for a file) that
// left `code`, with the system's words `words` (zero-terminated). Allocates
// nothing.
void RecordIoFailure(IoOperation operation, std::int32_t code, IoTarget target,
                     std::string_view name, const char* words);

// The latest site stands for `code` from now on: a standard stream that
// failed to open itself leaves a code of its own for the same failure.
void RetagIoFailure(std::int32_t code);

// Forgets the site: LastIoFailure().operation is kNone again.
void ForgetIoFailure();

}  // namespace mlfsort

#endif  // MLFSORT_TEXTIO_IO_FAILURE_SITE_H_

// Files on the real disk for tests: a scoped temporary directory to work
// in, and whole-file reads and writes to set up and check what a run left.

#ifndef MLFSORT_TESTS_SUPPORT_TEMP_FILES_H_
#define MLFSORT_TESTS_SUPPORT_TEMP_FILES_H_

#include <optional>
#include <string>

namespace mlfsort {

// A fresh directory under the system's temporary directory, that only its
// owner may enter, removed with everything in it when the object goes away
// (directories inside that a test made read-only included). path() is
// empty when it could not be made.
class ScopedTempDirectory {
 public:
  ScopedTempDirectory();
  ScopedTempDirectory(const ScopedTempDirectory&) = delete;
  ScopedTempDirectory& operator=(const ScopedTempDirectory&) = delete;
  ~ScopedTempDirectory();

  const std::string& path() const { return path_; }
  // path() joined with a relative name.
  std::string Join(const std::string& name) const;

 private:
  std::string path_;
};

// The whole file at `path`; std::nullopt when it cannot be opened.
std::optional<std::string> ReadFileBytes(const std::string& path);
// Creates or empties the file at `path` and writes `bytes` into it; false
// when that fails.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_TEMP_FILES_H_

#include "support/temp_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>
#include <utility>

namespace mlfsort {

namespace fs = std::filesystem;

ScopedTempDirectory::ScopedTempDirectory() {
  std::error_code failed;
  const fs::path base = fs::temp_directory_path(failed);
  if (failed) return;
  // create_directory makes a name only where none stands yet, so a name
  // that another run holds is passed over, as mkdtemp would pass it over.
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "mlfsort_test_%08x", entropy());
    const fs::path candidate = base / name;
    if (fs::create_directory(candidate, failed)) {
      fs::permissions(candidate, fs::perms::owner_all, failed);
      path_ = candidate.string();
      return;
    }
  }
}

ScopedTempDirectory::~ScopedTempDirectory() {
  if (path_.empty()) return;
  // A test may have taken away write permission from a directory inside;
  // give it back, or the entries below it could not be removed.
  std::error_code ignored;
  for (fs::recursive_directory_iterator it(path_, ignored), end;
       !ignored && it != end; it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                      ignored);
    }
  }
  ignored.clear();
  fs::remove_all(path_, ignored);
}

std::string ScopedTempDirectory::Join(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream contents;
  contents << file.rdbuf();
  return std::move(contents).str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace mlfsort

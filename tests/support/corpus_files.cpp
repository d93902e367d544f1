#include "support/corpus_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace mlfsort {

namespace fs = std::filesystem;

std::vector<std::string> CorpusFiles(const std::string& directory) {
  std::vector<std::string> files;
  std::error_code missing;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(directory, missing)) {
    if (entry.path().extension() == ".mlf") {
      files.push_back(entry.path().filename().string());
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) files.push_back(kNoCorpus);
  return files;
}

std::string CorpusTestName(const std::string& file) {
  std::string name = fs::path(file).stem().string();
  for (char& byte : name) {
    if (!std::isalnum(static_cast<unsigned char>(byte))) byte = '_';
  }
  return name;
}

}  // namespace mlfsort

// The label files of the corpus (MLFSORT_CORPUS_DIR), for test suites that
// run one test per file, so that CTest names each.

#ifndef MLFSORT_TESTS_SUPPORT_CORPUS_FILES_H_
#define MLFSORT_TESTS_SUPPORT_CORPUS_FILES_H_

#include <string>
#include <vector>

namespace mlfsort {

// The one file name given where there is no corpus: the test left says so
// in its name, and skips.
inline constexpr char kNoCorpus[] = "NoCorpusDirectory_SetMLFSORT_CORPUS_DIR";

// The names of the *.mlf files in `directory`, sorted; {kNoCorpus} when it
// holds none or is missing.
std::vector<std::string> CorpusFiles(const std::string& directory);

// The test name for corpus file `file`: its stem, every byte but letters
// and digits made "_".
std::string CorpusTestName(const std::string& file);

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_CORPUS_FILES_H_

// A byte-for-byte comparison of file contents for tests, whose failure
// message shows where the bytes first differ rather than megabytes of them.

#ifndef MLFSORT_TESTS_SUPPORT_SAME_BYTES_H_
#define MLFSORT_TESTS_SUPPORT_SAME_BYTES_H_

#include <gtest/gtest.h>

#include <string>

namespace mlfsort {

::testing::AssertionResult SameBytes(const std::string& actual,
                                     const std::string& expected);

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_SAME_BYTES_H_

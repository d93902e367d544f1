#include "textio/copy_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace mlfsort {
namespace {

TEST(CopyBytesTest, CopiesExactlyTheBytesAskedFor) {
  std::string from;
  for (int i = 0; i < 40; ++i) from += static_cast<char>('A' + i);
  for (std::size_t size = 0; size <= from.size(); ++size) {
    // Guard bytes on both sides of the copy must stay as they were.
    std::string to(size + 32, '.');
    CopyBytes(to.data() + 16, from.data(), size);
    EXPECT_EQ(
        to, std::string(16, '.') + from.substr(0, size) + std::string(16, '.'))
        << size;
  }
}

}  // namespace
}  // namespace mlfsort

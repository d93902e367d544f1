// For tests only: puts a table of system calls of the test's own in place of
// the system's in one PosixPlatform. The program never includes this.

#ifndef MLFSORT_PLATFORM_POSIX_PLATFORM_TEST_HELPER_H_
#define MLFSORT_PLATFORM_POSIX_PLATFORM_TEST_HELPER_H_

#include "platform/posix_platform.h"
#include "platform/posix_system_calls.h"

namespace mlfsort {

class PosixPlatformTestHelper {
 public:
  PosixPlatformTestHelper() = delete;

  // From now on `platform` makes every call of the table through `calls`,
  // which must outlive that use.
  static void UseSystemCalls(PosixPlatform& platform,
                             const PosixSystemCalls& calls) {
    platform.system_calls_ = &calls;
  }
};

}  // namespace mlfsort

#endif  // MLFSORT_PLATFORM_POSIX_PLATFORM_TEST_HELPER_H_

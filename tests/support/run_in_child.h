// Runs a piece of a test in a forked child process, for code that ends the
// process (ExitProcess) or changes what the whole process shares (standard
// descriptors, signal dispositions). POSIX only.

#ifndef MLFSORT_TESTS_SUPPORT_RUN_IN_CHILD_H_
#define MLFSORT_TESTS_SUPPORT_RUN_IN_CHILD_H_

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace mlfsort {

// Runs `body` in a forked child; its return value is the exit status. -1
// when the child did not exit normally (a signal ended it).
inline int RunInChild(const std::function<int()>& body) {
  std::fflush(nullptr);  // or the child would print the parent's output again
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child == -1 || ::waitpid(child, &status, 0) != child ||
      !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_RUN_IN_CHILD_H_

// Failing allocations on demand. The test binary replaces the global
// operator new and delete; while a fault is armed, the n-th allocation from
// then on fails (std::bad_alloc, or nullptr for the nothrow forms).

#ifndef MLFSORT_TESTS_SUPPORT_ALLOCATION_FAULTS_H_
#define MLFSORT_TESTS_SUPPORT_ALLOCATION_FAULTS_H_

namespace mlfsort {

class AllocationFaults {
 public:
  // Arms a failure of the n-th allocation from now on (1 = the next one);
  // with `onward`, that one and every later allocation fail.
  static void FailFrom(long n, bool onward);
  // Disarms; returns how many allocations were made since arming.
  static long Disarm();
  // Whether an armed failure has fired since arming.
  static bool Fired();
};

// Allocations made while one of these lives are neither counted nor failed:
// for the test's own environment, such as an in-memory platform.
class UncountedAllocations {
 public:
  UncountedAllocations();
  ~UncountedAllocations();
  UncountedAllocations(const UncountedAllocations&) = delete;
  UncountedAllocations& operator=(const UncountedAllocations&) = delete;
};

}  // namespace mlfsort

#endif  // MLFSORT_TESTS_SUPPORT_ALLOCATION_FAULTS_H_

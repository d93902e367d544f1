// A little memory held for the whole process and handed back the moment a
// request for memory fails. Raising a failure allocates its exception
// object; without this reserve, a process that runs out of memory before
// the runtime has set memory aside for exceptions could not raise the
// out-of-memory failure at all and would abort instead of reporting it.

#ifndef MLFSORT_FAILURE_MEMORY_RESERVE_H_
#define MLFSORT_FAILURE_MEMORY_RESERVE_H_

#include <new>

namespace mlfsort {

class MemoryReserve {
 public:
  // Takes the reserve (malloc, so it asks nothing of operator new) and
  // installs a new-handler that frees it and throws std::bad_alloc, so the
  // failed request is not retried and the freed bytes serve the raise. Any
  // allocation function may call that handler (std::get_new_handler) when
  // it fails. Allocates nothing else.
  MemoryReserve();
  // Frees what is left of the reserve and puts the earlier handler back.
  ~MemoryReserve();
  MemoryReserve(const MemoryReserve&) = delete;
  MemoryReserve& operator=(const MemoryReserve&) = delete;

  // False when not even the reserve could be had: nothing can be raised
  // then, and the caller must report without raising.
  bool held() const { return taken_; }

 private:
  bool taken_;
  std::new_handler earlier_handler_;
};

}  // namespace mlfsort

#endif  // MLFSORT_FAILURE_MEMORY_RESERVE_H_

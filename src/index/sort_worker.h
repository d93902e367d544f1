// A second thread for the pure computation of a sort run, so that sorting
// goes on while the run reads.
//
// The worker runs one task at a time, handed over by one owning thread,
// which waits for each task before it hands over the next or reads what
// the task wrote. A task only computes: it does no I/O, makes no failure
// check and writes no report, so those stay on the owning thread in their
// order. A task must not allocate either; whatever it throws all the same
// (std::bad_alloc included) is kept and thrown again on the owning thread by
// the next Wait, so that it ends the run exactly as it would have there.

#ifndef MLFSORT_INDEX_SORT_WORKER_H_
#define MLFSORT_INDEX_SORT_WORKER_H_

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace mlfsort {

class SortWorker {
 public:
  class Task {
   public:
    virtual void Run() = 0;

   protected:
    ~Task() = default;
  };

  // With `threaded`, tasks run on a thread of the worker's own, started
  // when the first task arrives (so a small input never starts one);
  // otherwise, and when no thread can be started, on the owning thread.
  explicit SortWorker(bool threaded) : threaded_(threaded) {}
  // Waits for the task in hand, dropping what it threw, and ends the
  // thread.
  ~SortWorker();
  SortWorker(const SortWorker&) = delete;
  SortWorker& operator=(const SortWorker&) = delete;

  // Waits for the task before, then runs `task`: on the worker's thread,
  // returning at once, or here before returning. `task` must live until
  // the next Wait returns.
  void Start(Task& task);

  // Waits until the task handed over has run, then throws what it threw.
  void Wait();

 private:
  void Loop();

  bool threaded_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_.
  Task* task_ = nullptr;
  bool stopping_ = false;
  std::exception_ptr failure_;
};

}  // namespace mlfsort

#endif  // MLFSORT_INDEX_SORT_WORKER_H_

#include "index/sort_worker.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>
#include <vector>

#include "process/process_frame.h"
#include "support/memory_platform.h"
#include "textio/pending_io_error.h"

namespace mlfsort {
namespace {

// Notes the thread it ran on, or throws std::bad_alloc.
class NotingTask final : public SortWorker::Task {
 public:
  explicit NotingTask(bool fails) : fails_(fails) {}
  void Run() override {
    thread_ = std::this_thread::get_id();
    if (fails_) throw std::bad_alloc();
  }
  std::thread::id thread() const { return thread_; }

 private:
  bool fails_;
  std::thread::id thread_;
};

TEST(SortWorkerTest, TasksRunOnTheWorkersThreadOrOnTheCallers) {
  for (const bool threaded : {false, true}) {
    SortWorker worker(threaded);
    NotingTask first(false);
    NotingTask second(false);
    worker.Start(first);
    worker.Start(second);  // after the first has ended
    worker.Wait();
    EXPECT_EQ(first.thread() == std::this_thread::get_id(), !threaded);
    EXPECT_EQ(second.thread(), first.thread());
  }
}

TEST(SortWorkerTest, WhatATaskThrowsIsThrownOnTheCallersThread) {
  SortWorker worker(true);
  NotingTask failing(true);
  worker.Start(failing);
  EXPECT_THROW(worker.Wait(), std::bad_alloc);
  // Thrown once; the worker goes on with the next task.
  NotingTask next(false);
  worker.Start(next);
  EXPECT_NO_THROW(worker.Wait());
  EXPECT_NE(next.thread(), std::thread::id());
}

// A failed allocation on the worker ends the run in the report that a
// failed allocation on the run's own thread gives, at the same address.
TEST(SortWorkerTest, FailedAllocationOnTheWorkerEndsInTheSameReport) {
  std::string reports[2];
  for (const bool on_worker : {false, true}) {
    SetPendingIoError(0);
    MemoryPlatform platform;
    const RunFunction run =
        on_worker ? [](Process&) {
          SortWorker worker(true);
          NotingTask failing(true);
          worker.Start(failing);
          worker.Wait();
        }
                  : [](Process&) { throw std::bad_alloc(); };
    EXPECT_EQ(RunProcess(platform, SystemModules(), run), 1);
    reports[on_worker] = platform.StandardOutput();
  }
  EXPECT_NE(reports[0].find("\nOut of memory.\r\n"), std::string::npos)
      << reports[0];
  EXPECT_EQ(reports[1], reports[0]);
}

}  // namespace
}  // namespace mlfsort

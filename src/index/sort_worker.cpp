#include "index/sort_worker.h"

#include <system_error>
#include <utility>

namespace mlfsort {

SortWorker::~SortWorker() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void SortWorker::Start(Task& task) {
  Wait();
  if (threaded_ && !thread_.joinable()) {
    try {
      thread_ = std::thread(&SortWorker::Loop, this);
    } catch (const std::system_error&) {
      // No thread to be had: the work is the same on this one.
      threaded_ = false;
    }
  }
  if (!threaded_) {
    task.Run();
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    task_ = &task;
  }
  changed_.notify_all();
}

void SortWorker::Wait() {
  if (!thread_.joinable()) return;
  std::exception_ptr failure;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return task_ == nullptr; });
    failure = std::exchange(failure_, nullptr);
  }
  if (failure) std::rethrow_exception(failure);
}

void SortWorker::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return task_ != nullptr || stopping_; });
    if (task_ == nullptr) return;
    Task* const task = task_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      task->Run();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    failure_ = failure;
    task_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace mlfsort

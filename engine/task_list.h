// TaskList: the work after parsing a file on several threads, cut into pieces that wait for
// one another and are taken by whichever thread is free.
#ifndef HITSIEVE_ENGINE_TASK_LIST_H_
#define HITSIEVE_ENGINE_TASK_LIST_H_

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/read_steps.h"

namespace hitsieve {

// Work in pieces, some waiting for others, done by a few threads: each takes the first piece,
// in the order they were added, whose pieces before it are done. After a piece fails, no other
// is started; Run then throws the error of the first failed piece in that order. A piece due
// to start once `stop` (may be null) is set fails with ReadingStopped instead.
class TaskList {
 public:
  explicit TaskList(const std::atomic<bool>* stop = nullptr) : stop_(stop) {}

  // Returns the piece's number, for the `after` of later pieces.
  size_t Add(std::function<void()> run, std::vector<size_t> after = {}) {
    Task& task = tasks_.emplace_back();
    task.run = std::move(run);
    task.after = std::move(after);
    return tasks_.size() - 1;
  }

  // Runs every piece on `threads` threads; the calling thread meanwhile calls `wait()`, which
  // should return within a short time, until they are done.
  void Run(unsigned threads, const std::function<void(std::unique_lock<std::mutex>&)>& wait) {
    {
      std::vector<std::jthread> workers;  // joined when this scope ends, whatever happens
      workers.reserve(threads);
      for (unsigned t = 0; t < threads; ++t) workers.emplace_back([this] { Work(); });
      std::unique_lock<std::mutex> lock(mutex_);
      while (ended_ < threads) wait(lock);
    }
    for (const Task& task : tasks_) {
      if (task.error) std::rethrow_exception(task.error);
    }
  }

  // Wakes the waiting caller, as a piece does when it ends.
  std::condition_variable& changed() { return changed_; }

 private:
  struct Task {
    std::function<void()> run;
    std::vector<size_t> after;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
  };

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      Task* next = nullptr;
      bool waiting = false;  // a piece not started yet, whose pieces before it are not done
      if (!failed_) {
        for (Task& task : tasks_) {
          if (task.started) continue;
          const bool ready = std::all_of(task.after.begin(), task.after.end(),
                                         [this](size_t k) { return tasks_[k].done; });
          if (ready) {
            next = &task;
            break;
          }
          waiting = true;
        }
      }
      if (next == nullptr && !waiting) break;
      if (next == nullptr) {
        changed_.wait(lock);
        continue;
      }
      next->started = true;
      lock.unlock();
      std::exception_ptr error;
      try {
        ThrowIfStopped(stop_);
        next->run();
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      next->done = true;
      next->error = error;
      if (error) failed_ = true;
      changed_.notify_all();
    }
    ++ended_;
    changed_.notify_all();
  }

  const std::atomic<bool>* stop_;
  std::vector<Task> tasks_;  // fixed once Run has started
  std::mutex mutex_;
  std::condition_variable changed_;
  bool failed_ = false;  // guarded by mutex_
  unsigned ended_ = 0;   // guarded by mutex_: workers that found nothing more to do
};

}  // namespace hitsieve

#endif  // HITSIEVE_ENGINE_TASK_LIST_H_

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quarn {

// A fixed number of threads that run jobs in the order given. Jobs never wait for each
// other, so a full pool only delays.
class WorkerPool {
 public:
  // Starts up to `threads` threads: fewer when the system refuses more (threads() tells).
  explicit WorkerPool(size_t threads);
  // Lets the jobs queued and running finish, then joins the threads.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  void Submit(std::function<void()> job);
  size_t queued() const;
  size_t busy() const;
  size_t threads() const { return threads_.size(); }

 private:
  void Work();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  size_t busy_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quarn

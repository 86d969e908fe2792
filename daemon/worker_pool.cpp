#include "daemon/worker_pool.h"

#include <system_error>

namespace quarn {

WorkerPool::WorkerPool(size_t threads) {
  try {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
  } catch (const std::system_error&) {
    // The system gives no more threads (its limit, its memory): the pool works with those it
    // has, and the owner sees how many that is.
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Submit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

size_t WorkerPool::queued() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

size_t WorkerPool::busy() const {
  std::lock_guard lock(mutex_);
  return busy_;
}

void WorkerPool::Work() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (jobs_.empty()) return;  // stopping, and nothing left to do
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    ++busy_;
    lock.unlock();
    job();
    job = nullptr;  // what the job held goes before the pool says it is idle
    lock.lock();
    --busy_;
  }
}

}  // namespace quarn

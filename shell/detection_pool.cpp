#include "shell/detection_pool.h"

#include <algorithm>
#include <system_error>

namespace quarn {

void DetectionPool::Batch::Work() {
  for (size_t i = next_.fetch_add(1); i < count_; i = next_.fetch_add(1)) job_(i);
}

void DetectionPool::Batch::WorkOne() {
  const size_t i = next_.fetch_add(1);
  if (i < count_) job_(i);
}

DetectionPool::DetectionPool(int threads) {
  for (int i = 1; i < threads; ++i) {
    try {
      workers_.emplace_back([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // Fewer threads detect the same: the scan goes on with those it has, this one included.
      break;
    }
  }
}

DetectionPool::~DetectionPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DetectionPool::WorkerLoop() {
  for (;;) {
    Batch* batch = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      batch = queue_.front();
      ++batch->holders;
    }
    batch->Work();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      LetGo(batch);
    }
    released_.notify_all();
  }
}

void DetectionPool::LetGo(Batch* batch) {
  if (batch->Taken()) {
    const auto queued = std::find(queue_.begin(), queue_.end(), batch);
    if (queued != queue_.end()) queue_.erase(queued);
  }
  --batch->holders;
}

std::unique_ptr<DetectionPool::Batch> DetectionPool::Start(DetectionRequest request, bool shared) {
  const size_t count = request.names.size();
  std::vector<FileDetection> results(count);
  // A vector's elements move with it: the batch's results are where the job writes.
  FileDetection* slots = results.data();
  auto batch = std::make_unique<Batch>(count, [request = std::move(request), slots](size_t i) {
    slots[i] = DetectFileIn(*request.signatures, *request.folder, request.names[i],
                            request.heuristics_enabled, request.opener, request.imported);
  });
  batch->results = std::move(results);
  return shared ? Queue(std::move(batch)) : std::move(batch);
}

std::unique_ptr<DetectionPool::Batch> DetectionPool::StartJobs(size_t count,
                                                               std::function<void(size_t)> job) {
  return Queue(std::make_unique<Batch>(count, std::move(job)));
}

std::unique_ptr<DetectionPool::Batch> DetectionPool::Queue(std::unique_ptr<Batch> batch) {
  if (!workers_.empty()) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(batch.get());
    }
    wake_.notify_all();
  }
  return batch;
}

std::vector<FileDetection> DetectionPool::Finish(std::unique_ptr<Batch> batch, bool abandon) {
  if (batch == nullptr) return {};
  if (abandon) batch->Abandon();
  batch->Work();
  if (!workers_.empty()) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto queued = std::find(queue_.begin(), queue_.end(), batch.get());
    if (queued != queue_.end()) queue_.erase(queued);
    // While a thread of the pool ends the batch's last jobs, this one takes those of the
    // batches queued after it rather than wait idle: one long job (a large entry) would
    // otherwise keep a thread of two from working for as long as it takes.
    while (batch->holders != 0) {
      if (abandon || queue_.empty()) {
        released_.wait(lock);
        continue;
      }
      Batch* other = queue_.front();
      ++other->holders;
      lock.unlock();
      other->WorkOne();
      lock.lock();
      LetGo(other);
      if (other->holders == 0) released_.notify_all();
    }
  }
  return std::move(batch->results);
}

}  // namespace quarn

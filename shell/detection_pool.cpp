#include "shell/detection_pool.h"

#include <system_error>

namespace quarn {

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
  Finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DetectionPool::Work(Batch& batch) {
  const DetectionRequest& request = batch.request;
  for (size_t i = batch.next.fetch_add(1); i < request.names.size(); i = batch.next.fetch_add(1)) {
    batch.results[i] = DetectFileIn(*request.signatures, *request.folder, request.names[i],
                                    request.heuristics_enabled, request.opener, request.imported);
  }
}

void DetectionPool::WorkerLoop() {
  uint64_t seen = 0;
  for (;;) {
    Batch* batch = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      batch = batch_;
    }
    Work(*batch);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --busy_;
    }
    done_.notify_one();
  }
}

void DetectionPool::Start(DetectionRequest request) {
  if (current_ != nullptr) Finish();
  current_ = std::make_unique<Batch>();
  current_->results.resize(request.names.size());
  current_->request = std::move(request);
  if (workers_.empty() || current_->request.names.size() < 2) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch_ = current_.get();
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
}

std::vector<FileDetection> DetectionPool::Finish() {
  if (current_ == nullptr) return {};
  Work(*current_);
  {
    // Every worker must have let go of the batch before it goes.
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return batch_ != current_.get() || busy_ == 0; });
    if (batch_ == current_.get()) batch_ = nullptr;
  }
  std::vector<FileDetection> results = std::move(current_->results);
  current_.reset();
  return results;
}

}  // namespace quarn

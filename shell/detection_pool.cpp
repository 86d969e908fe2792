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
  FinishJobs();
  Finish();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DetectionPool::Work(Batch& batch) {
  if (batch.job) {
    for (size_t i = batch.next.fetch_add(1); i < batch.count; i = batch.next.fetch_add(1)) {
      batch.job(i);
    }
    return;
  }
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
  FinishJobs();
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

void DetectionPool::StartJobs(size_t count, std::function<void(size_t)> job) {
  FinishJobs();
  jobs_ = std::make_unique<Batch>();
  jobs_->job = std::move(job);
  jobs_->count = count;
  if (workers_.empty() || count == 0) return;
  // The threads take the jobs once they let go of a started batch: this thread helps them
  // through it.
  if (current_ != nullptr) Work(*current_);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    batch_ = jobs_.get();
    busy_ = static_cast<int>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
}

void DetectionPool::FinishJobs() {
  if (jobs_ == nullptr) return;
  Work(*jobs_);
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return batch_ != jobs_.get() || busy_ == 0; });
    if (batch_ == jobs_.get()) batch_ = nullptr;
  }
  jobs_.reset();
}

}  // namespace quarn

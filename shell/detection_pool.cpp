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
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DetectionPool::Work(Batch& batch) {
  for (size_t i = batch.next.fetch_add(1); i < batch.names->size(); i = batch.next.fetch_add(1)) {
    (*batch.results)[i] = DetectFileIn(*batch.signatures, *batch.folder, (*batch.names)[i],
                                       batch.heuristics_enabled, batch.opener, batch.imported);
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

std::vector<FileDetection> DetectionPool::DetectAll(const DatabaseImage& signatures, Folder& folder,
                                                    const std::vector<std::string>& names,
                                                    bool heuristics_enabled,
                                                    const ContainerOpener* opener,
                                                    ImportedScan imported) {
  std::vector<FileDetection> results(names.size());
  Batch batch;
  batch.signatures = &signatures;
  batch.folder = &folder;
  batch.names = &names;
  batch.heuristics_enabled = heuristics_enabled;
  batch.opener = opener;
  batch.imported = imported;
  batch.results = &results;
  if (!workers_.empty() && names.size() > 1) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      batch_ = &batch;
      busy_ = static_cast<int>(workers_.size());
      ++generation_;
    }
    wake_.notify_all();
    Work(batch);
    // Every worker must have let go of the batch before it goes out of scope.
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
    batch_ = nullptr;
  } else {
    Work(batch);
  }
  return results;
}

}  // namespace quarn

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/file_detection.h"

namespace quarn {

// Threads that run the detection stage over a batch of files of one folder at once. Only
// detection runs here: it reads and writes nothing the scan shows, so the scan can report,
// count and act on the files afterwards, one by one in walk order, exactly as a scan on one
// thread does.
class DetectionPool {
 public:
  // `threads` counts the calling thread, which works on each batch too; 1 starts none.
  explicit DetectionPool(int threads);
  ~DetectionPool();
  DetectionPool(const DetectionPool&) = delete;
  DetectionPool& operator=(const DetectionPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // The detection of every name, in the order of `names`.
  std::vector<FileDetection> DetectAll(const DatabaseImage& signatures, Folder& folder,
                                       const std::vector<std::string>& names,
                                       bool heuristics_enabled,
                                       const ContainerOpener* opener = nullptr,
                                       ImportedScan imported = {});

 private:
  struct Batch {
    const DatabaseImage* signatures = nullptr;
    Folder* folder = nullptr;
    const std::vector<std::string>* names = nullptr;
    bool heuristics_enabled = false;
    const ContainerOpener* opener = nullptr;
    ImportedScan imported;
    std::vector<FileDetection>* results = nullptr;
    std::atomic<size_t> next{0};
  };

  void WorkerLoop();
  static void Work(Batch& batch);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  Batch* batch_ = nullptr;   // guarded by mutex_
  uint64_t generation_ = 0;  // guarded by mutex_: one more for each batch
  int busy_ = 0;             // guarded by mutex_: workers still on the current batch
  bool stopping_ = false;    // guarded by mutex_
  std::vector<std::thread> workers_;
};

}  // namespace quarn

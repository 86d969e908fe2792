#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shell/file_detection.h"

namespace quarn {

// What a batch of detections needs: the files are `names` of `folder`.
struct DetectionRequest {
  const DatabaseImage* signatures = nullptr;
  Folder* folder = nullptr;
  std::vector<std::string> names;
  bool heuristics_enabled = false;
  const ContainerOpener* opener = nullptr;
  ImportedScan imported;
};

// Threads that run the detection stage over a batch of files of one folder at once. Only
// detection runs here: it reads and writes nothing the scan shows, so the scan can report,
// count and act on the files afterwards, one by one in walk order, exactly as a scan on one
// thread does. A batch is started and finished apart, so that the calling thread can report
// one batch while the pool's threads detect the next.
class DetectionPool {
 public:
  // `threads` counts the calling thread, which works on each batch too when it finishes it;
  // 1 starts none.
  explicit DetectionPool(int threads);
  ~DetectionPool();
  DetectionPool(const DetectionPool&) = delete;
  DetectionPool& operator=(const DetectionPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Hands the batch to the pool's threads and returns at once. The folder, the signatures
  // and the opener must stay as they are until Finish. One batch at a time: a batch started
  // while another is unfinished finishes that one first, its detections dropped.
  void Start(DetectionRequest request);
  bool started() const { return current_ != nullptr; }
  // The started batch's detections, in the order of its names, once the calling thread has
  // helped with what is left and every thread has let go of it. Empty when none was started.
  std::vector<FileDetection> Finish();

  // Hands job(0) … job(count - 1) to the pool's threads and returns at once; FinishJobs
  // waits for them. Jobs started while others are unfinished finish those first. A started
  // batch stays started: its share is done first, and Finish gives its detections as before.
  void StartJobs(size_t count, std::function<void(size_t)> job);
  // Helps with the jobs started last and returns when all are done (at once when they are).
  void FinishJobs();

 private:
  struct Batch {
    // A batch of StartJobs: `count` calls of `job`, and no request.
    std::function<void(size_t)> job;
    size_t count = 0;
    DetectionRequest request;
    std::vector<FileDetection> results;
    std::atomic<size_t> next{0};
  };

  void WorkerLoop();
  static void Work(Batch& batch);

  std::unique_ptr<Batch> current_;  // the calling thread's alone
  std::unique_ptr<Batch> jobs_;     // the calling thread's alone
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

#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
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

// Threads that run the detection stage over batches of files ahead of the walk. Only
// detection runs here: it reads and writes nothing the scan shows, so the scan can report,
// count and act on the files afterwards, one by one in walk order, exactly as a scan on one
// thread does. Batches queue up and the threads take them in the order they were started,
// so that they keep detecting while the walk reports, lists a folder or scans a container.
class DetectionPool {
 public:
  class Batch;

  // `threads` counts the calling thread, which works on a batch too when it finishes it;
  // 1 starts none, and each batch is then detected when it is finished.
  explicit DetectionPool(int threads);
  // Every batch started must have been finished first.
  ~DetectionPool();
  DetectionPool(const DetectionPool&) = delete;
  DetectionPool& operator=(const DetectionPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Queues the batch for the pool's threads and returns at once. The folder, the signatures
  // and the opener must stay as they are until it is finished. Not `shared`: no thread of
  // the pool takes it, and it is detected when it is finished.
  std::unique_ptr<Batch> Start(DetectionRequest request, bool shared = true);
  // The batch's detections, in the order of its names, once the calling thread has detected
  // what no thread had taken yet and every thread has let go of it. `abandon`: the files no
  // thread took are left undetected (opened false), for a walk that stops.
  std::vector<FileDetection> Finish(std::unique_ptr<Batch> batch, bool abandon = false);
  // Queues job(0) … job(count - 1) as a batch of their own, taken and finished as detections
  // are (Finish then gives none): work of another kind that the scan reports in its order.
  std::unique_ptr<Batch> StartJobs(size_t count, std::function<void(size_t)> job);

 private:
  void WorkerLoop();
  // Under mutex_: a thread lets go of a batch it worked on; one whose jobs are all taken
  // leaves the queue, so that no thread starts on it again.
  void LetGo(Batch* batch);
  std::unique_ptr<Batch> Queue(std::unique_ptr<Batch> batch);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable released_;
  std::deque<Batch*> queue_;  // guarded by mutex_: batches whose files may not all be taken
  bool stopping_ = false;     // guarded by mutex_
  std::vector<std::thread> workers_;
};

// A batch started: its jobs (for a detection batch, one file each) are taken one at a time by
// whichever thread comes first.
class DetectionPool::Batch {
 public:
  Batch(size_t count, std::function<void(size_t)> job) : job_(std::move(job)), count_(count) {}

  // Runs jobs no thread has taken yet, one at a time, until none is left.
  void Work();
  // Runs one job no thread has taken yet, if one is left.
  void WorkOne();
  bool Taken() const { return next_.load() >= count_; }
  void Abandon() { next_.store(count_); }

  std::vector<FileDetection> results;  // a detection batch's, by file
  int holders = 0;                     // guarded by the pool's mutex_: threads working on it

 private:
  std::function<void(size_t)> job_;
  size_t count_;
  std::atomic<size_t> next_{0};
};

}  // namespace quarn

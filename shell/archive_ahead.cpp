// SPDX-License-Identifier: Apache-2.0
#include "shell/archive_ahead.h"

#include <algorithm>
#include <limits>

#include "shell/archive_entry_read.h"
#include "shell/detection_pool.h"

namespace quarn {
namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
// Entries of one window: enough to keep the threads busy while the scan reports the window
// before, few enough that a stop is not kept waiting; and headers listed for one window, most
// of them perhaps of entries the filter passes over, so that the scout stays near the scan.
constexpr size_t kWindowJobs = 64;
constexpr uint64_t kWindowEntries = 4096;

bool SameEntry(const ArchiveEntry& a, const ArchiveEntry& b) {
  return a.path == b.path && a.size == b.size && a.regular == b.regular &&
         a.unreadable == b.unreadable;
}

}  // namespace

// Passes over entries until the twin gives entry `index` next; false when it ends before.
bool ArchiveAhead::SkipTo(TwinReader& twin, uint64_t index) {
  while (twin.next < index) {
    if (!NextOf(twin)) return false;
  }
  return twin.next == index;
}

std::optional<ArchiveEntry> ArchiveAhead::NextOf(TwinReader& twin) {
  std::optional<ArchiveEntry> entry = twin.reader->NextEntry();
  twin.next = entry ? twin.next + 1 : kNever;
  return entry;
}

ArchiveAhead::ArchiveAhead(ScanSession& session, ArchiveReader& archive, ContainerBudget& budget,
                           std::function<std::string(const ArchiveEntry&)> leaf_of,
                           std::string folder_path)
    : session_(session),
      archive_(archive),
      budget_(budget),
      leaf_of_(std::move(leaf_of)),
      folder_path_(std::move(folder_path)),
      pool_(session.detection_pool()) {
  if (pool_ != nullptr && pool_->threads() < 2) pool_ = nullptr;
}

ArchiveAhead::~ArchiveAhead() {
  // The pool's threads may still be reading the next window into it.
  if (next_ != nullptr && !next_->jobs.empty()) pool_->FinishJobs();
  Drop(current_);
  Drop(next_);
}

void ArchiveAhead::Drop(std::unique_ptr<Window>& window) {
  if (window == nullptr) return;
  budget_.held_ahead -= window->held;
  window.reset();
}

// The twins are opened only for a window worth sharing out: a small archive costs no more
// than on one thread.
bool ArchiveAhead::OpenTwins() {
  for (int i = 0; i < pool_->threads(); ++i) {
    std::unique_ptr<ArchiveReader> twin = archive_.Twin();
    if (twin == nullptr) return false;
    twins_.push_back(TwinReader{std::move(twin)});
  }
  return true;
}

bool ArchiveAhead::Wanted(const ArchiveEntry& entry, const std::string& leaf, uint64_t room) const {
  const ContainerLimits& limits = session_.container_limits();
  if (!entry.regular || entry.unreadable || !entry.size || *entry.size > room ||
      *entry.size > limits.max_file_size || !IsLookedAt(session_, leaf)) {
    return false;
  }
  // Read to no more than its header's size, an entry is judged against at least kPackedFloor
  // packed bytes: one whose bound cannot reach the ratio limit never stops at it.
  return *entry.size <= kRatioFloor || *entry.size / kPackedFloor < limits.max_ratio;
}

std::unique_ptr<ArchiveAhead::Window> ArchiveAhead::Start(uint64_t from) {
  auto window = std::make_unique<Window>();
  window->end = kNever;
  if (!started_) {
    started_ = true;
    std::unique_ptr<ArchiveReader> scout = archive_.Twin();
    if (scout != nullptr) scout_ = std::make_unique<TwinReader>(TwinReader{std::move(scout)});
  }
  if (scout_ == nullptr || !SkipTo(*scout_, from)) {
    scout_.reset();
    return window;
  }
  const uint64_t room = kAheadBytes - std::min(kAheadBytes, budget_.held_ahead);
  std::vector<Job>& jobs = window->jobs;
  while (jobs.size() < kWindowJobs && scout_->next - from < kWindowEntries) {
    const uint64_t index = scout_->next;
    std::optional<ArchiveEntry> entry = NextOf(*scout_);
    if (!entry) break;
    std::string leaf = leaf_of_(*entry);
    if (!Wanted(*entry, leaf, room - window->held)) continue;
    window->held += *entry->size;
    const bool detect = PassesFileFilter(session_, leaf);
    jobs.push_back(Job{index, std::move(*entry), std::move(leaf), detect, nullptr});
  }
  window->end = scout_->next;
  if (twins_.empty() && jobs.size() > 1 && !OpenTwins()) {
    twins_.clear();
    scout_.reset();
  }
  if (twins_.empty()) {
    // Not worth twins yet, or none to be had: the scan reads these itself.
    jobs.clear();
    window->held = 0;
    return window;
  }
  budget_.held_ahead += window->held;
  if (!jobs.empty()) {
    pool_->StartJobs(jobs.size(),
                     [this, read = window.get()](size_t job) { Read(read->jobs[job]); });
  }
  return window;
}

void ArchiveAhead::MoveTo(uint64_t index) {
  Drop(current_);
  if (next_ != nullptr) {
    if (!next_->jobs.empty()) pool_->FinishJobs();
    current_ = std::move(next_);
  }
  if (current_ == nullptr || index >= current_->end) {
    // The scan went past the window read ahead: the one from here is read now.
    Drop(current_);
    current_ = Start(index);
    if (!current_->jobs.empty()) pool_->FinishJobs();
  }
  // The next window is read while the scan reports this one.
  if (current_->end != kNever) next_ = Start(current_->end);
}

ArchiveAhead::Entry* ArchiveAhead::Take(uint64_t index, const ArchiveEntry& entry) {
  if (pool_ == nullptr) return nullptr;
  if (current_ == nullptr || index >= current_->end) MoveTo(index);
  Window& window = *current_;
  // What the scan passed over is let go at once.
  for (; window.taken < window.jobs.size() && window.jobs[window.taken].index < index;
       ++window.taken) {
    window.jobs[window.taken].result.reset();
  }
  if (window.taken == window.jobs.size()) return nullptr;
  const Job& job = window.jobs[window.taken];
  if (job.index != index || job.result == nullptr || !SameEntry(job.entry, entry)) return nullptr;
  return job.result.get();
}

void ArchiveAhead::Read(Job& job) {
  // Jobs start in increasing order and there is a twin per thread, so one free twin always
  // stands at or before the job's entry: the nearest goes there.
  TwinReader* twin = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (TwinReader& candidate : twins_) {
      if (!candidate.busy && candidate.next <= job.index &&
          (twin == nullptr || candidate.next > twin->next)) {
        twin = &candidate;
      }
    }
    if (twin == nullptr) return;
    twin->busy = true;
  }
  ReadWith(*twin, job);
  std::lock_guard<std::mutex> lock(mutex_);
  twin->busy = false;
}

void ArchiveAhead::ReadWith(TwinReader& twin, Job& job) {
  if (!SkipTo(twin, job.index)) return;
  const std::optional<ArchiveEntry> entry = NextOf(twin);
  if (!entry || !SameEntry(*entry, job.entry)) return;
  auto result = std::make_unique<Entry>();
  // Read as the scan reads it, bounded by the size its header gives; the scan counts it in
  // the top-level file's budget when it takes it.
  ContainerLimits limits = session_.container_limits();
  limits.max_file_size = *job.entry.size;
  limits.max_scan_size = kNever;
  ContainerBudget own;
  own.deadline = budget_.deadline;
  const ReadOutcome outcome =
      SpoolEntry(limits, own, session_.stop_requested(), *twin.reader, result->spool);
  if (outcome.stopped || outcome.archive_done) return;
  if (job.detect) {
    EntryFolder folder(job.leaf, result->spool, folder_path_);
    result->detection = DetectFileIn(session_.signatures(), folder, job.leaf,
                                     session_.options().heuristics_enabled == 1,
                                     ContainerCheckOf(session_), session_.imported_scan());
  }
  job.result = std::move(result);
}

}  // namespace quarn

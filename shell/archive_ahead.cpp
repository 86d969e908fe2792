// SPDX-License-Identifier: Apache-2.0
#include "shell/archive_ahead.h"

#include <algorithm>
#include <limits>

#include "shell/archive_entry_read.h"
#include "shell/detection_pool.h"

namespace quarn {
namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
// A window is up to an eighth of what may be held of entries' bytes, so that the windows read
// ahead of the scan have room beside it; that is work enough for the threads, and a bounded
// wait for a stop. Headers listed for one window at most, most of them perhaps of entries the
// filter passes over: the scout stays near the scan.
constexpr uint64_t kWindowBytes = kAheadBytes / 8;
constexpr uint64_t kWindowEntries = 4096;
// Headers listed before an archive with nothing to read ahead among them is left to the scan.
constexpr uint64_t kProbeEntries = 64;
// An entry this large is read first in its window.
constexpr uint64_t kLargeEntry = kWindowBytes / 4;
// Windows read ahead of the one the scan is in: enough that a thread that ends its share of
// one goes on with the next while the other still decodes a large entry.
constexpr size_t kWindowsAhead = 3;
// Twins beyond one a thread, for jobs that start before every free twin's place.
constexpr size_t kSpareTwins = 2;

// What an entry of `size` bytes holds in memory once read: its spool's share.
uint64_t HeldInMemory(uint64_t size) {
  return std::min(size, EntrySpool::kSpoolMemoryBytes);
}

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
  for (std::unique_ptr<Window>& window : windows_) Drop(window);
}

void ArchiveAhead::Finish(Window& window) {
  if (window.reading != nullptr) pool_->Finish(std::move(window.reading));
}

// The pool's threads may still be reading the window: they let go of it first.
void ArchiveAhead::Drop(std::unique_ptr<Window>& window) {
  if (window == nullptr) return;
  Finish(*window);
  budget_.held_ahead -= window->held;
  budget_.spilled_ahead -= window->spilled;
  window.reset();
}

bool ArchiveAhead::Wanted(const ArchiveEntry& entry, const std::string& leaf) const {
  const ContainerLimits& limits = session_.container_limits();
  // An entry lying as it is costs the scan a copy at most: not worth a thread.
  if (!entry.packed || !entry.regular || entry.unreadable || !entry.size ||
      *entry.size > kAheadBytes || *entry.size > limits.max_file_size ||
      !IsLookedAt(session_, leaf)) {
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
  if (held_back_ && held_back_->index != from) held_back_.reset();
  if (scout_ == nullptr || (!held_back_ && !SkipTo(*scout_, from))) {
    scout_.reset();
    return window;
  }
  const uint64_t room = kAheadBytes - std::min(kAheadBytes, budget_.held_ahead);
  const uint64_t spill_room =
      kSpilledAheadBytes - std::min(kSpilledAheadBytes, budget_.spilled_ahead);
  const auto fits = [&](uint64_t size) {
    return HeldInMemory(size) <= room - window->held &&
           size - HeldInMemory(size) <= spill_room - window->spilled;
  };
  std::vector<Job>& jobs = window->jobs;
  window->end = from;
  // A large entry first in the window does not count against its share: the rest of the
  // window is the other threads' work while one decodes it.
  uint64_t leading = 0;
  while (window->bytes - leading < kWindowBytes && window->end - from < kWindowEntries &&
         !(twins_.empty() && jobs.empty() && window->end - from >= kProbeEntries)) {
    Job job;
    if (held_back_) {
      job = std::move(*held_back_);
      held_back_.reset();
    } else {
      job.index = scout_->next;
      std::optional<ArchiveEntry> entry = NextOf(*scout_);
      if (!entry) {
        window->end = kNever;
        break;
      }
      job.entry = std::move(*entry);
      job.leaf = leaf_of_(job.entry);
    }
    if (Wanted(job.entry, job.leaf) && !jobs.empty() &&
        (!fits(*job.entry.size) || *job.entry.size >= kLargeEntry)) {
      // A large entry starts the next window, whose threads take it first; and that window
      // has more room (one that fits in no room at all is the scan's to read).
      held_back_ = std::move(job);
      break;
    }
    window->end = job.index + 1;
    if (!Wanted(job.entry, job.leaf) || !fits(*job.entry.size)) continue;
    if (jobs.empty() && *job.entry.size >= kLargeEntry) leading = *job.entry.size;
    window->bytes += *job.entry.size;
    window->held += HeldInMemory(*job.entry.size);
    window->spilled += *job.entry.size - HeldInMemory(*job.entry.size);
    job.detect = PassesFileFilter(session_, job.leaf);
    jobs.push_back(std::move(job));
  }
  // An archive whose first kProbeEntries hold nothing to read ahead (a stored ZIP) is left to
  // the scan: listing its headers again would cost more than it gives.
  if (jobs.empty() && twins_.empty()) scout_.reset();
  // A lone entry is not worth the twins' opening: the scan reads it itself.
  if (jobs.empty() || (jobs.size() == 1 && twins_.empty())) {
    jobs.clear();
    window->bytes = window->held = window->spilled = 0;
    return window;
  }
  budget_.held_ahead += window->held;
  budget_.spilled_ahead += window->spilled;
  window->reading = pool_->StartJobs(
      jobs.size(), [this, read = window.get()](size_t job) { Read(read->jobs[job]); });
  return window;
}

bool ArchiveAhead::RoomForWindow() const {
  return budget_.held_ahead + kWindowBytes + EntrySpool::kSpoolMemoryBytes <= kAheadBytes &&
         budget_.spilled_ahead + kAheadBytes <= kSpilledAheadBytes;
}

void ArchiveAhead::MoveTo(uint64_t index) {
  while (!windows_.empty() && index >= windows_.front()->end) {
    Drop(windows_.front());
    windows_.pop_front();
  }
  // The scan went past the windows read ahead: the one from here is read now.
  if (windows_.empty()) windows_.push_back(Start(index));
  // The next windows are read while the scan finishes and reports this one.
  while (windows_.size() <= kWindowsAhead && windows_.back()->end != kNever && RoomForWindow()) {
    windows_.push_back(Start(windows_.back()->end));
  }
  Finish(*windows_.front());
}

ArchiveAhead::Entry* ArchiveAhead::Take(uint64_t index, const ArchiveEntry& entry) {
  if (pool_ == nullptr) return nullptr;
  if (windows_.empty() || index >= windows_.front()->end) MoveTo(index);
  Window& window = *windows_.front();
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
  // The nearest free twin at or before the job's entry goes there; where there is none (the
  // one that stood there ended, or went on with a job further on), one more is opened, up to
  // a few.
  TwinReader* twin = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<TwinReader>& candidate : twins_) {
      if (!candidate->busy && candidate->next <= job.index &&
          (twin == nullptr || candidate->next > twin->next)) {
        twin = candidate.get();
      }
    }
    if (twin == nullptr && twins_.size() < static_cast<size_t>(pool_->threads()) + kSpareTwins) {
      if (std::unique_ptr<ArchiveReader> opened = archive_.Twin()) {
        twins_.push_back(std::make_unique<TwinReader>(TwinReader{std::move(opened)}));
        twin = twins_.back().get();
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
  const ReadOutcome outcome = SpoolEntry(limits, own, session_.stop_requested(), *twin.reader,
                                         result->spool, job.entry.size);
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

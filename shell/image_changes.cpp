// SPDX-License-Identifier: Apache-2.0
#include "shell/image_changes.h"

#include <algorithm>
#include <chrono>

#include "clean/cleaning_context.h"
#include "containers/disks/disk_image_opener.h"
#include "platform/forwarding_file.h"
#include "platform/path_names.h"

namespace quarn {

// The working copy's file as its container writes it: every write that lands is counted, so
// an action that failed can be told from one that failed after it changed the copy, and a
// write or flush that failed is remembered: a copy the disk let down is never put in place.
class WatchedFile : public ForwardingFile {
 public:
  explicit WatchedFile(File& file) : ForwardingFile(file) {}
  uint64_t writes() const { return writes_; }
  bool failed() const { return failed_; }

  uint32_t Write(const void* buffer, uint32_t length) override {
    const uint32_t written = ForwardingFile::Write(buffer, length);
    if (written > 0) ++writes_;
    if (written != length) failed_ = true;
    return written;
  }
  bool SetEndOfFile() override {
    ++writes_;
    return Noted(ForwardingFile::SetEndOfFile());
  }
  bool Flush() override { return Noted(ForwardingFile::Flush()); }

 private:
  bool Noted(bool done) {
    if (!done) failed_ = true;
    return done;
  }

  uint64_t writes_ = 0;
  bool failed_ = false;
};

namespace {

FileTime Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

uint32_t& CounterOf(ScanCounters& counters, ActionKind kind) {
  switch (kind) {
    case ActionKind::kClean:
      return counters.cleaned;
    case ActionKind::kDelete:
      return counters.deleted;
    case ActionKind::kRename:
      break;
  }
  return counters.renamed;
}

}  // namespace

ImageChanges::ImageChanges(Folder& folder, std::string name)
    : folder_(folder), name_(std::move(name)) {}

ImageChanges::~ImageChanges() {
  // The container goes before the copy it writes through.
  opened_.reset();
  watched_.reset();
}

void ImageChanges::NoteDamage(size_t volume) {
  if (std::find(damaged_.begin(), damaged_.end(), volume) == damaged_.end()) {
    damaged_.push_back(volume);
  }
}

const std::optional<std::string>& ImageChanges::ImageRefusal() {
  if (image_refusal_) return *image_refusal_;
  // Opening for writing tells a read-only mount, a block device and a link (refused by the
  // folder) from an image that may change; the owner's write bit, a read-only image.
  auto image = folder_.OpenFile(name_, OpenMode::kReadWrite);
  if (!image) {
    image_refusal_.emplace(image.message());
    return *image_refusal_;
  }
  const std::optional<FileInfo> info = (*image)->GetInfo();
  if (!info) {
    image_refusal_.emplace(PathMessage("cannot change", JoinPath(folder_.Path(), name_),
                                       "the image cannot be examined"));
  } else if (info->link_count > 1) {
    image_refusal_.emplace(PathMessage("cannot change", JoinPath(folder_.Path(), name_),
                                       "the image has other names that would keep the virus"));
  } else if ((info->mode & 0200) == 0) {
    // Whoever may write it anyway (the superuser) still finds it marked read only.
    image_refusal_.emplace(
        PathMessage("cannot change", JoinPath(folder_.Path(), name_), "the image is read only"));
  } else {
    image_refusal_.emplace();
    image_times_ = (*image)->GetTimes().value_or(FileTimes{});
    image_ = std::move(*image);
  }
  return *image_refusal_;
}

std::optional<std::string> ImageChanges::MakeWorkingCopy() {
  auto copy = CleaningCopy::Create(folder_, name_, *image_);
  if (!copy) return copy.message();
  copy_ = std::move(*copy);
  watched_ = std::make_shared<WatchedFile>(copy_->file());
  // The container shares the copy's file but never owns it: the copy outlives it.
  std::shared_ptr<File> shared(watched_, watched_.get());
  opened_ = DiskImageOpener(DiskImageAccess::kReadWrite).Open(shared);
  if (!opened_) {
    return PathMessage("cannot change", JoinPath(folder_.Path(), name_),
                       "its working copy cannot be opened");
  }
  return std::nullopt;
}

ChangePlace ImageChanges::OpenForChange(size_t volume, const EntryPlace& entry,
                                        const std::string& name) {
  ChangePlace place;
  const bool damaged = std::find_if(damaged_.begin(), damaged_.end(), [&](size_t v) {
                         return v == volume || v == kEveryVolume;
                       }) != damaged_.end();
  if (damaged) {
    place.message = "damage was seen in the volume";
    return place;
  }
  if (const std::optional<std::string>& refused = ImageRefusal()) {
    place.message = *refused;
    return place;
  }
  if (copy_ == nullptr) {
    if (std::optional<std::string> failure = MakeWorkingCopy()) {
      place.access = ChangeAccess::kFailed;
      place.message = *failure;
      // Made once a scan: a copy that could not be made for the first file would fail the
      // same way for every other.
      image_refusal_.emplace(*failure);
      opened_.reset();
      watched_.reset();
      if (copy_) (void)copy_->Discard();
      copy_.reset();
      return place;
    }
  }
  if (volume >= opened_->volumes.size() || opened_->volumes[volume].files == nullptr) {
    place.message = "the volume cannot be opened for writing";
    return place;
  }
  auto folder = opened_->volumes[volume].files->OpenEntryFolder(entry);
  if (!folder) {
    place.message = folder.message();
    return place;
  }
  // The folder's own checks for a change (cross-links, FAT copies that differ, a broken
  // chain) come before the question, so a file that cannot change is never asked about.
  if (auto file = (*folder)->OpenFile(name, OpenMode::kReadWrite); !file) {
    place.message = file.message();
    return place;
  }
  place.access = ChangeAccess::kGranted;
  place.folder = std::move(*folder);
  return place;
}

uint64_t ImageChanges::BeginAction() const {
  return watched_ ? watched_->writes() : 0;
}

void ImageChanges::EndAction(uint64_t token, bool done, ActionKind kind, const ResultLine& line) {
  if (done) {
    done_.push_back({kind, line});
  } else if (watched_ && (watched_->writes() != token || watched_->failed())) {
    spoiled_ = true;
  }
}

void ImageChanges::TakeBack(ScanSession& session, const std::string& message) {
  session.ui().ShowError(message);
  for (DoneAction& action : done_) {
    --CounterOf(session.counters(), action.kind);
    action.line.ok = false;
    session.ui().ReportUnshownAction(action.line);
  }
  done_.clear();
}

void ImageChanges::Finish(ScanSession& session) {
  if (copy_ == nullptr) return;
  if (watched_->failed()) spoiled_ = true;
  opened_.reset();
  watched_.reset();
  const std::string image = JoinPath(folder_.Path(), name_);
  if (spoiled_ || done_.empty()) {
    if (Status discarded = copy_->Discard(); !discarded) {
      session.ui().ShowError(discarded.message());
    }
    copy_.reset();
    if (spoiled_ && !done_.empty()) {
      TakeBack(session, PathMessage("cannot change", image,
                                    "a change inside it failed; the image is kept as it was, "
                                    "without the changes made in it"));
    }
    return;
  }
  FileTimes times = image_times_;
  times.last_write = Now();
  Status committed = copy_->Commit(times);
  copy_.reset();
  if (!committed) {
    TakeBack(session, committed.message() +
                          "; the image is kept as it was, without the "
                          "changes made in it");
  }
}

}  // namespace quarn

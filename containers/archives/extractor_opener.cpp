#include "containers/archives/extractor_opener.h"

#include <zlib.h>

#include "containers/crc16.h"
#include "containers/archives/dos_archive_headers.h"
#include "containers/archives/extractor_listing.h"
#include "platform/child_process.h"

namespace quarn {
namespace {

// An archive larger than this is not copied for the extractor: `size`.
constexpr uint64_t kLargestArchive = uint64_t{1} << 30;
// What the listing may take; a thousand entries need a small part of it.
constexpr uint64_t kLongestListing = uint64_t{16} << 20;
// A child's own bounds; the scan's time limit is checked between entries besides.
constexpr ChildLimits kListingLimits{std::chrono::milliseconds(30000), uint64_t{512} << 20, 30,
                                     kLongestListing};
constexpr ChildLimits kRunLimits{std::chrono::milliseconds(60000), uint64_t{512} << 20, 60,
                                 uint64_t{4} << 30};

const std::vector<std::string> kCodePage = {"-nr", "-e", "cp437"};

class ExtractorReader : public ArchiveReader {
 public:
  ExtractorReader(std::shared_ptr<File> file, const ExtractorPrograms& programs,
                  size_t most_entries)
      : file_(std::move(file)), programs_(programs), most_entries_(most_entries) {}

  // Lists the archive; what cannot be listed is said by LeftUnread and Damaged.
  void Start() {
    if (!ChildProcess::CanRun(programs_.lister) || !ChildProcess::CanRun(programs_.extractor)) {
      unread_ = IncompleteReason::kUnsupported;
      return;
    }
    Result<std::shared_ptr<ChildInput>> input = ChildInput::CopyOf(*file_, kLargestArchive);
    // Short of the copy's temporary file, the archive was never looked at.
    if (!input) {
      unread_ = file_->Size().value_or(0) > kLargestArchive ? IncompleteReason::kSize
                                                            : IncompleteReason::kResource;
      return;
    }
    input_ = *input;
    std::vector<std::string> arguments = {"-j"};
    arguments.insert(arguments.end(), kCodePage.begin(), kCodePage.end());
    arguments.push_back(ChildInput::kPath);
    Result<std::unique_ptr<ChildProcess>> lister =
        ChildProcess::Start(programs_.lister, arguments, input_, kListingLimits);
    if (!lister) {
      unread_ = IncompleteReason::kResource;  // both programs are there: no process to be had
      return;
    }
    std::string text;
    const Status read = (*lister)->ReadAll(text);
    const int status = (*lister)->Wait();
    Result<ExtractorListing> listing = ParseExtractorListing(text, most_entries_);
    // A listing cut short, or an archive the extractor could not read to its end, lists what
    // it could: the rest is damage.
    damaged_ = !read.ok() || status != 0 || !listing.ok();
    if (!listing) return;
    entries_ = std::move(listing->entries);
    if (listing->more) unread_ = IncompleteReason::kEntries;
  }

  void Want(std::function<bool(const ArchiveEntry&)> wanted) override {
    wanted_ = std::move(wanted);
  }

  std::optional<ArchiveEntry> NextEntry() override {
    // An entry left part read leaves the run's output inside it: the run cannot go on.
    if (joined_ && !finished_) run_.reset();
    current_.reset();
    joined_ = false;
    if (next_ >= entries_.size()) return std::nullopt;
    current_ = next_++;
    produced_ = 0;
    crc32_ = 0;
    crc16_ = 0;
    finished_ = false;
    failure_.reset();
    return entries_[*current_].entry;
  }

  EntryRead ReadData(void* buffer, size_t length) override {
    if (!current_) return {};
    const ListedEntry& listed = entries_[*current_];
    if (listed.entry.unreadable) return {0, listed.entry.unreadable};
    if (finished_ || length == 0) return {0, failure_};
    if (!joined_ && !JoinRun()) return Finish(IncompleteReason::kResource);
    joined_ = true;
    // The run goes on with other entries: this one ends where its size says.
    const bool last_of_run = run_next_ == run_queue_.size();
    if (!last_of_run) {
      length = static_cast<size_t>(std::min<uint64_t>(length, *listed.entry.size - produced_));
      if (length == 0) return Finish(Whole(listed) ? std::nullopt : Failed());
    }
    Result<size_t> got = run_->Read(buffer, length);
    if (!got) return Finish(Failed());
    if (*got > 0) {
      produced_ += *got;
      const auto* bytes = static_cast<const uint8_t*>(buffer);
      crc32_ = static_cast<uint32_t>(crc32(crc32_, bytes, static_cast<uInt>(*got)));
      crc16_ = UpdateCrc16(crc16_, bytes, *got);
      return {*got, std::nullopt};
    }
    // The extractor stops with an error status where it cannot decode; the check sum it
    // leaves unchecked on a pipe is checked here.
    const int status = last_of_run ? run_->Wait() : -1;
    run_.reset();
    return Finish(status == 0 && Whole(listed) ? std::nullopt : Failed());
  }

  uint64_t PackedBytesRead() const override { return packed_; }
  bool Damaged() const override { return damaged_; }
  std::optional<IncompleteReason> LeftUnread() const override { return unread_; }
  // An entry not wanted is not extracted: passing one over costs nothing.
  bool SkipsCheaply() const override { return true; }

 private:
  // The current entry's place in the run under way, or a new run that starts with it: the
  // later wanted entries join it as long as each entry before them has a size and a check sum,
  // which tell where its bytes end in the run's output and that they are all its own.
  bool JoinRun() {
    const size_t current = *current_;
    packed_ += entries_[current].packed;
    if (run_ && run_next_ < run_queue_.size() && run_queue_[run_next_] == current) {
      ++run_next_;
      return true;
    }
    run_.reset();
    run_queue_ = {current};
    for (size_t later = current + 1; later < entries_.size(); ++later) {
      const ListedEntry& before = entries_[run_queue_.back()];
      const ListedEntry& entry = entries_[later];
      if (!before.entry.size || (!before.crc32 && !before.crc16)) break;
      if (!entry.entry.regular || entry.entry.unreadable || (wanted_ && !wanted_(entry.entry))) {
        continue;
      }
      // The extractor gives its entries in the archive's order, whatever order they are asked in.
      if (entry.index <= before.index) break;
      run_queue_.push_back(later);
    }
    run_next_ = 1;
    std::vector<std::string> arguments = {"-q"};
    arguments.insert(arguments.end(), kCodePage.begin(), kCodePage.end());
    arguments.insert(arguments.end(), {"-o", "-", "-i", ChildInput::kPath});
    for (const size_t queued : run_queue_) {
      arguments.push_back(std::to_string(entries_[queued].index));
    }
    Result<std::unique_ptr<ChildProcess>> child =
        ChildProcess::Start(programs_.extractor, arguments, input_, kRunLimits);
    if (!child) return false;
    run_ = std::move(*child);
    return true;
  }

  bool Whole(const ListedEntry& listed) const {
    return (!listed.entry.size || produced_ == *listed.entry.size) &&
           (!listed.crc32 || *listed.crc32 == crc32_) && (!listed.crc16 || *listed.crc16 == crc16_);
  }

  // An entry that failed leaves the run's output out of step with the entries after it.
  std::optional<IncompleteReason> Failed() {
    run_.reset();
    return IncompleteReason::kDamaged;
  }

  EntryRead Finish(std::optional<IncompleteReason> failure) {
    finished_ = true;
    failure_ = failure;
    return {0, failure};
  }

  std::shared_ptr<File> file_;
  ExtractorPrograms programs_;
  size_t most_entries_;
  std::shared_ptr<ChildInput> input_;
  std::vector<ListedEntry> entries_;
  size_t next_ = 0;
  std::optional<size_t> current_;
  std::function<bool(const ArchiveEntry&)> wanted_;
  // The extractor's run under way: the entries it gives, in order, and the next one's place.
  std::unique_ptr<ChildProcess> run_;
  std::vector<size_t> run_queue_;
  size_t run_next_ = 0;
  bool joined_ = false;  // the current entry's data comes from the run
  uint64_t produced_ = 0;
  uint32_t crc32_ = 0;
  uint16_t crc16_ = 0;
  uint64_t packed_ = 0;
  bool finished_ = false;
  std::optional<IncompleteReason> failure_;
  bool damaged_ = false;
  std::optional<IncompleteReason> unread_;
};

}  // namespace

std::optional<OpenedContainer> ExtractorOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  const std::optional<ContainerKind> kind = RecogniseDosArchive(*file);
  if (!kind) return std::nullopt;
  auto reader = std::make_unique<ExtractorReader>(std::move(file), programs_, most_entries_);
  reader->Start();
  OpenedContainer opened;
  opened.kind = *kind;
  opened.archive = std::move(reader);
  return opened;
}

bool ExtractorOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  return MayBeDosArchive(head, size);
}

}  // namespace quarn

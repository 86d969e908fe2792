#include "shell/scan_session.h"

#include <array>
#include <charconv>

#include "engine/virus_names.h"
#include "shell/display_text.h"

namespace quarn {
namespace {

constexpr int kScannedStatusText = 431;
constexpr int kInfectedStatusText = 432;
constexpr int kTotalStatusText = 433;

std::string LeftOutText(Language language, uint64_t left_out) {
  const std::string count = std::to_string(left_out);
  return language == Language::kEnglish ? "... " + count + " more lines: see the log"
                                        : "... altre " + count + " righe: vedere il log";
}

}  // namespace

ScanSession::ScanSession(const DatabaseImage& signatures, const DatabaseImage& names, ScanLog& log,
                         UserInterface& ui, Language language, ScanOptions options)
    : signatures_(signatures),
      names_(names),
      log_(log),
      ui_(ui),
      language_(language),
      options_(options),
      counter_labels_{LoadText(language, kScannedStatusText),
                      LoadText(language, kInfectedStatusText),
                      LoadText(language, kTotalStatusText)} {
  // The list never grows past its slots, so its lines never move: a front end on another
  // thread may read the lines already shown while the scan appends more.
  result_list_.reserve(kResultListSlots);
}

void ScanSession::AddLine(ResultLine line) {
  line.text = ResultLineText(line.text);
  ++lines_sent_;
  if (lines_sent_ < kResultListSlots) {
    result_list_.push_back(line.text);
  } else {
    const uint64_t left_out = lines_sent_ - (kResultListSlots - 1);
    std::string last = left_out == 1 ? line.text : LeftOutText(language_, left_out);
    if (result_list_.size() < kResultListSlots) {
      result_list_.push_back(std::move(last));
    } else {
      result_list_.back() = std::move(last);
    }
  }
  log_.AppendLine(line.text);
  ui_.AddResultLine(line);
}

void ScanSession::AddTextLine(ResultIcon icon, std::string text) {
  ResultLine line;
  line.icon = icon;
  line.text = std::move(text);
  AddLine(std::move(line));
}

void ScanSession::ShowCounter(StatusPart part) {
  uint64_t count = 0;
  std::string_view label;
  switch (part) {
    case StatusPart::kScanned:
      count = counters_.scanned;
      label = counter_labels_[0];
      break;
    case StatusPart::kInfected:
      count = counters_.infected;
      label = counter_labels_[1];
      break;
    case StatusPart::kTotal:
      count = counters_.total;
      label = counter_labels_[2];
      break;
    case StatusPart::kPath:
      return;
  }
  // Twice for every file: the text is made in one buffer kept for the scan.
  std::array<char, 24> digits;
  const char* end = std::to_chars(digits.data(), digits.data() + digits.size(), count).ptr;
  status_text_.assign(label);
  status_text_.append(digits.data(), static_cast<size_t>(end - digits.data()));
  ui_.SetStatusText(part, status_text_);
}

void ScanSession::StepProgress() {
  progress_ = (progress_ + 1) % (kProgressSteps + 1);
  ui_.SetProgress(progress_);
}

void ScanSession::Reset() {
  progress_ = 0;
  counters_ = ScanCounters{};
  unreadable_tally_ = UnreadableTally{};
  result_list_.clear();
  lines_sent_ = 0;
  stale_copies_.Forget();
  stop_requested_ = false;
}

std::string ScanSession::VirusName(uint32_t virus_id) const {
  if (IsImportedVirusId(virus_id) && imported_ != nullptr) {
    return imported_->NameOf(virus_id - kImportedVirusIdBase);
  }
  return GetVirusName(names_, virus_id);
}

}  // namespace quarn

#include "engine/scan_log.h"

namespace quarn {

bool ScanLog::Open(Folder& folder, std::string_view name) {
  file_.reset();
  const std::string file_name(name);
  auto log = folder.OpenFile(file_name, OpenMode::kAppend);
  if (log) {
    file_ = std::move(log.value());
    return true;
  }
  // The header goes in through an appending handle too: another run may open the new log at
  // once, and a write at offset 0 would cover its first line. When another run created the
  // log first, its header stands and this run only appends.
  const bool created = folder.CreateFile(file_name).ok();
  log = folder.OpenFile(file_name, OpenMode::kAppend);
  if (!log) return false;
  file_ = std::move(log.value());
  if (created) Append(kScanLogHeader);
  return true;
}

void ScanLog::Append(std::string_view text) {
  if (!file_ || text.empty()) return;
  // One write of the whole text: the appending handle puts it after the last byte, whoever
  // wrote that, so lines of runs sharing the log never overlap.
  if (file_->Write(text.data(), static_cast<uint32_t>(text.size())) != text.size()) {
    write_failed_ = true;
  }
}

void ScanLog::AppendLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  Append(line);
}

}  // namespace quarn

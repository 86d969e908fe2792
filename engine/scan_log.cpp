#include "engine/scan_log.h"

namespace quarn {

bool ScanLog::Open(Folder& folder, std::string_view name) {
  file_.reset();
  std::string file_name(name);
  auto existing = folder.OpenFile(file_name, OpenMode::kReadWrite);
  if (existing) {
    file_ = std::move(existing.value());
  } else {
    auto created = folder.CreateFile(file_name);
    if (!created) return false;
    file_ = std::move(created.value());
    file_->Write(kScanLogHeader.data(), static_cast<uint32_t>(kScanLogHeader.size()));
  }
  file_->Seek(0, SeekOrigin::kEnd);
  return true;
}

void ScanLog::Append(std::string_view text) {
  if (!file_ || text.empty()) return;
  // Another program may have appended since; every write lands after the last byte.
  const bool written = file_->Seek(0, SeekOrigin::kEnd).has_value() &&
                       file_->Write(text.data(), static_cast<uint32_t>(text.size())) == text.size();
  if (!written) write_failed_ = true;
}

void ScanLog::AppendLine(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  Append(line);
}

}  // namespace quarn

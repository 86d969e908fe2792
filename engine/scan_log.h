#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/folder.h"

namespace quarn {

inline constexpr std::string_view kScanLogName = "QUARNEXP.LOG";
inline constexpr std::string_view kScanLogHeader = "Quarn Explorer 98 Professional Log\r\n\r\n";

// QUARNEXP.LOG, open for appending (OpenMode::kAppend) for the whole run, so that runs
// writing to it at once keep every line of each whole. A log that could not be opened or
// created swallows every write: the scan goes on without it.
class ScanLog {
 public:
  ScanLog() = default;

  // Opens `name` in `folder` when it exists, else creates it with the header line and an
  // empty line. Either way later writes go after its last byte. False when neither works
  // (a FIFO, a folder or a device of that name is no log: see Folder::OpenFile).
  bool Open(Folder& folder, std::string_view name = kScanLogName);

  bool is_open() const { return file_ != nullptr; }

  // True once a write has failed (a full disk, say); the scan goes on regardless.
  bool write_failed() const { return write_failed_; }

  // Appends the bytes as they are; failures are silent but for write_failed().
  void Append(std::string_view text);
  // Appends the text and CR LF.
  void AppendLine(std::string_view text);

 private:
  std::unique_ptr<File> file_;
  bool write_failed_ = false;
};

}  // namespace quarn

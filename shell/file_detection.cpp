#include "shell/file_detection.h"

#include <array>
#include <span>

#include "platform/read_cache_file.h"

namespace quarn {

FileDetection DetectFileIn(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                           bool heuristics_enabled, const ContainerOpener* opener,
                           ImportedScan imported) {
  auto file = folder.OpenListedFile(name);
  if (!file) {
    FileDetection unopened;
    unopened.failure = file.cause();
    return unopened;
  }
  // The detectors read a few small pieces near the start, the entry and the end: whole
  // blocks of the file serve them all.
  ReadCacheFile cached(**file);
  FileDetection detection;
  detection.opened = true;
  detection.verdict = DetectFile(signatures, cached, heuristics_enabled, imported);
  if (opener != nullptr) {
    // The cache holds the file's head once the detectors have read it: this costs no read.
    std::array<uint8_t, kContainerHeadBytes> head;
    const std::optional<uint64_t> size = cached.Size();
    uint32_t got = 0;
    if (cached.Seek(0, SeekOrigin::kBegin) == 0) got = cached.Read(head.data(), head.size());
    if (size) detection.may_be_container = opener->MayOpen(std::span(head.data(), got), *size);
  }
  return detection;
}

}  // namespace quarn

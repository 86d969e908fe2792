#include "shell/file_detection.h"

#include "platform/read_cache_file.h"

namespace quarn {

FileDetection DetectFileIn(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                           bool heuristics_enabled) {
  auto file = folder.OpenListedFile(name);
  if (!file) return {};
  // The detectors read a few small pieces near the start, the entry and the end: whole
  // blocks of the file serve them all.
  ReadCacheFile cached(**file);
  return {true, DetectFile(signatures, cached, heuristics_enabled)};
}

}  // namespace quarn

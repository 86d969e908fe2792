#include "shell/file_detection.h"

#include <array>
#include <span>

#include "platform/file_reads.h"
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
  // blocks of the file serve them all. The opener may ask for a longer tail, read in the
  // same call, so that it can answer from the cache alone.
  ReadCacheFile::TailReach reach;
  if (opener != nullptr) {
    reach = [opener](std::span<const uint8_t> head, uint64_t size) {
      return opener->TailWanted(head, size);
    };
  }
  ReadCacheFile cached(**file, std::move(reach));
  FileDetection detection;
  detection.opened = true;
  detection.verdict = DetectFile(signatures, cached, heuristics_enabled, imported);
  if (opener != nullptr) {
    const std::optional<uint64_t> size = cached.Size();
    // The detectors have read the head of any file with bytes: this costs no read.
    if (cached.HeadHeld().empty() && cached.Seek(0, SeekOrigin::kBegin) == 0) {
      uint8_t first = 0;
      cached.Read(&first, 1);
    }
    if (size) {
      HeldEnds held{cached.HeadHeld(), cached.TailHeld(), *size};
      if (cached.TailHeldFrom() + held.tail.size() != *size) held.tail = {};
      // A few bytes more, read on the file already open, may spare opening it again. Read
      // past the cache: the few bytes looked at are all that is wanted there, where a block
      // through the cache would copy a page for them.
      std::array<uint8_t, kMostBytesLookedAt> look;
      detection.may_be_container = opener->MayOpenLooking(held, [&](const BytesWanted& wanted) {
        const uint32_t length = std::min<uint32_t>(wanted.length, look.size());
        return std::span<const uint8_t>(look.data(),
                                        ReadFullyAt(**file, wanted.offset, look.data(), length));
      });
    }
  }
  return detection;
}

}  // namespace quarn

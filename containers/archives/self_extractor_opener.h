#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/archives/extractor_opener.h"
#include "containers/archives/lha_opener.h"
#include "containers/archives/libarchive_opener.h"
#include "containers/container.h"

namespace quarn {

// Opens a self-extracting program: a DOS MZ or a PE program followed by a ZIP, ARJ, LHA or
// RAR archive. The archive is looked for only where it lies in such a file, right after the
// program's image (an MZ program's load image as its header's page counts give it; a PE
// program's last section's raw data), and is taken only when its own structure checks out
// from there: a ZIP also by its end record at the file's end and the central directory it
// points to, with offsets counted from the file's start (`zip -A`) or from the archive's.
// Nothing is searched for anywhere else: a program with trailing bytes, or with an archive
// inside its image, is no container. What it opens has `carried_by_program` set.
class SelfExtractorOpener : public ContainerOpener {
 public:
  explicit SelfExtractorOpener(ExtractorPrograms programs = {}) : extractor_(std::move(programs)) {}
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
  bool MayOpenHeld(const HeldEnds& held) const override;
  std::optional<BytesWanted> LookWanted(const HeldEnds& held) const override;

 private:
  LhaOpener lha_;
  ExtractorOpener extractor_;
  LibarchiveOpener libarchive_;
};

}  // namespace quarn

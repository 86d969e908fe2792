#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/container.h"
#include "containers/disks/disk_image_opener.h"
#include "containers/archives/extractor_opener.h"
#include "containers/archives/lha_opener.h"
#include "containers/archives/libarchive_opener.h"
#include "containers/archives/szdd_opener.h"

namespace quarn {

// Every kind of container the scan opens: a file is tried as a disk image first (whose
// structure is the stricter test), then as an LHA archive, an SZDD file, an ARJ or ARC archive,
// then as the archives libarchive reads (whose own LHA reader is left out: liblhasa knows more of
// the format's methods). An image by its first sector alone (a 55 AA mark) is the weakest
// test of all, and yields to any archive the file also is.
class AllContainersOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override {
    std::optional<OpenedContainer> image = images_.Open(file);
    if (image && !image->BootRecordOnly()) return image;
    if (std::optional<OpenedContainer> lha = lha_.Open(file)) return lha;
    if (std::optional<OpenedContainer> szdd = szdd_.Open(file)) return szdd;
    if (std::optional<OpenedContainer> dos = extractor_.Open(file)) return dos;
    if (std::optional<OpenedContainer> archive = archives_.Open(std::move(file))) return archive;
    return image;
  }
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override {
    return images_.MayOpen(head, size) || lha_.MayOpen(head, size) || szdd_.MayOpen(head, size) ||
           extractor_.MayOpen(head, size) || archives_.MayOpen(head, size);
  }

 private:
  DiskImageOpener images_;
  LhaOpener lha_;
  SzddOpener szdd_;
  ExtractorOpener extractor_;
  LibarchiveOpener archives_;
};

}  // namespace quarn

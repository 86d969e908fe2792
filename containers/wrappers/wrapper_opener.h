#pragma once

#include <memory>
#include <optional>

#include "containers/container.h"

namespace quarn {

// Opens disk image wrappers (VHD, VDI, QCOW, VHDX, VMDK, E01, raw CD, cue sheet, and the floppy
// formats IMD, TD0 and CQM): the wrapper's reader turns the file into the disk's sectors, read
// only, and those are opened as a raw image's are (an MBR and its FAT partitions, or one volume;
// a CD's as an ISO 9660 archive). The result names the wrapper (OpenedContainer::wrapper) with
// its own damage; its kind is the disk's, or the wrapper's when no disk can be read. A disk
// holding nothing the image reader knows is still the wrapper's container, with nothing in it.
class WrapperOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  // A VMDK descriptor's extents, an E01's further segments and a cue sheet's file are opened
  // through `siblings`; without it, they are not.
  std::optional<OpenedContainer> OpenWithSiblings(std::shared_ptr<File> file,
                                                  const SiblingOpener& siblings) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
};

}  // namespace quarn

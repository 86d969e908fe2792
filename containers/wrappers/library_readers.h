#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/wrappers/wrapped_disk.h"
#include "platform/file.h"

namespace quarn {

// Wrappers read through the field's libraries, each known by its magic and then by the
// library's own checks: QCOW 1 to 3 (libqcow), VHDX (libvhdi) and VMDK (libvmdk). The library opens
// the very file the scan opened, by its descriptor's name, and never another: an image that needs a
// backing file or a parent is `unsupported`, an encrypted QCOW
// `encrypted`, and so is a file with no descriptor of its own (inside another container), which the
// libraries cannot read. Nothing when the magic is not there or the library refuses the structure.
std::optional<WrappedDisk> ReadQcow(const std::shared_ptr<File>& file);
std::optional<WrappedDisk> ReadVhdx(const std::shared_ptr<File>& file);
// A VMDK's extents other than the file itself are opened through `siblings`, and only so:
// without it (inside a container) such a VMDK is `unsupported`.
std::optional<WrappedDisk> ReadVmdk(const std::shared_ptr<File>& file,
                                    const SiblingOpener& siblings);

bool MayBeQcow(std::span<const uint8_t> head);
bool MayBeVhdx(std::span<const uint8_t> head);
bool MayBeVmdk(std::span<const uint8_t> head);

}  // namespace quarn

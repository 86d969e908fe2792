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
// backing file or a parent is `unsupported`, as is a VMDK other than one file holding its
// descriptor and its one sparse extent (monolithic sparse, stream-optimized), an encrypted QCOW
// `encrypted`, and so is a file with no descriptor of its own (inside another container), which the
// libraries cannot read. Nothing when the magic is not there or the library refuses the structure.
std::optional<WrappedDisk> ReadQcow(const std::shared_ptr<File>& file);
std::optional<WrappedDisk> ReadVhdx(const std::shared_ptr<File>& file);
std::optional<WrappedDisk> ReadVmdk(const std::shared_ptr<File>& file);

bool MayBeQcow(std::span<const uint8_t> head);
bool MayBeVhdx(std::span<const uint8_t> head);
bool MayBeVmdk(std::span<const uint8_t> head);

}  // namespace quarn

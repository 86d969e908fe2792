#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/wrappers/wrapped_disk.h"

namespace quarn {

// A VirtualBox disk image (VDI, header version 1.1), normal or fixed, read through its block
// map. Nothing when the file's header does not check out; a differencing or undo image
// reads nothing (`unsupported`); a map entry past the file's end or over the header or the
// map itself is damage, and its block cannot be read.
std::optional<WrappedDisk> ReadVdi(const std::shared_ptr<BlockDevice>& file);

// Whether a file that starts with `head` may be a VDI.
bool MayBeVdi(std::span<const uint8_t> head);

}  // namespace quarn

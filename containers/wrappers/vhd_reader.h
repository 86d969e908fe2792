#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/wrappers/wrapped_disk.h"

namespace quarn {

// A Virtual PC disk (VHD), fixed or dynamic, known by its footer's cookie and check sum: a
// fixed disk is the bytes before its footer, a dynamic one is read through its block
// allocation table. Nothing when no footer checks out; a differencing disk reads nothing
// (`unsupported`: its parent is never opened, nor its locators read); a table entry past the
// file's end or over the file's own structure is damage, and its block cannot be read.
std::optional<WrappedDisk> ReadVhd(const std::shared_ptr<BlockDevice>& file);

// Whether a file that starts with `head` may be a dynamic VHD (its footer's
// copy starts it); a fixed one shows nothing at its start.
bool MayBeDynamicVhd(std::span<const uint8_t> head);

}  // namespace quarn

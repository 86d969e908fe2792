#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/wrappers/wrapped_disk.h"
#include "platform/file.h"

namespace quarn {

// A raw CD image (a `.BIN`): 2352-byte sectors, each a sync pattern, a header and, in mode 1
// and mode 2 form 1, 2048 bytes of user data, at 16 and 24 bytes in. Known by its size, a
// whole number of sectors, and by an ISO 9660 volume descriptor in the user data of sector
// 16, whose mode every sector is read in. Nothing otherwise.
std::optional<WrappedDisk> ReadCdRaw(const std::shared_ptr<BlockDevice>& file);

// Whether a file that starts with `head` may be a raw CD image: its first sector's sync.
bool MayBeCdRaw(std::span<const uint8_t> head);

// The user data as a file, read only, for the ISO 9660 reader.
std::shared_ptr<File> UserDataFile(std::shared_ptr<BlockDevice> disk);

}  // namespace quarn

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

// A cue sheet (a `.CUE`) and the one file its FILE line names, opened through `siblings` and
// read in the mode its first track gives (MODE1/2352, MODE2/2352, MODE1/2048). `unsupported`
// when it names another file, several, or a name that `siblings` refuses (none inside a
// container); `damaged` when that file holds no ISO 9660 volume there. Nothing when `file` is
// no cue sheet.
std::optional<WrappedDisk> ReadCueSheet(const std::shared_ptr<File>& file,
                                        const SiblingOpener& siblings);

// Whether a file that starts with `head` may be a raw CD image: its first sector's sync.
bool MayBeCdRaw(std::span<const uint8_t> head);

// The user data as a file, read only, for the ISO 9660 reader.
std::shared_ptr<File> UserDataFile(std::shared_ptr<BlockDevice> disk);

}  // namespace quarn

#pragma once

#include <memory>
#include <optional>

#include "containers/wrappers/wrapped_disk.h"
#include "platform/file.h"

namespace quarn {

// A preservation floppy image (ImageDisk, TeleDisk with or without its advanced compression,
// CopyQM) read through libdsk: the floppy's sectors in logical order (cylinder, head, sector)
// as its boot sector's geometry gives them, read only. libdsk reads a sealed copy of the
// file in memory, with its driver and its compression named, so it never guesses a format,
// writes a temporary file, starts a process or opens a name the image holds; it is given only
// images whose records check out. A sector the image lacks or holds with a bad check sum
// cannot be read (reads stop short before it) and the wrapper is `damaged`; so is an image
// whose records break off or lie about their sizes, which yields no disk at all. Nothing
// when the file is no such image.
std::optional<WrappedDisk> ReadFloppy(const std::shared_ptr<File>& file);

}  // namespace quarn

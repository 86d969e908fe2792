#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "containers/container.h"
#include "platform/file.h"

namespace quarn {

// Whether `file` is an ARJ or an ARC/PAK archive by its structure, read from its first byte
// on (a self-extracting program, whose archive lies past its own code, stays a program):
// an ARJ's main header must have its id, a sane size, its own CRC-32 and the main header's
// file type; an ARC's first entry header its mark, a method ARC or PAK knows, a name of
// printable characters ended within its 13 bytes, and packed data that ends inside the file
// where another header's mark follows.
std::optional<ContainerKind> RecogniseDosArchive(File& file);

// What the first bytes alone tell, for a scan's quick look: false only where
// RecogniseDosArchive would give nothing.
bool MayBeDosArchive(std::span<const uint8_t> head, uint64_t size);

}  // namespace quarn

#pragma once

// For tests: a raw floppy image put in the preservation formats, as the tools of the time
// wrote them. dsktrans writes the plain ones from a file; these are for the fuzz seeds, for
// the hostile cases built byte by byte, and for TeleDisk's advanced compression, which
// dsktrans does not write.
#include <cstdint>
#include <span>
#include <vector>

namespace quarn::testing {

struct FloppyShape {
  uint32_t cylinders = 40;
  uint32_t heads = 1;
  uint32_t sectors = 8;  // per track, numbered from 1, 512 bytes each
};

// ImageDisk: a sector of one repeated byte is stored as that byte, the others whole.
std::vector<uint8_t> ImdImage(std::span<const uint8_t> raw, FloppyShape shape);
// TeleDisk, every sector stored raw.
std::vector<uint8_t> Td0Image(std::span<const uint8_t> raw, FloppyShape shape);
// CopyQM: the sectors in literal runs, no data check sum (as the first versions wrote).
std::vector<uint8_t> CqmImage(std::span<const uint8_t> raw, FloppyShape shape);

// A plain TeleDisk file ("TD") with its advanced compression ("td"): after the header, every
// byte a literal or, where a byte repeats, a match of the byte before.
std::vector<uint8_t> PackTeleDisk(std::span<const uint8_t> plain);

}  // namespace quarn::testing

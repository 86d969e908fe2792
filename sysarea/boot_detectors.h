#pragma once

#include <cstdint>
#include <span>

#include "engine/database_image.h"
#include "platform/system_access.h"

namespace quarn {

// A master boot record or a boot sector as read from the disk.
using SectorView = std::span<const uint8_t, kSectorSize>;

// VirusIds of the loader tracer, which needs no record.
inline constexpr uint32_t kBootLoaderCopyToBootAreaId = 846;
inline constexpr uint32_t kBootLoaderCopyPastBootAreaId = 847;

// Every function here is pure: it reads the sector and, where named, the signature image,
// allocates nothing and never reads outside either. Detectors share the scan engine's
// protocol: an exact match sets `*variant_flag` to 0 and returns its VirusId; a partial one
// sets it to 1; finding nothing returns 0 and leaves the flag as it was.

// Where the loader's code starts: 2 + byte 1 after a short jump (EB), 3 + the word at byte 1
// after a near jump (E9), else 0. The result may lie past the sector (up to 0x10002).
uint32_t FollowEntryJump(SectorView sector);

// Walks the pattern records of section 14 (boot sectors, 19-byte records whose last byte
// asks for offsets from FollowEntryJump) when `directory_offset` is that section's, else of
// a section of 18-byte records counted from the sector's first byte (15, master boot
// records). 8 pattern bytes make a partial match, the last one found winning; 4
// confirmation bytes more make it exact and end the walk. Bytes that would lie past the
// sector never match.
uint32_t MatchSectorPatterns(const DatabaseImage& signatures, SectorView sector,
                             uint16_t* variant_flag, uint16_t directory_offset);

// Walks the subsequence records (section 16): a record matches, exactly, when its first
// `required` pattern bytes occur in order, anything between, in the sector's first 100
// bytes. A record that requires 0 or more than its 12 bytes never matches. Never partial.
uint32_t MatchSectorSubsequence(const DatabaseImage& signatures, SectorView sector,
                                uint16_t* variant_flag, uint16_t directory_offset);

// Follows the register loads of the first 30 bytes of loader code up to its disk call
// (INT 13h, or a far call through memory) and recognises the two ways a boot virus reads
// the original sector it moved aside: kBootLoaderCopyToBootAreaId or
// kBootLoaderCopyPastBootAreaId, both exact.
uint32_t TraceBootLoader(SectorView sector, uint16_t* variant_flag);

// The detector chains: master boot records through sections 15 and 16 and the tracer, boot
// sectors through section 14 and the tracer. A partial match stands only if no later
// detector answers 0, so in practice both chains report exact matches or nothing.
uint32_t DetectMbrVirus(const DatabaseImage& signatures, SectorView sector, uint16_t* variant_flag);
uint32_t DetectBootSectorVirus(const DatabaseImage& signatures, SectorView sector,
                               uint16_t* variant_flag);

// 1 when the loader code behaves like a boot virus (it lowers the DOS memory size at
// 0:0413, reads the boot area to 7C00 or above, or jumps to a segment it computed with a
// shift by 6), else 0. `signatures` is accepted for the scan's calling convention and not
// read. Looks at no code that starts more than 510 bytes into the sector.
int CheckBootHeuristics(const DatabaseImage& signatures, SectorView sector);

}  // namespace quarn

#pragma once

#include <array>
#include <cstdint>

#include "platform/file.h"

namespace quarn {

// What the code at a file's entry prepares to do, one bit per kind of action; bits are only
// ever added during a walk.
using BehaviourMask = uint16_t;

inline constexpr BehaviourMask kReadsFile = 0x0001;
inline constexpr BehaviourMask kClosesFile = 0x0002;
inline constexpr BehaviourMask kWritesFile = 0x0004;
inline constexpr BehaviourMask kOpensForWriting = 0x0008;  // or reaches DOS file structures
inline constexpr BehaviourMask kMovesFilePointer = 0x0010;
inline constexpr BehaviourMask kFileDateTime = 0x0020;
inline constexpr BehaviourMask kFindsFirst = 0x0040;
inline constexpr BehaviourMask kFindsNext = 0x0080;
inline constexpr BehaviourMask kHooksDos = 0x0100;
inline constexpr BehaviourMask kDiskTransferArea = 0x0200;
inline constexpr BehaviourMask kOpensFile = 0x0400;
inline constexpr BehaviourMask kTestsInfectionMarker = 0x0800;

inline constexpr uint32_t kComHeaderReadSize = 512;

// The entry of a program without an "MZ" header: where its first short jump, near jump or
// near call lands, else offset 0. Reads 512 bytes at offset 0 into `buffer`, which is
// cleared first so that a short file leaves zeros. Sets `*entry_position`; result always 0.
int LocateComEntry(File& file, std::array<uint8_t, kComHeaderReadSize>& buffer,
                   uint32_t* entry_position);

// Walks the 16-bit code at `entry_position` (one read of at most 1792 bytes) and collects
// the DOS services, vector changes and infection-marker tests it sets up. Calls and the
// short jumps EB and 75 are stepped over, never followed, so the walk is one linear pass.
// A file shorter than its entry gives 0.
BehaviourMask CollectBehaviourMask(File& file, uint32_t entry_position);

}  // namespace quarn

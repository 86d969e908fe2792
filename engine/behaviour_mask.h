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

// The code the walk steps through: at most 1792 bytes read from the entry, with cleared
// room behind them so an instruction starting at the last byte read finds zeros after it.
struct EntryCode {
  std::array<uint8_t, 4096> bytes{};
  uint32_t read = 0;  // bytes the file delivered
};

// One read of the code at `entry_position`; a file shorter than its entry gives no bytes.
EntryCode ReadEntryCode(File& file, uint32_t entry_position);

// Walks the 16-bit code and collects the DOS services, vector changes and infection-marker
// tests it sets up. Calls and the short jumps EB and 75 are stepped over, never followed, so
// the walk is one linear pass.
BehaviourMask WalkBehaviourMask(const EntryCode& code);

// Every bit the walk could find, and maybe more: the services set up at any position, not
// only where the walk's instructions start, and always the marker bit. A search for two
// opcodes instead of a step per instruction, so most files are settled without the walk:
// WalkBehaviourMask(code) never has a bit this lacks.
BehaviourMask PossibleBehaviourMask(const EntryCode& code);

// ReadEntryCode and WalkBehaviourMask together. A file shorter than its entry gives 0.
BehaviourMask CollectBehaviourMask(File& file, uint32_t entry_position);

}  // namespace quarn

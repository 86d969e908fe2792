#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "engine/database_image.h"
#include "engine/result_line.h"
#include "engine/user_interface.h"
#include "platform/system_access.h"
#include "res/message_table.h"

namespace quarn {

// Memory is read in windows of 0xFFFF bytes (not 0x10000) from offset 0 of a segment.
inline constexpr size_t kMemoryWindowSize = 0xFFFF;

// The segments of one record's search, in order. Every record reads the first
// kLowMemoryWindowCount (conventional memory, then 0xB000; 0xA000 is never read); a record
// with the upper-memory flag reads them all.
inline constexpr uint16_t kMemoryWindowSegments[] = {0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000,
                                                     0x6000, 0x7000, 0x8000, 0x9000, 0xB000, 0xC000,
                                                     0xD000, 0xE000, 0xF000, 0xFFFF};
inline constexpr size_t kLowMemoryWindowCount = 11;

// MemoryPatternRecord (section 28, 20 bytes) field offsets. Bytes 12–13 are not read.
inline constexpr size_t kMemoryPatternField = 0;  // 12 bytes; the first is the search key
inline constexpr size_t kMemoryPatternLength = 12;
inline constexpr size_t kMemoryVirusIdField = 14;        // u16
inline constexpr size_t kMemoryUpperFlagField = 16;      // u8, nonzero: also 0xC000 to 0xFFFF
inline constexpr size_t kMemoryConfirmOffsetField = 17;  // u8, from the first pattern byte
inline constexpr size_t kMemoryConfirmWordField = 18;    // u16

// MemoryNameRecord (section 30, 30 bytes) field offsets.
inline constexpr size_t kMemoryNameIdField = 0;  // u16 VirusId
inline constexpr size_t kMemoryNameField = 2;
inline constexpr size_t kMemoryNameLength = 28;

// Two of these right after the pattern mark it as data rather than resident code (a
// signature table in memory): such a hit is ignored.
inline constexpr uint8_t kMemoryPatternCancelByte = 0xFF;

struct MemoryPattern {
  std::array<uint8_t, kMemoryPatternLength> bytes{};
  uint16_t virus_id = 0;
  bool upper_memory = false;
  uint8_t confirm_offset = 0;
  uint16_t confirm_word = 0;
};

// Decodes a MemoryPatternRecord; fields a shorter span does not hold read as 0.
MemoryPattern ParseMemoryPattern(std::span<const uint8_t> record);

// The first position p of `window` where the pattern's 12 bytes stand, the two bytes at
// p + 12 are not both 0xFF and the word at p + confirm_offset equals the confirmation word.
// Every byte those three tests look at must lie inside the window: a hit whose tests reach
// past its end is no match. Reads nothing outside `window`; never allocates.
std::optional<size_t> FindMemoryPattern(std::span<const uint8_t> window,
                                        const MemoryPattern& pattern);

// The program-wide name of the virus found in memory: 28 name bytes and a final zero the
// scan never writes, so the name always ends. Start-up owns it and zero-fills it once; a
// found virus without a name record leaves it as it was.
using MemoryNameBuffer = std::array<uint8_t, kMemoryNameLength + 1>;

// The buffer's bytes up to its first zero.
std::string MemoryNameText(const MemoryNameBuffer& buffer);

// Where the scan's lines and progress go. Start-up passes the scan core's line store (which
// stores, logs and then shows each line) and the front end's SetProgress.
struct MemoryScanOutput {
  std::function<void(ResultLine)> add_line;
  // The bar's position, 0 to kProgressSteps.
  std::function<void(int position)> set_progress;
};

struct MemoryScanResult {
  uint16_t virus_id = 0;  // 0: memory is clean
  std::string name;       // the name buffer's text when a virus was found, else empty
};

// Searches DOS memory through `memory.CopyMemDos` for the patterns of section 28, record by
// record in stored order, each record reading the windows of kMemoryWindowSegments from the
// first; the first hit ends the whole search. The found virus's name comes from section 30
// into `name`; the name image is not used.
//
// Lines: text 21 first, then "OK" (clean) or text 22 followed by the name, with the virus
// icon; the found line is a detection with the id and name and no path. Progress: the bar
// is set to 0, then steps once per record searched without a hit, over a range of the
// records of the section's first block, scaled to 0–kProgressSteps; a step past the end
// starts the bar again from 0. A record whose VirusId is 0 names no virus: it is not
// searched, only stepped over.
//
// Windows the platform knows to hold only zeros (SystemAccess::DosMemoryIsZero, asked once
// per window at the start) are not copied: each record is tested against zeros directly,
// with the same result, lines and progress as if they had been read.
//
// Allocates one window buffer per call and nothing per window.
MemoryScanResult ScanMemory(const DatabaseImage& signatures, SystemAccess& memory,
                            Language language, MemoryNameBuffer& name,
                            const MemoryScanOutput& output);

}  // namespace quarn

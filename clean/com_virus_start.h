#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/file.h"

namespace quarn {

// How many host bytes a COM cleaning record may have saved: at least the near jump the
// infection put in their place, at most one work buffer.
inline constexpr uint32_t kMinSavedBytes = 3;
inline constexpr uint32_t kMaxSavedBytes = 4096;

// The fields ComCleanRecord and EncryptedComCleanRecord share (bytes 0–11).
struct ComCleanFields {
  uint16_t saved_offset = 0;    // where the host's first bytes lie, from the virus start
  uint16_t saved_length = 0;    // n, how many of them were saved
  uint16_t virus_length = 0;    // bytes cut from the end of the file
  uint16_t entry_distance = 0;  // from the virus start to its entry, for a file starting E9
  uint16_t end_distance = 0;    // from the virus start to the end of the file, otherwise
};

// The shared fields of `record`; nothing when it is shorter than 12 bytes or saves fewer
// than kMinSavedBytes or more than kMaxSavedBytes bytes, which no detected infection has.
std::optional<ComCleanFields> ReadComCleanFields(std::span<const uint8_t> record);

// Where the appended virus begins in `file` of `file_size` bytes. A file whose first byte
// is E9 (a near jump) leads to the virus entry, the jump's target: the unsigned displacement
// in bytes 1–2 plus 3; the virus starts the entry distance before it. Any other file has the
// virus at the end distance before its end. Nothing when the file's first 3 bytes cannot be
// read or the distance reaches before the start of the file.
std::optional<uint64_t> LocateComVirusStart(File& file, const ComCleanFields& fields,
                                            uint64_t file_size);

}  // namespace quarn

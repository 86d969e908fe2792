#pragma once

#include <array>
#include <cstdint>

namespace quarn {

inline constexpr uint32_t kDetectorBufferSize = 512;

// The working state one detector chain keeps for one file and hands to every detector:
// zero-filled when the chain starts on a file.
struct DetectorState {
  // The start of the file: the DOS header, and the header size in bytes at bytes 24–25.
  std::array<uint8_t, kDetectorBufferSize> header_buffer{};
  // Bytes 0–15: code at the entry; bytes 18–33: scratch for confirmation reads.
  std::array<uint8_t, kDetectorBufferSize> entry_code_buffer{};
  // The file offset the detectors measure from.
  uint32_t entry_position = 0;
};

}  // namespace quarn

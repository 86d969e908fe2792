#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// The four byte operations applied to every stored byte of QUARN.DAT and NAMEVIR.DAT.
inline constexpr uint8_t kDescrambleAdd = 0x3B;
inline constexpr uint8_t kDescrambleXor1 = 0x9C;
inline constexpr uint8_t kDescrambleSubtract = 0x51;
inline constexpr uint8_t kDescrambleXor2 = 0xE7;

// Turns stored bytes into image bytes, in place.
void Descramble(uint8_t* buffer, size_t length);

// The inverse of Descramble: what the database compiler writes.
void Scramble(uint8_t* buffer, size_t length);

}  // namespace quarn

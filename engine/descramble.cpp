#include "engine/descramble.h"

namespace quarn {

void Descramble(uint8_t* buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = static_cast<uint8_t>(buffer[i] + kDescrambleAdd);
    b ^= kDescrambleXor1;
    b = static_cast<uint8_t>(b - kDescrambleSubtract);
    buffer[i] = b ^ kDescrambleXor2;
  }
}

void Scramble(uint8_t* buffer, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    uint8_t b = buffer[i] ^ kDescrambleXor2;
    b = static_cast<uint8_t>(b + kDescrambleSubtract);
    b ^= kDescrambleXor1;
    buffer[i] = static_cast<uint8_t>(b - kDescrambleAdd);
  }
}

}  // namespace quarn

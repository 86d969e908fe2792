#include "engine/descramble.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarn {
namespace {

TEST(Descramble, HandComputedBytes) {
  // 0x00: +3B = 3B, ^9C = A7, -51 = 56, ^E7 = B1
  // 0xFF: +3B = 3A (wraps), ^9C = A6, -51 = 55, ^E7 = B2
  // 0xC5: +3B = 00 (wraps), ^9C = 9C, -51 = 4B, ^E7 = AC
  // 0x10: +3B = 4B, ^9C = D7, -51 = 86, ^E7 = 61
  std::vector<uint8_t> bytes = {0x00, 0xFF, 0xC5, 0x10};
  Descramble(bytes.data(), bytes.size());
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0xB1, 0xB2, 0xAC, 0x61}));
}

}  // namespace
}  // namespace quarn

#include "clean/macro_filler.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

constexpr uint8_t kHead[] = {0x01, 0x00, 0x64, 0x1B, 0x69, 0x04, 0x4D,
                             0x41, 0x49, 0x4E, 0x64, 0x1A, 0x1B, 0x64};

TEST(MacroFiller, HeadThenPaddingInClearForKeyZero) {
  const MacroFiller filler = BuildMacroFiller(0);
  for (size_t i = 0; i < filler.size(); ++i) {
    EXPECT_EQ(filler[i], i < sizeof kHead ? kHead[i] : 0x64) << i;
  }
  EXPECT_EQ(std::string(filler.begin() + 6, filler.begin() + 10), "MAIN");
}

TEST(MacroFiller, EveryByteIsEncipheredWithTheKey) {
  for (uint8_t key : {0x20, 0x64, 0xFF}) {
    const MacroFiller filler = BuildMacroFiller(key);
    for (size_t i = 0; i < filler.size(); ++i) {
      EXPECT_EQ(filler[i], (i < sizeof kHead ? kHead[i] : 0x64) ^ key) << i;
    }
  }
  EXPECT_EQ(BuildMacroFiller(0x20)[100], 0x44);
}

}  // namespace
}  // namespace quarn

#include "clean/macro_filler.h"

#include <algorithm>

namespace quarn {
namespace {

constexpr uint8_t kFillerHead[] = {0x01, 0x00, 0x64, 0x1B, 0x69, 0x04, 'M',
                                   'A',  'I',  'N',  0x64, 0x1A, 0x1B, 0x64};
constexpr uint8_t kFillerPadding = 0x64;

}  // namespace

MacroFiller BuildMacroFiller(uint8_t key) {
  MacroFiller filler;
  filler.fill(kFillerPadding);
  std::copy(std::begin(kFillerHead), std::end(kFillerHead), filler.begin());
  for (uint8_t& byte : filler) byte ^= key;
  return filler;
}

}  // namespace quarn

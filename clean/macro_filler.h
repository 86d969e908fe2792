#pragma once

#include <array>
#include <cstdint>

namespace quarn {

inline constexpr uint32_t kMacroFillerSize = 512;

// The bytes written over a Word macro's stored text: a fixed 14-byte head (bytes 6–9 spell
// "MAIN") and 0x64 up to 512 bytes, enciphered with the macro's key byte the way the document
// stores its texts, so the document reads back a harmless macro instead of the virus.
using MacroFiller = std::array<uint8_t, kMacroFillerSize>;

// The filler for a macro whose entry holds `key`; key 0 leaves it in clear.
MacroFiller BuildMacroFiller(uint8_t key);

}  // namespace quarn

#include "platform/text_encoding.h"

#include <array>

namespace quarn {
namespace {

// The upper half of code page 437.
constexpr std::array<uint16_t, 128> kUpperHalf = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

// What DOS showed for the control bytes.
constexpr std::array<uint16_t, 32> kControlGlyphs = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
};

constexpr uint32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit < 0xDC00;
}
bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit < 0xE000;
}

}  // namespace

size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t* code_point) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 1;
  uint32_t value = lead;
  uint32_t least = 0;
  if (lead < 0x80) {
    // ASCII: the sequence is the byte.
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) return 0;
  if (code_point != nullptr) *code_point = value;
  return length;
}

void AppendUtf8(std::string& out, uint32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code_point >> 6));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code_point >> 12));
    out.push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code_point >> 18));
    out.push_back(static_cast<char>(0x80 | (code_point >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

std::string RepairUtf8(std::string_view text) {
  std::string repaired;
  repaired.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    const size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      AppendUtf8(repaired, kReplacement);
      ++at;
    } else {
      repaired.append(text.substr(at, length));
      at += length;
    }
  }
  return repaired;
}

std::string Utf16ToUtf8(std::span<const uint16_t> units, uint32_t lone_surrogate) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    const uint32_t unit = units[i];
    if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00u));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, lone_surrogate);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

std::optional<std::vector<uint16_t>> Utf8ToUtf16(std::string_view text) {
  std::vector<uint16_t> units;
  for (size_t at = 0; at < text.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceAt(text, at, &code_point);
    if (length == 0) return std::nullopt;
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      units.push_back(static_cast<uint16_t>(0xD800 | code_point >> 10));
      units.push_back(static_cast<uint16_t>(0xDC00 | (code_point & 0x3FF)));
    } else {
      units.push_back(static_cast<uint16_t>(code_point));
    }
    at += length;
  }
  return units;
}

std::string CodePage437ToUtf8(std::span<const uint8_t> bytes) {
  std::string out;
  for (uint8_t byte : bytes) {
    if (byte >= 0x80) {
      AppendUtf8(out, kUpperHalf[byte - 0x80]);
    } else if (byte < 0x20) {
      AppendUtf8(out, kControlGlyphs[byte]);
    } else {
      out.push_back(static_cast<char>(byte));
    }
  }
  return out;
}

size_t ControlCharacterLength(std::string_view text, size_t at) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  if (lead < 0x20 || lead == 0x7F) return 1;
  if (lead == 0xC2 && at + 1 < text.size()) {
    const uint8_t next = static_cast<uint8_t>(text[at + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

bool IsControlCharacter(uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0) || code_point == 0x2028 ||
         code_point == 0x2029;
}

}  // namespace quarn

// Each reading and writing of text against tables of well-formed and ill-formed input.
#include "platform/text_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(TextEncoding, Utf8SequencesAreWholeOrRefused) {
  const struct {
    std::string text;
    size_t at;
    size_t length;
    uint32_t code_point;
  } cases[] = {
      {"A", 0, 1, 'A'},
      {std::string("\0", 1), 0, 1, 0},  // NUL is a character like any other
      {"x\xC3\xA9", 1, 2, 0xE9},
      {"\xE2\x82\xAC", 0, 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 0, 4, 0x1F600},
      {"\xF4\x8F\xBF\xBF", 0, 4, 0x10FFFF},  // the last code point
      {"\x80", 0, 0, 0},                     // a continuation byte cannot lead
      {"\xFF", 0, 0, 0},
      {"\xC3", 0, 0, 0},  // cut short by the end of the text
      {"\xE2\x82", 0, 0, 0},
      {"\xC3x", 0, 0, 0},     // cut short by a byte that does not continue it
      {"\xC0\xAF", 0, 0, 0},  // overlong forms
      {"\xE0\x80\xAF", 0, 0, 0},
      {"\xF0\x80\x80\xAF", 0, 0, 0},
      {"\xED\xA0\x80", 0, 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0, 0},  // beyond U+10FFFF
  };
  for (const auto& c : cases) {
    uint32_t code_point = 0;
    EXPECT_EQ(Utf8SequenceAt(c.text, c.at, &code_point), c.length)
        << ::testing::PrintToString(c.text);
    EXPECT_EQ(code_point, c.code_point) << ::testing::PrintToString(c.text);
    if (c.at == 0) {
      EXPECT_EQ(Utf8ToUtf16(c.text).has_value(), c.length != 0) << ::testing::PrintToString(c.text);
    }
  }
}

TEST(TextEncoding, RepairKeepsValidTextAndReplacesEachBadByte) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"C:\\DOS\\EICAR.COM", "C:\\DOS\\EICAR.COM"},
      {"perch\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "perch\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\xE9t\xE9", kFffd + "t" + kFffd},                // Latin-1 bytes
      {"\xE2\x82", kFffd + kFffd},                       // cut short, one per byte
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},           // a surrogate
      {"\x80x", kFffd + "x"},                            // a lone continuation byte
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // NUL is valid UTF-8
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(RepairUtf8(input), expected) << testing::PrintToString(input);
  }
}

TEST(TextEncoding, Utf16PairsAreOneCodePointAndLoneHalvesAreReplaced) {
  const struct {
    std::vector<uint16_t> units;
    std::string utf8;
  } cases[] = {
      {{'A', 0xE9, 0x20AC}, "A\xC3\xA9\xE2\x82\xAC"},
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
      {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
      {{0xD83D, 'x'}, kFffd + "x"},  // a high half without its low half
      {{0xD83D}, kFffd},
      {{0xDE00, 0xD83D}, kFffd + kFffd},  // halves in the wrong order
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf16ToUtf8(c.units), c.utf8) << ::testing::PrintToString(c.units);
    if (c.utf8.find(kFffd) == std::string::npos) {
      EXPECT_EQ(Utf8ToUtf16(c.utf8), c.units);
    }
  }
  const std::vector<uint16_t> lone = {'a', 0xDC00};
  EXPECT_EQ(Utf16ToUtf8(lone, '?'), "a?");
}

TEST(TextEncoding, CodePage437ShowsWhatDosShowed) {
  const std::vector<uint8_t> bytes = {'A', 0x01, 0x1F, 0x80, 0xE1, 0xFF};
  EXPECT_EQ(CodePage437ToUtf8(bytes),
            "A\xE2\x98\xBA\xE2\x96\xBC\xC3\x87\xC3\x9F\xC2\xA0");  // ☺ ▼ Ç ß no-break space
}

TEST(TextEncoding, ControlCharactersAreFoundByBothRules) {
  EXPECT_EQ(ControlCharacterLength("\x1B", 0), 1u);
  EXPECT_EQ(ControlCharacterLength("\x7F", 0), 1u);
  EXPECT_EQ(ControlCharacterLength("\xC2\x85", 0), 2u);  // NEL
  EXPECT_EQ(ControlCharacterLength("\xC2\xA0", 0), 0u);
  for (uint32_t control : {0x00u, 0x1Fu, 0x7Fu, 0x85u, 0x9Fu, 0x2028u, 0x2029u}) {
    EXPECT_TRUE(IsControlCharacter(control)) << control;
  }
  for (uint32_t shown : {0x20u, 0x7Eu, 0xA0u, 0x2027u, 0x1F600u}) {
    EXPECT_FALSE(IsControlCharacter(shown)) << shown;
  }
}

}  // namespace
}  // namespace quarn

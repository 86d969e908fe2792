#include "engine/utf8_sequence.h"

#include <gtest/gtest.h>

#include <string>

namespace quarn {
namespace {

TEST(WellFormedUtf8Length, CountsWholeSequencesAndRefusesEveryIllFormedOne) {
  const struct {
    std::string text;
    size_t at;
    size_t length;
  } cases[] = {
      {"A", 0, 1},
      {std::string("\0", 1), 0, 1},  // NUL is a character like any other
      {"x\xC3\xA9", 1, 2},
      {"\xE2\x82\xAC", 0, 3},
      {"\xF0\x9F\x98\x80", 0, 4},
      {"\xF4\x8F\xBF\xBF", 0, 4},  // U+10FFFF, the last code point
      {"\x80", 0, 0},              // a continuation byte cannot lead
      {"\xFF", 0, 0},
      {"\xC3", 0, 0},  // cut short by the end of the text
      {"\xE2\x82", 0, 0},
      {"\xC3x", 0, 0},     // cut short by a byte that does not continue it
      {"\xC0\xAF", 0, 0},  // overlong forms
      {"\xE0\x80\xAF", 0, 0},
      {"\xF0\x80\x80\xAF", 0, 0},
      {"\xED\xA0\x80", 0, 0},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 0},  // beyond U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WellFormedUtf8Length(c.text, c.at), c.length) << ::testing::PrintToString(c.text);
  }
}

}  // namespace
}  // namespace quarn

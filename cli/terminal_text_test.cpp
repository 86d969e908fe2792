#include "cli/terminal_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(TerminalSafeText, ControlCharactersCannotReachTheTerminal) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C:\\DOS\\A.COM", "C:\\DOS\\A.COM"},
      {"a\nb\rc\td", "a?b?c?d"},
      {"\x1b[2J", "?[2J"},  // ESC: clear the screen
      {"x\x7Fy", "x?y"},    // DEL
      {"x\xC2\x9B"
       "1m",
       "x?1m"},                      // U+009B, the one-character CSI
      {"x\xC2\xA0y", "x\xC2\xA0y"},  // U+00A0 is printable
      {"perch\xC3\xA9", "perch\xC3\xA9"},
      {"b\xFF", "b\xEF\xBF\xBD"},  // not UTF-8
      {std::string("a\0b", 3), "a?b"},
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(TerminalSafeText(input), expected) << testing::PrintToString(input);
  }
}

// Widths are the columns a terminal draws: CJK and most emoji take two, combining marks none.
TEST(TerminalColumns, CountAndCutByDrawnWidthWithoutSplittingACharacter) {
  const std::string kJapanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three wide characters
  const std::string kAccentedE = "e\xCC\x81";  // e and a combining acute accent
  const std::string kGrin = "\xF0\x9F\x98\x80";
  const std::string kHangul = "\xED\x95\x9C";
  const std::string kFullwidthA = "\xEF\xBC\xA1";
  EXPECT_EQ(CountColumns("a\xC3\xA9"), 2u);
  EXPECT_EQ(CountColumns(kJapanese), 6u);
  EXPECT_EQ(CountColumns(kAccentedE), 1u);
  EXPECT_EQ(CountColumns(kGrin + kHangul + kFullwidthA), 6u);
  EXPECT_EQ(CountColumns("\xE2\x80\x8B"), 0u) << "zero width space";

  EXPECT_EQ(FitColumns("abcdef", 4), "abcd");
  EXPECT_EQ(FitColumns("abc", 4), "abc");
  EXPECT_EQ(FitColumns("abc", 0), "");
  EXPECT_EQ(FitColumns("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FitColumns(kJapanese, 5), kJapanese.substr(0, 6)) << "the third would straddle";
  EXPECT_EQ(FitColumns("a" + kGrin + "b", 2), "a");
  EXPECT_EQ(FitColumns(kAccentedE + "x", 1), kAccentedE) << "the mark goes with its letter";

  EXPECT_EQ(FitColumnsKeepingEnd("C:\\DOS", 6), "C:\\DOS");
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\DOS\\UTIL", 8), "...\\UTIL");
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\\xC3\xA9\xC3\xA9\xC3\xA9", 5), "...\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\" + kJapanese, 8), "..." + kJapanese.substr(3));
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\" + kJapanese, 6), "..." + kJapanese.substr(6));
  EXPECT_EQ(FitColumnsKeepingEnd("abc" + kAccentedE + "xy", 5), "...xy") << "no lone mark";
  EXPECT_EQ(FitColumnsKeepingEnd("abcdef", 2), "..");
}

}  // namespace
}  // namespace quarn

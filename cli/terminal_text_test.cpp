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

TEST(FitColumns, CutsWholeCharactersOnly) {
  EXPECT_EQ(FitColumns("abcdef", 4), "abcd");
  EXPECT_EQ(FitColumns("abc", 4), "abc");
  EXPECT_EQ(FitColumns("abc", 0), "");
  EXPECT_EQ(FitColumns("\xC3\xA9\xC3\xA9\xC3\xA9", 2), "\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FitColumns("a\xF0\x9F\x98\x80"
                       "b",
                       2),
            "a\xF0\x9F\x98\x80");
}

TEST(FitColumnsKeepingEnd, KeepsTheEndBehindAnEllipsis) {
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\DOS", 6), "C:\\DOS");
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\DOS\\UTIL", 8), "...\\UTIL");
  EXPECT_EQ(FitColumnsKeepingEnd("C:\\\xC3\xA9\xC3\xA9\xC3\xA9", 5), "...\xC3\xA9\xC3\xA9");
  EXPECT_EQ(FitColumnsKeepingEnd("abcdef", 2), "..");
  EXPECT_EQ(CountColumns("a\xC3\xA9\xF0\x9F\x98\x80"), 3u);
}

}  // namespace
}  // namespace quarn

#include "cli/utf8_repair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(RepairUtf8, KeepsValidTextAndReplacesEachBadByte) {
  const std::string kFffd = "\xEF\xBF\xBD";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"C:\\DOS\\EICAR.COM", "C:\\DOS\\EICAR.COM"},
      {"perch\xC3\xA9", "perch\xC3\xA9"},        // two bytes
      {"\xE2\x82\xAC", "\xE2\x82\xAC"},          // three bytes
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},  // four bytes
      {"a\xFF"
       "b",
       "a" + kFffd + "b"},                               // never a lead byte
      {"\xE9t\xE9", kFffd + "t" + kFffd},                // Latin-1 bytes
      {"\xC3", kFffd},                                   // cut short at the end
      {"\xE2\x82", kFffd + kFffd},                       // cut short, one per byte
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},           // a surrogate
      {"\x80x", kFffd + "x"},                            // a lone continuation byte
      {std::string("a\0b", 3), std::string("a\0b", 3)},  // NUL is valid UTF-8
  };
  for (const auto& [input, expected] : cases) {
    EXPECT_EQ(RepairUtf8(input), expected) << testing::PrintToString(input);
  }
}

}  // namespace
}  // namespace quarn

#include "daemon/config_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace quarn {
namespace {

constexpr uint64_t kMaxUint32 = 0xFFFFFFFF;

struct NumberCase {
  std::string text;
  uint64_t value;
};

TEST(ConfigValuesTest, ReadsDecimalNumbersUpToTheirType) {
  for (const NumberCase& c :
       {NumberCase{"0", 0}, {"7", 7}, {"010", 10}, {"4294967295", kMaxUint32}}) {
    Result<uint64_t> parsed = ParseConfigNumber(c.text, kMaxUint32);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.message();
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
  for (const char* bad :
       {"", "-1", "+1", "1.5", "0x10", "7 ", "10k", "4294967296", "99999999999999999999999"}) {
    EXPECT_FALSE(ParseConfigNumber(bad, kMaxUint32).ok()) << bad;
  }
  EXPECT_EQ(ParseConfigNumber("65536", 65535).message(), "'65536' is too large (at most 65535)");
}

TEST(ConfigValuesTest, ReadsSizesWithClamdSuffixes) {
  for (const NumberCase& c : {NumberCase{"0", 0},
                              {"512", 512},
                              {"10k", 10240},
                              {"10K", 10240},
                              {"25m", 25 << 20},
                              {"25M", 25 << 20},
                              {"5G", uint64_t{5} << 30},
                              {"0M", 0},
                              {"17179869183G", uint64_t{17179869183} << 30}}) {
    Result<uint64_t> parsed = ParseConfigSize(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.message();
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
  // "010" is octal to clamd: refused rather than read differently.
  for (const char* bad : {"", "M", "10b", "10kb", "10 M", "-5", "0x10", "010", "00", "17179869184G",
                          "18446744073709551616"}) {
    EXPECT_FALSE(ParseConfigSize(bad).ok()) << bad;
  }
}

TEST(ConfigValuesTest, ReadsTheBooleansClamdAccepts) {
  for (const char* yes : {"yes", "Yes", "YES", "true", "True", "1"}) {
    Result<bool> parsed = ParseConfigBoolean(yes);
    ASSERT_TRUE(parsed.ok()) << yes;
    EXPECT_TRUE(*parsed) << yes;
  }
  for (const char* no : {"no", "No", "false", "FALSE", "0"}) {
    Result<bool> parsed = ParseConfigBoolean(no);
    ASSERT_TRUE(parsed.ok()) << no;
    EXPECT_FALSE(*parsed) << no;
  }
  for (const char* bad : {"", "on", "off", "2", "y", "yess"}) {
    EXPECT_FALSE(ParseConfigBoolean(bad).ok()) << bad;
  }
}

TEST(ConfigValuesTest, ReadsModesAsOctal) {
  for (const NumberCase& c : {NumberCase{"660", 0660},
                              {"0660", 0660},
                              {"0", 0},
                              {"777", 0777},
                              {"00777", 0777},
                              {"6", 06}}) {
    Result<uint32_t> parsed = ParseConfigMode(c.text);
    ASSERT_TRUE(parsed.ok()) << c.text << ": " << parsed.message();
    EXPECT_EQ(*parsed, c.value) << c.text;
  }
  for (const char* bad : {"", "680", "1000", "4755", "u+rw", "-660"}) {
    EXPECT_FALSE(ParseConfigMode(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace quarn

// The offset field: each form parses to its rule and back to the same text; the forms the
// matcher does not take, and numbers out of range, give nothing.
#include "imported/offset_rule.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using Base = OffsetRule::Base;

TEST(OffsetRule, EachFormParsesAndFormatsBack) {
  const std::vector<std::pair<std::string, OffsetRule>> cases = {
      {"*", {Base::kAnywhere, 0, 0, 0}},           {"0", {Base::kAbsolute, 0, 0, 0}},
      {"512", {Base::kAbsolute, 512, 0, 0}},       {"512,64", {Base::kAbsolute, 512, 64, 0}},
      {"EOF-100", {Base::kEndOfFile, -100, 0, 0}}, {"EOF-100,20", {Base::kEndOfFile, -100, 20, 0}},
      {"EOF-0", {Base::kEndOfFile, 0, 0, 0}},      {"EP+0", {Base::kEntryPoint, 0, 0, 0}},
      {"EP+16,8", {Base::kEntryPoint, 16, 8, 0}},  {"EP-32", {Base::kEntryPoint, -32, 0, 0}},
      {"S2+10", {Base::kSectionStart, 10, 0, 2}},  {"S0+4,100", {Base::kSectionStart, 4, 100, 0}},
      {"SL+0", {Base::kLastSection, 0, 0, 0}},     {"SE1", {Base::kWholeSection, 0, 0, 1}},
      {"SE1,4", {Base::kWholeSection, 0, 4, 1}},
  };
  for (const auto& [text, rule] : cases) {
    EXPECT_EQ(ParseOffsetRule(text), rule) << text;
    EXPECT_EQ(FormatOffsetRule(rule), text);
  }
  EXPECT_FALSE(NeedsPeLayout(*ParseOffsetRule("EOF-1")));
  EXPECT_TRUE(NeedsPeLayout(*ParseOffsetRule("SL+0")));
}

TEST(OffsetRule, OtherFormsAndWildNumbersGiveNothing) {
  for (const std::string text : {"", "VI", "$12$", "EOF+4", "EOF-", "EP", "EP*4", "S+4", "Sx+4",
                                 "S1-4", "SE", "SE1,", "12,", "12,x", "-4", "99999999999999999999",
                                 "2199023255553", "EP+2199023255553", "512,4294967296"}) {
    EXPECT_FALSE(ParseOffsetRule(text)) << text;
  }
}

}  // namespace
}  // namespace quarn

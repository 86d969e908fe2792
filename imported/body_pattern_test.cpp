// The body signatures' hex text: every construct the matcher takes parses to its parts and
// back to the same text, and packs to bytes that unpack to the same parts; every one it does
// not take is skipped with its own reason.
#include "imported/body_pattern.h"

#include <gtest/gtest.h>

#include "imported/matching/packed_pattern.h"

namespace quarn {
namespace {

PatternPart Byte(uint8_t value, uint8_t mask = 0xFF) {
  return {PatternPart::Kind::kByte, {value, mask}, 0, 0, {}};
}
PatternPart Jump(uint32_t min, uint32_t max) {
  return {PatternPart::Kind::kJump, {}, min, max, {}};
}

TEST(BodyPattern, EachConstructParsesToItsPartsAndFormatsBack) {
  struct Case {
    std::string hex;
    std::vector<PatternPart> parts;
    uint64_t min_length;
    std::optional<uint64_t> max_length;
  };
  PatternPart choice{
      PatternPart::Kind::kChoice, {}, 0, 0, {{{0x41, 0xFF}}, {{0x42, 0xFF}, {0x43, 0xFF}}}};
  PatternPart wild_choice{
      PatternPart::Kind::kChoice, {}, 0, 0, {{{0, 0}, {0x44, 0xFF}}, {{0x45, 0xFF}, {0x46, 0xFF}}}};
  const std::vector<Case> cases = {
      {"4d5a", {Byte(0x4D), Byte(0x5A)}, 2, 2},
      {"4d5a??90", {Byte(0x4D), Byte(0x5A), Byte(0, 0), Byte(0x90)}, 4, 4},
      {"4d5aa?", {Byte(0x4D), Byte(0x5A), Byte(0xA0, 0xF0)}, 3, 3},
      {"4d5a?b", {Byte(0x4D), Byte(0x5A), Byte(0x0B, 0x0F)}, 3, 3},
      {"4d5a{4}90", {Byte(0x4D), Byte(0x5A), Jump(4, 4), Byte(0x90)}, 7, 7},
      {"4d5a{2-6}90", {Byte(0x4D), Byte(0x5A), Jump(2, 6), Byte(0x90)}, 5, 9},
      {"4d5a{-6}90", {Byte(0x4D), Byte(0x5A), Jump(0, 6), Byte(0x90)}, 3, 9},
      {"4d5a{6-}90", {Byte(0x4D), Byte(0x5A), Jump(6, kUnboundedJump), Byte(0x90)}, 9, {}},
      {"4d5a*90", {Byte(0x4D), Byte(0x5A), Jump(0, kUnboundedJump), Byte(0x90)}, 3, {}},
      {"4d5a(41|4243)", {Byte(0x4D), Byte(0x5A), choice}, 3, 4},
      {"4d5a(??44|4546)", {Byte(0x4D), Byte(0x5A), wild_choice}, 4, 4},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.hex);
    const ParsedPattern parsed = ParseBodyPattern(row.hex);
    ASSERT_TRUE(parsed.pattern) << PatternSkipName(parsed.skip);
    EXPECT_EQ(parsed.pattern->parts, row.parts);
    EXPECT_EQ(FormatBodyPattern(*parsed.pattern), row.hex);
    EXPECT_EQ(MinimumLength(*parsed.pattern), row.min_length);
    EXPECT_EQ(MaximumLength(*parsed.pattern), row.max_length);
    std::string packed;
    AppendPackedPattern(*parsed.pattern, packed);
    BodyPattern unpacked;
    ASSERT_TRUE(UnpackPattern(packed, unpacked));
    EXPECT_EQ(unpacked.parts, row.parts);
    for (size_t cut = 0; cut < packed.size(); ++cut) {
      EXPECT_FALSE(UnpackPattern(std::string_view(packed).substr(0, cut), unpacked)) << cut;
    }
    EXPECT_FALSE(UnpackPattern(packed + '\0', unpacked));
  }
  // Upper case reads as lower case; brackets are a bounded gap, kept as brackets.
  const std::optional<BodyPattern> tied = ParseBodyPattern("4D5A[1-3]9C").pattern;
  ASSERT_TRUE(tied);
  EXPECT_EQ(FormatBodyPattern(*tied), "4d5a[1-3]9c");
  PatternPart bracket = Jump(1, 3);
  bracket.tied = true;
  EXPECT_EQ(tied->parts, (std::vector<PatternPart>{Byte(0x4D), Byte(0x5A), bracket, Byte(0x9C)}));
}

// As clamscan 1.4 loads or refuses them: each piece between "*", ranged gaps and fixed gaps
// of 128 bytes or more needs two whole bytes in a row; "[n-m]" (at most 32) ties one byte to
// a piece's first or last.
TEST(BodyPattern, ThePiecesClamavRefusesAreNamed) {
  const std::vector<std::pair<std::string, std::optional<PatternSkip>>> cases = {
      {"41424344{127}41", std::nullopt},
      {"41424344{128}41", PatternSkip::kTooShort},
      {"41424344{1-5}41", PatternSkip::kTooShort},
      {"41424344{-5}4142", std::nullopt},
      {"41*42434445", PatternSkip::kTooShort},
      {"4142*43??44", PatternSkip::kTooShort},
      {"41424344*(4142|4344)", PatternSkip::kTooShort},
      {"(41|42)4344", std::nullopt},
      {"41[0-32]424344", std::nullopt},
      {"41[1-33]424344", PatternSkip::kMisplacedRange},
      {"4142[1-5]43*4445", std::nullopt},
      {"41[1-5]4243[1-5]44", std::nullopt},
      {"4142[1-5]43{3}44", PatternSkip::kMisplacedRange},
      {"??41[1-5]424344", PatternSkip::kMisplacedRange},
      {"(41|42)[1-5]434445", PatternSkip::kMisplacedRange},
  };
  for (const auto& [hex, refused] : cases) {
    const std::optional<BodyPattern> pattern = ParseBodyPattern(hex).pattern;
    ASSERT_TRUE(pattern) << hex;
    EXPECT_EQ(PieceClamavRefuses(*pattern), refused) << hex;
  }
}

TEST(BodyPattern, WhatTheMatcherCannotTakeIsSkippedWithItsReason) {
  const std::vector<std::pair<std::string, PatternSkip>> cases = {
      {"", PatternSkip::kMalformed},
      {"4d5", PatternSkip::kMalformed},
      {"4d5x", PatternSkip::kMalformed},
      {"4d5a{2-1}90", PatternSkip::kMalformed},
      {"4d5a{}90", PatternSkip::kMalformed},
      {"4d5a{-}90", PatternSkip::kMalformed},
      {"4d5a[1-]90", PatternSkip::kMalformed},
      {"4d5a{2", PatternSkip::kMalformed},
      {"*4d5a", PatternSkip::kMalformed},
      {"4d5a{3}", PatternSkip::kMalformed},
      {"4d5a(41)", PatternSkip::kMalformed},
      {"4d5a(41|)", PatternSkip::kMalformed},
      {"4d5a(41|42", PatternSkip::kMalformed},
      {"4d5a!(41|42)", PatternSkip::kNegation},
      {"4d5a(B)4142", PatternSkip::kAnchoredChoice},
      {"4d5a(L)4142", PatternSkip::kAnchoredChoice},
      {"4d5a(41{2}|42)", PatternSkip::kNestedOrComplex},
      {"4d??5a", PatternSkip::kTooShort},
      {"4d(41|42)5a", PatternSkip::kTooShort},
      {"4d5a{70000}90", PatternSkip::kTooLong},
  };
  for (const auto& [hex, reason] : cases) {
    const ParsedPattern parsed = ParseBodyPattern(hex);
    EXPECT_FALSE(parsed.pattern) << hex;
    EXPECT_EQ(parsed.skip, reason) << hex << ": " << PatternSkipName(parsed.skip);
  }
}

}  // namespace
}  // namespace quarn

#include "engine/pattern_matcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace quarn {
namespace {

using Bytes = std::vector<uint8_t>;

// Never, at once, and after a few searches: the answer must not depend on when the area
// turns from searching its bytes to its survey.
constexpr std::array<uint32_t, 3> kSurveyMoments = {PatternArea::kNeverSurvey, 0, 3};

PatternEntry MatcherEntry(uint16_t ordinal, const Bytes& pattern, uint8_t window) {
  PatternEntry entry{ordinal, window, static_cast<uint8_t>(pattern.size())};
  std::copy(pattern.begin(), pattern.end(), entry.bytes.begin());
  return entry;
}

// The plain answer: each record's bytes in order among the first `window` bytes, by ordinal.
int32_t FirstMatchByRecord(const std::vector<PatternEntry>& entries, const Bytes& area,
                           int32_t after, int32_t below) {
  int32_t best = below;
  for (const PatternEntry& entry : entries) {
    const size_t window = std::min<size_t>(entry.window, area.size());
    size_t k = 0;
    for (size_t at = 0; at < window && k < entry.length; ++at) k += area[at] == entry.bytes[k];
    if (k == entry.length && entry.ordinal > after && entry.ordinal < best) best = entry.ordinal;
  }
  return best;
}

// Eighty records, each wanting a value of its own that the cases' area lacks (and none from
// the sixteen of 4 and 5), then `last` if it has a length.
std::vector<PatternEntry> ManyWantingOthers(const PatternEntry& last) {
  std::vector<PatternEntry> entries;
  for (uint8_t n = 0; n < 80; ++n) {
    entries.push_back(MatcherEntry(n, {1, static_cast<uint8_t>(n < 40 ? 20 + n : 100 + n)}, 255));
  }
  if (last.length != 0) entries.push_back(last);
  return entries;
}

struct MatcherCase {
  std::string name;
  std::vector<PatternEntry> entries;
  Bytes area;
  int32_t after;
  int32_t want;
};

TEST(PatternTrieTest, FindsTheFirstRecordInWalkOrderThatMatches) {
  const Bytes area = {1, 9, 2, 9, 3, 4, 4, 5};
  const std::vector<MatcherCase> cases = {
      {"bytes apart in order", {MatcherEntry(0, {1, 2, 3}, 255)}, area, -1, 0},
      {"out of order", {MatcherEntry(0, {2, 1}, 255)}, area, -1, 100},
      {"window ends on the last byte", {MatcherEntry(0, {1, 2, 3}, 5)}, area, -1, 0},
      {"window one short", {MatcherEntry(0, {1, 2, 3}, 4)}, area, -1, 100},
      {"window 0", {MatcherEntry(0, {1}, 0)}, area, -1, 100},
      {"window past the area", {MatcherEntry(0, {5}, 200)}, area, -1, 0},
      {"a byte taken twice needs two", {MatcherEntry(0, {9, 9, 9}, 255)}, area, -1, 100},
      {"a repeated byte", {MatcherEntry(0, {4, 4}, 7)}, area, -1, 0},
      {"a shared prefix, the longer one first",
       {MatcherEntry(3, {1, 2}, 255), MatcherEntry(1, {1, 2, 3}, 255)},
       area,
       -1,
       1},
      {"a shared prefix, the shorter one first",
       {MatcherEntry(1, {1, 2}, 255), MatcherEntry(3, {1, 2, 3}, 255)},
       area,
       -1,
       1},
      {"equal patterns, the earlier out of its window",
       {MatcherEntry(2, {1, 2}, 2), MatcherEntry(5, {1, 2}, 3), MatcherEntry(7, {1, 2}, 255)},
       area,
       -1,
       5},
      {"matches at or before `after` passed over",
       {MatcherEntry(2, {1}, 255), MatcherEntry(4, {9}, 255), MatcherEntry(6, {5}, 255)},
       area,
       4,
       6},
      {"a later match under a subtree whose largest window is elsewhere",
       {MatcherEntry(0, {1, 4, 7}, 255), MatcherEntry(9, {1, 4}, 7), MatcherEntry(4, {1, 5}, 2)},
       area,
       -1,
       9},
      {"nothing in an empty area", {MatcherEntry(0, {0}, 255)}, {}, -1, 100},
      {"the one record whose values the area holds, behind many that want others",
       ManyWantingOthers(MatcherEntry(90, {4, 5}, 255)), area, -1, 90},
      {"none whose values the area holds", ManyWantingOthers({}), area, -1, 100},
  };
  for (const MatcherCase& c : cases) {
    SCOPED_TRACE(c.name);
    const PatternTrie trie(c.entries);
    for (uint32_t survey_after : kSurveyMoments) {
      PatternSurvey survey;
      const PatternArea searched(c.area, survey, survey_after);
      EXPECT_EQ(trie.FirstMatch(searched, c.after, 100), c.want) << "survey after " << survey_after;
    }
    EXPECT_EQ(FirstMatchByRecord(c.entries, c.area, c.after, 100), c.want);
  }
}

// Patterns drawn from a few byte values and grown from each other, so that prefixes are
// shared, patterns repeat with other windows, and many records match at once.
TEST(PatternTrieTest, AgreesWithTheRecordByRecordSearchOnCrowdedPatterns) {
  std::mt19937 random(77);
  auto below = [&random](uint32_t bound) { return static_cast<uint32_t>(random() % bound); };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    // Now and then enough values that a node has many children.
    const uint32_t values = round % 4 == 3 ? 20 + below(40) : 2 + below(6);
    std::vector<PatternEntry> entries;
    for (uint16_t ordinal = 0; ordinal < 300; ++ordinal) {
      Bytes pattern;
      if (!entries.empty() && below(2) == 0) {
        const PatternEntry& from = entries[below(static_cast<uint32_t>(entries.size()))];
        pattern.assign(from.bytes.begin(), from.bytes.begin() + from.length);
        if (pattern.size() > 1 && below(2) == 0) pattern.pop_back();
      }
      while (pattern.empty() || (pattern.size() < PatternEntry::kMaxLength && below(3) != 0)) {
        pattern.push_back(static_cast<uint8_t>(below(values)));
      }
      entries.push_back(MatcherEntry(ordinal, pattern, static_cast<uint8_t>(below(256))));
    }
    Bytes area(1 + below(PatternArea::kMaxSize));
    for (uint8_t& byte : area) byte = static_cast<uint8_t>(below(values + 1));
    const PatternTrie trie(entries);
    PatternSurvey survey;
    const PatternArea searched(area, survey, kSurveyMoments[round % kSurveyMoments.size()]);
    // Every match in turn, as the detector asks when a match's confirmation fails.
    int found = 0;
    for (int32_t after = -1;; ++found) {
      const int32_t want = FirstMatchByRecord(entries, area, after, 300);
      ASSERT_EQ(trie.FirstMatch(searched, after, 300), want) << "after " << after;
      if (want == 300) break;
      after = want;
    }
    if (round == 0) {
      EXPECT_GT(found, 10);
    }
  }
}

TEST(PatternAreaTest, NextGivesTheFirstPositionAtOrAfter) {
  Bytes bytes(PatternArea::kMaxSize, 0);
  bytes[3] = bytes[63] = bytes[64] = bytes[200] = 7;
  const Bytes short_area(10, 1);
  const std::vector<std::pair<uint32_t, uint32_t>> from_want = {
      {0, 3}, {3, 3}, {4, 63}, {64, 64}, {65, 200}, {201, PatternArea::kAbsent}};
  for (uint32_t survey_after : kSurveyMoments) {
    SCOPED_TRACE(survey_after);
    PatternSurvey survey;
    const PatternArea area(bytes, survey, survey_after);
    for (const auto& [from, want] : from_want) EXPECT_EQ(area.Next(from, 7), want) << from;
    EXPECT_EQ(area.Next(0, 8), PatternArea::kAbsent);
    EXPECT_EQ(area.First(7), 3u);
    EXPECT_EQ(area.First(8), PatternArea::kAbsent);
    PatternSurvey short_survey;
    EXPECT_EQ(PatternArea(short_area, short_survey, survey_after).Next(10, 1),
              PatternArea::kAbsent);  // its end
  }
}

// The set is gathered four table entries at a time: values at the edges of a word and of a
// group of four are where a wrong shift shows.
TEST(PatternAreaTest, PresentHoldsExactlyTheAreasValues) {
  std::mt19937 random(5);
  for (const Bytes& bytes : {Bytes{0, 3, 4, 63, 64, 127, 128, 191, 192, 255}, Bytes{255},
                             Bytes(PatternArea::kMaxSize, 0), Bytes{}}) {
    PatternSurvey survey;
    const PatternArea area(bytes, survey);
    for (uint32_t value = 0; value < 256; ++value) {
      const bool held = std::find(bytes.begin(), bytes.end(), value) != bytes.end();
      EXPECT_EQ((area.present()[value / 64] >> (value % 64)) & 1, held ? 1u : 0u) << value;
    }
  }
  for (int round = 0; round < 20; ++round) {
    Bytes bytes(1 + random() % PatternArea::kMaxSize);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
    PatternSurvey survey;
    const PatternArea area(bytes, survey);
    PatternArea::ValueSet want{};
    for (uint8_t byte : bytes) want[byte / 64] |= uint64_t{1} << (byte % 64);
    EXPECT_EQ(area.present(), want) << round;
  }
}

}  // namespace
}  // namespace quarn

#include "containers/wrappers/ewf_reader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

namespace quarn {
namespace {

// After E99 the set goes on in letters, in the first segment's case, and ends at ZZZ.
TEST(EwfSegmentNameTest, FollowsTheSetsRuleAndTheFirstSegmentsCase) {
  const std::pair<uint32_t, std::string> rows[] = {{1, "D.E01"},   {10, "D.E10"},   {99, "D.E99"},
                                                   {100, "D.EAA"}, {126, "D.EBA"},  {775, "D.EZZ"},
                                                   {776, "D.FAA"}, {14971, "D.ZZZ"}};
  for (const auto& [number, name] : rows) EXPECT_EQ(EwfSegmentName("D.E01", number), name);
  EXPECT_EQ(EwfSegmentName("case.2.e01", 100), "case.2.eaa");
  EXPECT_EQ(EwfSegmentName("D.E01", 14972), std::nullopt);
}

// The signature alone is not an E01: the first section's descriptor must follow it, whole.
TEST(MayBeEwfTest, WantsTheFirstSectionsCheckSum) {
  std::vector<uint8_t> head = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00, 1, 1, 0, 0, 0};
  const std::string type = "header2";
  head.insert(head.end(), type.begin(), type.end());
  head.resize(13 + 72, 0);
  const uLong sum = adler32(1, head.data() + 13, 72);
  for (int shift = 0; shift < 32; shift += 8) head.push_back(static_cast<uint8_t>(sum >> shift));
  EXPECT_TRUE(MayBeEwf(head));
  head[13] = 'H';
  EXPECT_FALSE(MayBeEwf(head));
}

}  // namespace
}  // namespace quarn

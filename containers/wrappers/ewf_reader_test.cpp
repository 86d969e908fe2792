#include "containers/wrappers/ewf_reader.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quarn

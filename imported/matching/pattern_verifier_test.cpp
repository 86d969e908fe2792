// The verifier that confirms a pattern at allowed starts: its costs stay within the budget
// and the cap on the window of positions. Its answers are the matcher's, which the
// differential test holds to the plain search.
#include "imported/matching/pattern_verifier.h"

#include <gtest/gtest.h>

#include "imported/matching/signature_matcher.h"
#include "imported/test_support/matcher_test_support.h"

namespace quarn {
namespace {

TEST(PatternVerifier, CostsStopAtTheBudgetAndTheCapOnTheWindow) {
  using testing::GapOf;
  using testing::PatternOf;
  using testing::WholeBytes;
  // Every other byte passes: a run of positions for each.
  std::vector<uint8_t> alternating(600000);
  for (size_t at = 0; at < alternating.size(); at += 2) alternating[at] = 0x41;
  auto file = testing::WatchedFile::Of(alternating);
  const BodyPattern pattern = PatternOf({WholeBytes({0x41, 0x00, 0x41, 0x42})});
  PatternVerifier verifier;
  verifier.BeginScan(*file, alternating.size(), kDefaultVerificationBudget);
  EXPECT_EQ(verifier.MatchesFromSomeStart(pattern, {0, 100000}), Verification::kNoMatch)
      << "under the cap of runs";
  EXPECT_EQ(verifier.MatchesFromSomeStart(pattern, {0, alternating.size()}), Verification::kNoMatch)
      << "starts taken a slice at a time";
  // The window is judged by the data's end the scan was given, before a byte is read.
  const BodyPattern huge =
      PatternOf({WholeBytes({0x41}), {GapOf(0, 100000000)}, WholeBytes({0x42})});
  verifier.BeginScan(*file, PatternVerifier::kMaxWindowPositions * 2, kDefaultVerificationBudget);
  EXPECT_EQ(verifier.MatchesFromSomeStart(huge, {0, 0}), Verification::kOverBudget)
      << "past the cap of the window";

  const BodyPattern open =
      PatternOf({WholeBytes({0x41}), {GapOf(0, kUnboundedJump)}, WholeBytes({0x42})});
  verifier.BeginScan(*file, alternating.size(), 5000);
  EXPECT_EQ(verifier.MatchesFromSomeStart(open, {0, 4000}), Verification::kOverBudget);
  EXPECT_EQ(verifier.budget_left(), 0u);
  EXPECT_EQ(verifier.MatchesFromSomeStart(open, {0, 0}), Verification::kOverBudget)
      << "a spent budget stays spent for the scan";
}

}  // namespace
}  // namespace quarn

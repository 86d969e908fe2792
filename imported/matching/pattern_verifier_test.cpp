// The verifier that confirms a pattern at allowed starts: for random patterns, bytes and
// windows of starts it answers as the plain recursive match does, and its costs stay within
// the budget and the cap on the window of positions.
#include "imported/matching/pattern_verifier.h"

#include <gtest/gtest.h>

#include "imported/test_support/matcher_test_support.h"
#include "imported/test_support/plain_signature_search.h"
#include "imported/test_support/random_signatures.h"

namespace quarn {
namespace {

bool PlainMatchesFromSomeStart(const BodyPattern& pattern, const std::vector<uint8_t>& bytes,
                               uint64_t data_end, StartWindow starts) {
  const std::span<const uint8_t> data(bytes.data(), std::min<uint64_t>(bytes.size(), data_end));
  testing::PlainPatternMatch match(pattern.parts, data);
  for (uint64_t start = starts.first; start <= starts.last && start < data.size(); ++start) {
    if (match.From(0, start)) return true;
  }
  return false;
}

TEST(PatternVerifier, AnswersAsThePlainMatchForRandomWindows) {
  testing::RandomSignatures random(77);
  const std::vector<BodySignature> signatures = random.Signatures(400);
  PatternVerifier verifier;
  int matches = 0;
  for (const BodySignature& signature : signatures) {
    const std::vector<uint8_t> bytes = random.File({signature}, 200 + random.Below(600), false, 3);
    auto file = testing::WatchedFile::Of(bytes);
    const uint64_t data_end = bytes.size() - random.Below(40);
    verifier.BeginScan(*file, data_end, kDefaultVerificationBudget);
    for (int window = 0; window < 8; ++window) {
      const uint64_t first = random.Below(bytes.size() + 4);
      const StartWindow starts{first, first + random.Below(window < 4 ? 4 : bytes.size())};
      const bool plain = PlainMatchesFromSomeStart(signature.pattern, bytes, data_end, starts);
      const Verification verification = verifier.MatchesFromSomeStart(signature.pattern, starts);
      ASSERT_NE(verification, Verification::kOverBudget);
      ASSERT_EQ(verification == Verification::kMatch, plain)
          << "signature " << signature.index << ", starts " << starts.first << " to " << starts.last
          << " of " << data_end;
      matches += plain ? 1 : 0;
    }
    EXPECT_LE(file->farthest_end(), data_end);
  }
  EXPECT_GT(matches, 200) << "too few windows held a match to mean something";
}

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

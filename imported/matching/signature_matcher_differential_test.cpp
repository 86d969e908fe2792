// Random signature sets over random files with planted matches and near misses: whatever the
// constructs, offset forms, targets and byte limits, the matcher answers as the plain search
// does; and so it does for open gaps, and bounded ones widening a start's positions by
// 300,000 bytes, over files long enough that a pattern's parts pass at hundreds of thousands
// of places.
#include <gtest/gtest.h>

#include "imported/matching/signature_matcher.h"
#include "imported/test_support/long_match_files.h"
#include "imported/test_support/matcher_test_support.h"
#include "imported/test_support/plain_signature_search.h"
#include "imported/test_support/random_signatures.h"

namespace quarn {
namespace {

constexpr size_t kSignaturesPerSet = 300;
constexpr int kFilesPerSet = 36;

struct Tally {
  int scans = 0;
  int found = 0;
};

void ExpectSameAnswer(const SignatureMatcher& matcher, MatcherScratch& scratch,
                      const std::vector<BodySignature>& signatures,
                      const std::vector<uint8_t>& bytes, ScanTarget target, uint64_t limit,
                      Tally& tally) {
  const std::optional<PeLayout> layout = ReadPeLayout(*testing::WatchedFile::Of(bytes));
  const ScanFacts facts{bytes.size(), limit, layout ? &*layout : nullptr, target};
  auto file = testing::WatchedFile::Of(bytes);
  const ScanOutcome outcome = matcher.Scan(*file, facts, scratch);
  const std::optional<uint32_t> plain = testing::PlainSignatureSearch(signatures, bytes, facts);
  ASSERT_EQ(outcome.signature, plain)
      << "file of " << bytes.size() << " bytes, PE " << (layout ? "yes" : "no") << ", target "
      << static_cast<int>(target) << ", limit " << limit;
  EXPECT_EQ(outcome.unconfirmed, 0u);
  EXPECT_LE(file->farthest_end(), std::min<uint64_t>(limit, bytes.size()));
  ++tally.scans;
  tally.found += outcome.signature ? 1 : 0;
}

TEST(SignatureMatcherDifferential, AnswersAsThePlainSearchDoes) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    testing::RandomSignatures random(seed);
    const std::vector<BodySignature> signatures = random.Signatures(kSignaturesPerSet);
    Result<SignatureMatcher> matcher = SignatureMatcher::Compile(signatures);
    ASSERT_TRUE(matcher.ok()) << matcher.message();
    ASSERT_TRUE(matcher->refused().empty()) << matcher->refused()[0].reason;
    std::unique_ptr<MatcherScratch> scratch = matcher->NewScratch();
    Tally tally;
    for (int round = 0; round < kFilesPerSet; ++round) {
      const size_t size = 300 + random.Below(5000);
      const std::vector<uint8_t> bytes =
          random.File(signatures, size, round % 2 == 0, static_cast<int>(random.Below(4)));
      for (ScanTarget target : {ScanTarget::kFile, ScanTarget::kOle2Stream}) {
        ExpectSameAnswer(*matcher, *scratch, signatures, bytes, target, UINT64_MAX, tally);
      }
      ExpectSameAnswer(*matcher, *scratch, signatures, bytes, ScanTarget::kFile,
                       random.Below(bytes.size()), tally);
    }
    // A file longer than a block, a match planted whole across the block's end. The plain
    // search would take long over it: it takes the signatures that start with a whole byte
    // and have no open gap.
    std::vector<BodySignature> bounded;
    std::copy_if(signatures.begin(), signatures.end(), std::back_inserter(bounded),
                 [](const BodySignature& signature) {
                   const PatternPart& first = signature.pattern.parts.front();
                   return MaximumLength(signature.pattern) &&
                          first.kind == PatternPart::Kind::kByte && first.byte.mask == 0xFF;
                 });
    Result<SignatureMatcher> bounded_matcher = SignatureMatcher::Compile(bounded);
    ASSERT_TRUE(bounded_matcher.ok()) << bounded_matcher.message();
    for (int round = 0; round < 2; ++round) {
      std::vector<uint8_t> bytes = random.File(bounded, 70000, round == 0, 20);
      random.PlantAt(bounded[random.Below(bounded.size())], SignatureMatcher::kBlockSize - 3,
                     bytes);
      ExpectSameAnswer(*bounded_matcher, *scratch, bounded, bytes, ScanTarget::kFile, UINT64_MAX,
                       tally);
    }
    // Planted matches are found often enough, and missed often enough, to mean something.
    EXPECT_GT(tally.found, tally.scans / 5) << tally.found << " of " << tally.scans;
    EXPECT_LT(tally.found, tally.scans * 9 / 10) << tally.found << " of " << tally.scans;
  }
}

bool HasOpenGap(const BodySignature& signature) {
  return std::any_of(signature.pattern.parts.begin(), signature.pattern.parts.end(),
                     [](const PatternPart& part) { return part.max == kUnboundedJump; });
}

BodySignature Written(uint32_t index, const char* hex, OffsetRule offset,
                      SignatureTarget target = SignatureTarget::kAnyFile) {
  return {index, ParseBodyPattern(hex).pattern.value(), offset, target};
}

TEST(SignatureMatcherDifferential, OpenGapsOverLongFilesAnswerAsThePlainSearchDoes) {
  constexpr OffsetRule kAtStart{OffsetRule::Base::kAbsolute, 0, 0, 0};
  constexpr OffsetRule kAtEntry{OffsetRule::Base::kEntryPoint, 0, 0, 0};
  testing::RandomSignatures random(4);
  std::vector<BodySignature> signatures = {
      // First, so that its files answer for it alone.
      Written(0, "4100{0-300000}4100{100-200}4142", kAtStart),
      Written(1, "558bec83*00c0ffee123456", kAtEntry, SignatureTarget::kPeFile),
      Written(2, "c0ffee11{100-}00deadbeef", kAtStart),
      // Too few fixed bytes for the import to take; the matcher is exact for it all the same.
      {3,
       testing::PatternOf({testing::WholeBytes({0x41}),
                           {testing::GapOf(100, kUnboundedJump)},
                           testing::WholeBytes({0x42})}),
       kAtStart}};
  for (const BodySignature& signature : random.Signatures(400)) {
    if (HasOpenGap(signature)) signatures.push_back(signature);
  }
  Result<SignatureMatcher> matcher = SignatureMatcher::Compile(signatures);
  ASSERT_TRUE(matcher.ok()) << matcher.message();
  ASSERT_TRUE(matcher->refused().empty()) << matcher->refused()[0].reason;
  std::unique_ptr<MatcherScratch> scratch = matcher->NewScratch();

  using testing::WideText;
  // "00" at 100,000 places in the wide text.
  std::vector<std::vector<uint8_t>> files = {
      testing::EntryStarPe(), WideText({0xC0, 0xFF, 0xEE, 0x11}, {0x00, 0xDE, 0xAD, 0xBE, 0xEF}),
      WideText({0xC0, 0xFF, 0xEE, 0x11}, {0x00, 0xDE, 0xAD, 0xBE, 0xEE}), WideText({0x41}, {0x42}),
      WideText({0x41}, {})};
  // "B" at 99,500 places; the last file has none.
  for (size_t at = 1000; at < files[3].size(); at += 2) files[3][at] = 0x42;
  // Bounded gaps that widen one start's positions by 300,000 bytes: a match, one byte off,
  // the wide gap one too long, the narrow one one short.
  files.push_back(testing::PairsThenLone(300002, 150, {0x41, 0x42}));
  files.push_back(testing::PairsThenLone(300002, 150, {0x41, 0x43}));
  files.push_back(testing::PairsThenLone(300003, 150, {0x41, 0x42}));
  files.push_back(testing::PairsThenLone(300002, 99, {0x41, 0x42}));
  for (int round = 0; round < 4; ++round) {
    files.push_back(random.File(signatures, 150000, round % 2 == 0, 6));
  }
  Tally tally;
  for (const std::vector<uint8_t>& bytes : files) {
    ExpectSameAnswer(*matcher, *scratch, signatures, bytes, ScanTarget::kFile, UINT64_MAX, tally);
    ExpectSameAnswer(*matcher, *scratch, signatures, bytes, ScanTarget::kFile,
                     bytes.size() - 1 - random.Below(100), tally);
  }
  EXPECT_GE(tally.found, 6) << tally.found << " of " << tally.scans;
}

}  // namespace
}  // namespace quarn

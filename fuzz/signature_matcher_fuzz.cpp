// Any bytes as a file scanned by a fixed set of imported signatures of every construct,
// offset form and target: as a file with its PE layout (when it has one), as a file whose
// layout the scan was not given under a byte limit, or as a compound document's stream.
// The matcher's answer is always the plain search's, every candidate is confirmed or
// refuted, and no read reaches past the byte limit.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "imported/matching/pe_layout.h"
#include "imported/matching/signature_matcher.h"
#include "imported/test_support/plain_signature_search.h"
#include "imported/test_support/random_signatures.h"

namespace {

constexpr uint32_t kSignatureSeed = 11;
constexpr size_t kSignatures = 64;
// The plain search costs the input's length times the signatures: inputs are cut here.
constexpr size_t kLongestInput = 4096;

const std::vector<quarn::BodySignature>& Signatures() {
  static const std::vector<quarn::BodySignature> signatures =
      quarn::testing::RandomSignatures(kSignatureSeed).Signatures(kSignatures);
  return signatures;
}

const quarn::SignatureMatcher& Matcher() {
  static const quarn::SignatureMatcher matcher = [] {
    quarn::Result<quarn::SignatureMatcher> compiled =
        quarn::SignatureMatcher::Compile(Signatures());
    Check(compiled.ok() && compiled->refused().empty());
    return std::move(*compiled);
  }();
  return matcher;
}

void ExpectPlainAnswer(std::span<const uint8_t> bytes, const quarn::ScanFacts& facts,
                       quarn::File& input, quarn::MatcherScratch& scratch) {
  quarn::fuzz::WatchedInput file(input);
  const quarn::ScanOutcome outcome = Matcher().Scan(file, facts, scratch);
  Check(!outcome.failed && outcome.unconfirmed == 0);
  Check(outcome.signature == quarn::testing::PlainSignatureSearch(Signatures(), bytes, facts));
  Check(file.farthest_end <= std::min<uint64_t>(facts.byte_limit, bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<quarn::MatcherScratch> scratch = Matcher().NewScratch();
  const std::span<const uint8_t> bytes(data, std::min(size, kLongestInput));
  std::shared_ptr<quarn::File> file = quarn::fuzz::InputFile(bytes.data(), bytes.size());
  const std::optional<quarn::PeLayout> layout = quarn::ReadPeLayout(*file);
  const quarn::PeLayout* pe = layout ? &*layout : nullptr;
  // One way of scanning per input, picked by its length, keeps each run short.
  quarn::ScanFacts facts{bytes.size(), UINT64_MAX, pe, quarn::ScanTarget::kFile};
  switch (size % 3) {
    case 0:
      break;
    case 1:
      facts.pe = nullptr;
      facts.byte_limit = bytes.size() * 3 / 4;
      break;
    default:
      facts.target = quarn::ScanTarget::kOle2Stream;
      break;
  }
  ExpectPlainAnswer(bytes, facts, *file, *scratch);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  quarn::testing::RandomSignatures random(kSignatureSeed + 1);
  std::vector<std::string> seeds;
  for (int seed = 0; seed < 12; ++seed) {
    const std::vector<uint8_t> bytes =
        random.File(Signatures(), 300 + random.Below(3500), seed % 2 == 0, 2 + seed % 5);
    seeds.emplace_back(bytes.begin(), bytes.end());
  }
  return seeds;
}

#include "imported/signature_matcher.h"

#include <hs/hs.h>

#include <algorithm>

#include "imported/matcher_image.h"
#include "imported/pattern_expression.h"

namespace quarn {
namespace {

// Changes whenever the way a signature becomes an expression changes: an image compiled the
// old way is then compiled again.
constexpr uint64_t kTranslationVersion = 3;

// Positions and lengths past this are treated as boundless when bounding an expression's
// reports (and no file reaches them).
constexpr uint64_t kFarthest = uint64_t{1} << 62;

class Fingerprint {
 public:
  explicit Fingerprint(uint64_t hash = kTranslationVersion) : hash_(hash) {}
  void Add(uint64_t value) {
    hash_ = HashBytes(reinterpret_cast<const uint8_t*>(&value), 8, hash_);
  }
  void AddByte(const PatternByte& byte) { Add(uint64_t{byte.value} << 8 | byte.mask); }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = kTranslationVersion;
};

// The fingerprint of a list of `count` signatures before any of them.
uint64_t FingerprintHead(size_t count) {
  Fingerprint print;
  print.Add(kLargestWrittenGap);
  print.Add(kLongestExpression);
  print.Add(kMostRepeats);
  print.Add(kMostRepeatWidth);
  print.Add(kMostOpenRepeats);
  print.Add(count);
  return print.value();
}

// `so_far` with `signature` added.
uint64_t FingerprintAdding(uint64_t so_far, const BodySignature& signature) {
  Fingerprint print(so_far);
  print.Add(signature.index);
  print.Add(static_cast<uint64_t>(signature.target));
  const OffsetRule& rule = signature.offset;
  print.Add(static_cast<uint64_t>(rule.base));
  print.Add(static_cast<uint64_t>(rule.delta));
  print.Add(rule.range);
  print.Add(rule.section);
  print.Add(signature.pattern.parts.size());
  for (const PatternPart& part : signature.pattern.parts) {
    print.Add(static_cast<uint64_t>(part.kind));
    print.AddByte(part.byte);
    print.Add(uint64_t{part.min} << 32 | part.max);
    print.Add(part.choices.size());
    for (const auto& choice : part.choices) {
      print.Add(choice.size());
      for (const PatternByte& byte : choice) print.AddByte(byte);
    }
  }
  return print.value();
}

uint64_t FingerprintOf(const std::vector<BodySignature>& signatures) {
  uint64_t print = FingerprintHead(signatures.size());
  for (const BodySignature& signature : signatures) print = FingerprintAdding(print, signature);
  return print;
}

// The least stream offset a report of an absolute rule's match can end at, for Vectorscan to
// skip the earlier ones; 0 where there is no bound to give. No greatest: Vectorscan builds an
// engine of its own for an expression with one, which for a tenth of a database's patterns
// doubled its compile time and memory and made its database 60% larger; the few reports
// past the window cost the scan a check each.
void BoundAbsoluteEnds(const OffsetRule& rule, const PatternExpression& expression,
                       ExpressionRequest& request) {
  if (rule.base != OffsetRule::Base::kAbsolute || rule.delta < 0) return;
  const uint64_t first = static_cast<uint64_t>(rule.delta);
  if (first > kFarthest || expression.span_min > kFarthest) return;
  request.min_end = first + expression.span_min;
}

}  // namespace

SignatureMatcher::SignatureMatcher(SignatureMatcher&&) noexcept = default;
SignatureMatcher& SignatureMatcher::operator=(SignatureMatcher&&) noexcept = default;
SignatureMatcher::~SignatureMatcher() = default;

std::vector<ExpressionRequest> SignatureMatcher::Prepare(SignatureMatcher& matcher) {
  std::vector<ExpressionRequest> requests;
  matcher.compiled_.assign(matcher.signatures_.size(), Compiled{});
  for (size_t position = 0; position < matcher.signatures_.size(); ++position) {
    if (std::optional<ExpressionRequest> request = PrepareOne(matcher, position)) {
      requests.push_back(std::move(*request));
    }
  }
  return requests;
}

std::optional<ExpressionRequest> SignatureMatcher::PrepareOne(SignatureMatcher& matcher,
                                                              size_t position) {
  const BodySignature& signature = matcher.signatures_[position];
  PatternExpression expression = WritePatternExpression(signature.pattern);
  if (expression.text.empty()) {
    matcher.Refuse(position, "no part of the pattern can be written");
    return std::nullopt;
  }
  Compiled& compiled = matcher.compiled_[position];
  compiled.span_min = expression.span_min;
  compiled.span_max = expression.span_max;
  const bool anywhere = signature.offset.base == OffsetRule::Base::kAnywhere;
  const bool fixed = expression.span_min == expression.span_max;
  ExpressionRequest request;
  request.id = static_cast<unsigned>(position);
  request.flags = HS_FLAG_DOTALL;
  if (expression.exact && anywhere) {
    compiled.check = Check::kAnywhere;
  } else if (expression.exact && fixed) {
    compiled.check = Check::kFixedStart;
  } else {
    compiled.check = Check::kVerify;
  }
  BoundAbsoluteEnds(signature.offset, expression, request);
  // One report is all the first kind needs; so is it for the second kind under an absolute
  // rule's least end: the first report ends no later than any match in the window does, so
  // it is in the window when any is. The others need every end Vectorscan sees.
  if (compiled.check == Check::kAnywhere ||
      (compiled.check == Check::kFixedStart && request.min_end != 0)) {
    request.flags |= HS_FLAG_SINGLEMATCH;
  }
  request.text = std::move(expression.text);
  return request;
}

SignatureMatcher::Taker::Taker(size_t count)
    : matcher_(new SignatureMatcher()), fingerprint_(FingerprintHead(count)) {
  matcher_->signatures_.reserve(count);
  matcher_->compiled_.reserve(count);
}

SignatureMatcher::Taker::Taker(Taker&&) noexcept = default;
SignatureMatcher::Taker::~Taker() = default;

void SignatureMatcher::Taker::Take(BodySignature signature) {
  fingerprint_ = FingerprintAdding(fingerprint_, signature);
  const size_t position = matcher_->signatures_.size();
  matcher_->signatures_.push_back(std::move(signature));
  matcher_->compiled_.emplace_back();
  PrepareOne(*matcher_, position);
  // The image's refusals may refuse it too; that only drops what is dropped here anyway.
  if (matcher_->compiled_[position].check != Check::kVerify) {
    matcher_->signatures_[position].pattern = BodyPattern{};
  }
}

std::optional<SignatureMatcher> SignatureMatcher::LoadTaken(Taker taker,
                                                            std::span<const uint8_t> serialized) {
  SignatureMatcher matcher = std::move(*taker.matcher_);
  matcher.fingerprint_ = taker.fingerprint_;
  std::optional<MatcherImage> image = ReadMatcherImage(serialized);
  if (!image || image->fingerprint != matcher.fingerprint_ || !matcher.TakeImage(*image)) {
    return std::nullopt;
  }
  return matcher;
}

bool SignatureMatcher::TakeImage(const MatcherImage& image) {
  std::optional<VectorscanDatabase> database = VectorscanDatabase::Deserialize(image.database);
  const bool positions_fit =
      std::all_of(image.refusals.begin(), image.refusals.end(),
                  [&](const auto& refusal) { return refusal.position < signatures_.size(); });
  // A database that came out empty is only right when every signature was refused.
  const bool complete =
      database && (!database->empty() || image.refusals.size() >= signatures_.size());
  if (!complete || !positions_fit) return false;
  refused_.clear();
  refused_positions_.clear();
  for (const MatcherImage::Refusal& refusal : image.refusals)
    Refuse(refusal.position, refusal.reason);
  database_ = std::move(*database);
  Finish();
  return true;
}

Result<SignatureMatcher> SignatureMatcher::Compile(std::vector<BodySignature> signatures) {
  SignatureMatcher matcher;
  matcher.signatures_ = std::move(signatures);
  matcher.fingerprint_ = FingerprintOf(matcher.signatures_);
  std::vector<ExpressionRequest> requests = Prepare(matcher);
  std::vector<RefusedExpression> refused;
  Result<VectorscanDatabase> database = VectorscanDatabase::Compile(requests, refused);
  if (!database) return database.status();
  matcher.database_ = std::move(*database);
  for (const RefusedExpression& refusal : refused) {
    matcher.Refuse(refusal.id, refusal.reason);
  }
  matcher.Finish();
  return matcher;
}

Result<SignatureMatcher> SignatureMatcher::Load(std::vector<BodySignature> signatures,
                                                std::span<const uint8_t> serialized) {
  const uint64_t fingerprint = FingerprintOf(signatures);
  std::optional<MatcherImage> image = ReadMatcherImage(serialized);
  if (image && image->fingerprint == fingerprint) {
    SignatureMatcher matcher;
    matcher.signatures_ = std::move(signatures);
    matcher.fingerprint_ = fingerprint;
    Prepare(matcher);  // the spans and checks; the image says what was refused
    if (matcher.TakeImage(*image)) return matcher;
    signatures = std::move(matcher.signatures_);
  }
  Result<SignatureMatcher> compiled = Compile(std::move(signatures));
  if (compiled) compiled->recompiled_ = true;
  return compiled;
}

std::vector<uint8_t> SignatureMatcher::Serialize() const {
  MatcherImage image;
  image.fingerprint = fingerprint_;
  for (size_t refusal = 0; refusal < refused_.size(); ++refusal) {
    image.refusals.push_back({refused_positions_[refusal], refused_[refusal].reason});
  }
  const std::vector<uint8_t> database = database_.Serialize();
  image.database = database;
  // An image without the database it needs would load as a matcher that finds nothing.
  if (image.database.empty() && !database_.empty()) return {};
  return WriteMatcherImage(image);
}

void SignatureMatcher::Refuse(size_t position, const std::string& reason) {
  compiled_[position].check = Check::kRefused;
  refused_.push_back({signatures_[position].index, reason});
  refused_positions_.push_back(static_cast<uint32_t>(position));
}

void SignatureMatcher::Finish() {
  lowest_index_ = UINT32_MAX;
  for (size_t position = 0; position < signatures_.size(); ++position) {
    const Check check = compiled_[position].check;
    // Only the verifier reads a pattern once it is compiled: the others' parts go, which is
    // most of a large database's memory (a part per byte).
    if (check == Check::kRefused || check == Check::kAnywhere || check == Check::kFixedStart) {
      signatures_[position].pattern = BodyPattern{};
    }
    if (check == Check::kRefused) continue;
    lowest_index_ = std::min(lowest_index_, signatures_[position].index);
  }
}

std::unique_ptr<MatcherScratch> SignatureMatcher::NewScratch() const {
  return std::make_unique<MatcherScratch>();
}

ScanOutcome SignatureMatcher::Scan(File& file, const ScanFacts& facts) const {
  return Scan(file, facts, *NewScratch());
}

}  // namespace quarn

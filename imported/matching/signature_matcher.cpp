#include "imported/matching/signature_matcher.h"

#include <hs/hs.h>

#include <algorithm>

#include "imported/matching/field_cursor.h"
#include "imported/matching/matcher_image.h"
#include "imported/matching/packed_pattern.h"
#include "imported/matching/pattern_anchor.h"
#include "imported/matching/pattern_expression.h"

namespace quarn {
namespace {

// Changes whenever the way a signature becomes an expression changes: an image compiled the
// old way is then compiled again.
constexpr uint64_t kTranslationVersion = 4;

// Positions and lengths past this are treated as boundless when bounding an expression's
// reports (and no file reaches them).
constexpr uint64_t kFarthest = uint64_t{1} << 62;

class Fingerprint {
 public:
  explicit Fingerprint(uint64_t hash = kTranslationVersion) : hash_(hash) {}
  void Add(uint64_t value) {
    hash_ = HashBytes(reinterpret_cast<const uint8_t*>(&value), 8, hash_);
  }
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
  print.Add(kLongestAnchor);
  print.Add(SignatureMatcher::kAnchorsPerDatabase);
  print.Add(count);
  return print.value();
}

// `so_far` with `signature` added, whose pattern packs to `packed`.
uint64_t FingerprintAdding(uint64_t so_far, const BodySignature& signature,
                           const std::string& packed) {
  Fingerprint print(so_far);
  print.Add(signature.index);
  print.Add(static_cast<uint64_t>(signature.target));
  const OffsetRule& rule = signature.offset;
  print.Add(static_cast<uint64_t>(rule.base));
  print.Add(static_cast<uint64_t>(rule.delta));
  print.Add(rule.range);
  print.Add(rule.section);
  return HashBytes(reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), print.value());
}

// An entry as the image keeps it: little-endian fields, in the order Serialize writes them.
constexpr size_t kEntryBytes = 4 + 1 + 1 + 1 + 8 + 4 + 4 + 8 + 8 + 8 + 4;

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

void SignatureMatcher::Prepare(Taker& taker, const BodySignature& signature, size_t position) {
  SignatureMatcher& matcher = *taker.matcher_;
  Entry& entry = matcher.entries_[position];
  entry.index = signature.index;
  entry.target = signature.target;
  entry.offset = signature.offset;
  const bool anywhere = signature.offset.base == OffsetRule::Base::kAnywhere;
  ExpressionRequest request;
  request.id = static_cast<unsigned>(position);
  if (std::optional<PatternAnchor> anchor = ChooseAnchor(signature.pattern)) {
    entry.span_min = anchor->span_min;
    entry.span_max = anchor->span_max;
    entry.check = !anchor->whole ? Check::kVerify
                  : anywhere     ? Check::kAnywhere
                                 : Check::kFixedStart;
    // One report is all a match anywhere needs.
    if (entry.check == Check::kAnywhere) request.flags = HS_FLAG_SINGLEMATCH;
    request.text = std::move(anchor->bytes);
    taker.anchors_.push_back(std::move(request));
  } else {
    PatternExpression expression = WritePatternExpression(signature.pattern);
    if (expression.text.empty()) {
      matcher.Refuse(position, "no part of the pattern can be written");
      return;
    }
    entry.span_min = expression.span_min;
    entry.span_max = expression.span_max;
    const bool fixed = expression.span_min == expression.span_max;
    entry.check = expression.exact && anywhere ? Check::kAnywhere
                  : expression.exact && fixed  ? Check::kFixedStart
                                               : Check::kVerify;
    request.flags = HS_FLAG_DOTALL;
    BoundAbsoluteEnds(signature.offset, expression, request);
    // One report is all the first kind needs; so is it for the second kind under an
    // absolute rule's least end: the first report ends no later than any match in the
    // window does, so it is in the window when any is. The others need every end.
    if (entry.check == Check::kAnywhere ||
        (entry.check == Check::kFixedStart && request.min_end != 0)) {
      request.flags |= HS_FLAG_SINGLEMATCH;
    }
    request.text = std::move(expression.text);
    taker.expressions_.push_back(std::move(request));
  }
  if (entry.check == Check::kVerify) {
    entry.packed_at = matcher.verify_patterns_.size();
    entry.packed_length = static_cast<uint32_t>(taker.packing_.size());
    matcher.verify_patterns_ += taker.packing_;
  }
}

SignatureMatcher::Taker::Taker(size_t count)
    : matcher_(new SignatureMatcher()), fingerprint_(FingerprintHead(count)) {
  matcher_->entries_.reserve(count);
}

SignatureMatcher::Taker::Taker(Taker&&) noexcept = default;
SignatureMatcher::Taker::~Taker() = default;

void SignatureMatcher::Taker::Take(const BodySignature& signature) {
  const size_t position = matcher_->entries_.size();
  matcher_->entries_.emplace_back();
  packing_.clear();
  AppendPackedPattern(signature.pattern, packing_);
  fingerprint_ = FingerprintAdding(fingerprint_, signature, packing_);
  Prepare(*this, signature, position);
}

std::optional<SignatureMatcher> SignatureMatcher::LoadTaken(Taker& taker,
                                                            std::span<const uint8_t> serialized) {
  SignatureMatcher& matcher = *taker.matcher_;
  matcher.fingerprint_ = taker.fingerprint_;
  std::optional<MatcherImage> image = ReadMatcherImage(serialized);
  const ExpectedDatabases expected{
      (taker.anchors_.size() + kAnchorsPerDatabase - 1) / kAnchorsPerDatabase,
      taker.expressions_.size()};
  if (!image || image->fingerprint != matcher.fingerprint_ ||
      !matcher.TakeImage(*image, expected)) {
    return std::nullopt;
  }
  return std::move(matcher);
}

std::optional<SignatureMatcher> SignatureMatcher::LoadImage(std::span<const uint8_t> serialized,
                                                            std::span<const uint32_t> indexes) {
  std::optional<MatcherImage> image = ReadMatcherImage(serialized);
  if (!image || image->head != FingerprintHead(indexes.size()) ||
      image->entries.size() != indexes.size() * kEntryBytes) {
    return std::nullopt;
  }
  SignatureMatcher matcher;
  matcher.fingerprint_ = image->fingerprint;
  matcher.verify_patterns_.assign(image->packed.begin(), image->packed.end());
  matcher.entries_.resize(indexes.size());
  FieldCursor fields(image->entries);
  for (size_t position = 0; position < indexes.size(); ++position) {
    Entry& entry = matcher.entries_[position];
    uint8_t target = 0;
    uint8_t check = 0;
    uint8_t base = 0;
    const bool read = fields.Get(entry.index) && fields.Get(target) && fields.Get(check) &&
                      fields.Get(base) && fields.Get(entry.offset.delta) &&
                      fields.Get(entry.offset.range) && fields.Get(entry.offset.section) &&
                      fields.Get(entry.span_min) && fields.Get(entry.span_max) &&
                      fields.Get(entry.packed_at) && fields.Get(entry.packed_length);
    const bool fits = read && entry.index == indexes[position] &&
                      target <= static_cast<uint8_t>(SignatureTarget::kOle2Stream) &&
                      check <= static_cast<uint8_t>(Check::kVerify) &&
                      base <= static_cast<uint8_t>(OffsetRule::Base::kWholeSection) &&
                      entry.packed_at <= matcher.verify_patterns_.size() &&
                      entry.packed_length <= matcher.verify_patterns_.size() - entry.packed_at;
    if (!fits) return std::nullopt;
    entry.target = static_cast<SignatureTarget>(target);
    entry.check = static_cast<Check>(check);
    entry.offset.base = static_cast<OffsetRule::Base>(base);
  }
  if (!matcher.TakeImage(*image, std::nullopt)) return std::nullopt;
  return matcher;
}

bool SignatureMatcher::TakeImage(const MatcherImage& image,
                                 std::optional<ExpectedDatabases> expected) {
  const size_t databases = image.databases.size();
  // No database of expressions is only right when every expression was refused.
  const bool counts_fit =
      !expected || databases == expected->anchors + 1 ||
      (databases == expected->anchors && image.refusals.size() >= expected->expressions);
  const bool positions_fit =
      std::all_of(image.refusals.begin(), image.refusals.end(),
                  [&](const auto& refusal) { return refusal.position < entries_.size(); });
  if (!counts_fit || !positions_fit) return false;
  std::vector<VectorscanDatabase> loaded;
  for (const std::span<const uint8_t> bytes : image.databases) {
    std::optional<VectorscanDatabase> database = VectorscanDatabase::Deserialize(bytes);
    if (!database || database->empty()) return false;
    loaded.push_back(std::move(*database));
  }
  refused_.clear();
  refused_positions_.clear();
  for (const MatcherImage::Refusal& refusal : image.refusals) {
    Refuse(refusal.position, refusal.reason);
  }
  databases_ = std::move(loaded);
  Finish();
  return true;
}

Result<SignatureMatcher> SignatureMatcher::CompileTaken(Taker taker) {
  SignatureMatcher matcher = std::move(*taker.matcher_);
  matcher.fingerprint_ = taker.fingerprint_;
  std::vector<const ExpressionRequest*> anchors;
  for (size_t first = 0; first < taker.anchors_.size(); first += kAnchorsPerDatabase) {
    anchors.clear();
    const size_t end = std::min(taker.anchors_.size(), first + kAnchorsPerDatabase);
    for (size_t at = first; at < end; ++at) anchors.push_back(&taker.anchors_[at]);
    Result<VectorscanDatabase> database = VectorscanDatabase::CompileLiterals(anchors);
    if (!database) return database.status();
    matcher.databases_.push_back(std::move(*database));
  }
  taker.anchors_ = {};
  std::vector<RefusedExpression> refused;
  Result<VectorscanDatabase> database = VectorscanDatabase::Compile(taker.expressions_, refused);
  if (!database) return database.status();
  if (!database->empty()) matcher.databases_.push_back(std::move(*database));
  for (const RefusedExpression& refusal : refused) matcher.Refuse(refusal.id, refusal.reason);
  matcher.Finish();
  return matcher;
}

Result<SignatureMatcher> SignatureMatcher::Compile(std::vector<BodySignature> signatures) {
  Taker taker(signatures.size());
  for (const BodySignature& signature : signatures) taker.Take(signature);
  signatures = {};
  return CompileTaken(std::move(taker));
}

Result<SignatureMatcher> SignatureMatcher::Load(std::vector<BodySignature> signatures,
                                                std::span<const uint8_t> serialized) {
  Taker taker(signatures.size());
  for (const BodySignature& signature : signatures) taker.Take(signature);
  signatures = {};
  if (std::optional<SignatureMatcher> loaded = LoadTaken(taker, serialized)) {
    return std::move(*loaded);
  }
  Result<SignatureMatcher> compiled = CompileTaken(std::move(taker));
  if (compiled) compiled->recompiled_ = true;
  return compiled;
}

std::vector<uint8_t> SignatureMatcher::Serialize() const {
  MatcherImage image;
  image.head = FingerprintHead(entries_.size());
  image.fingerprint = fingerprint_;
  std::vector<uint8_t> entries;
  entries.reserve(entries_.size() * kEntryBytes);
  for (const Entry& entry : entries_) {
    PutField(entries, entry.index, 4);
    PutField(entries, static_cast<uint8_t>(entry.target), 1);
    PutField(entries, static_cast<uint8_t>(entry.check), 1);
    PutField(entries, static_cast<uint8_t>(entry.offset.base), 1);
    PutField(entries, static_cast<uint64_t>(entry.offset.delta), 8);
    PutField(entries, entry.offset.range, 4);
    PutField(entries, entry.offset.section, 4);
    PutField(entries, entry.span_min, 8);
    PutField(entries, entry.span_max, 8);
    PutField(entries, entry.packed_at, 8);
    PutField(entries, entry.packed_length, 4);
  }
  image.entries = entries;
  image.packed =
      std::span(reinterpret_cast<const uint8_t*>(verify_patterns_.data()), verify_patterns_.size());
  for (size_t refusal = 0; refusal < refused_.size(); ++refusal) {
    image.refusals.push_back({refused_positions_[refusal], refused_[refusal].reason});
  }
  std::vector<std::vector<uint8_t>> databases;
  for (const VectorscanDatabase& database : databases_) {
    databases.push_back(database.Serialize());
    // An image without a database it needs would load as a matcher that misses its patterns.
    if (databases.back().empty()) return {};
    image.databases.push_back(databases.back());
  }
  return WriteMatcherImage(image);
}

void SignatureMatcher::Refuse(size_t position, const std::string& reason) {
  entries_[position].check = Check::kRefused;
  refused_.push_back({entries_[position].index, reason});
  refused_positions_.push_back(static_cast<uint32_t>(position));
}

void SignatureMatcher::Finish() {
  lowest_index_ = UINT32_MAX;
  for (const Entry& entry : entries_) {
    if (entry.check != Check::kRefused) lowest_index_ = std::min(lowest_index_, entry.index);
  }
}

std::unique_ptr<MatcherScratch> SignatureMatcher::NewScratch() const {
  return std::make_unique<MatcherScratch>();
}

ScanOutcome SignatureMatcher::Scan(File& file, const ScanFacts& facts) const {
  return Scan(file, facts, *NewScratch());
}

}  // namespace quarn

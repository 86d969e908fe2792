// One scan of a file through a SignatureMatcher: the blocks fed to Vectorscan, and each
// report judged against the signature's target and offset rule.
#include <algorithm>
#include <memory>

#include "imported/matching/allowed_starts.h"
#include "imported/matching/packed_pattern.h"
#include "imported/matching/pattern_expression.h"
#include "imported/matching/signature_matcher.h"

namespace quarn {

namespace {

// A signature's state during one scan, by expression id.
enum : uint8_t {
  kUntouched = 0,  // no report yet
  kOpen = 1,       // reported, not yet decided
  kDecided = 2,    // matched, or can match no more in this file
};

}  // namespace

class MatchSession : public MatchSink {
 public:
  MatchSession(const SignatureMatcher& matcher, MatcherScratch& scratch, File& file,
               const ScanFacts& facts)
      : matcher_(matcher),
        scratch_(scratch),
        file_(file),
        facts_(facts),
        data_end_(std::min(facts.size, facts.byte_limit)) {}

  ScanOutcome Run();
  bool OnMatch(unsigned id, uint64_t end) override;

 private:
  using Check = SignatureMatcher::Check;

  void Reset();
  uint32_t ReadBlock(uint64_t offset, uint32_t length);
  bool TargetTakesPart(SignatureTarget target) const;
  bool Found(uint32_t index, uint8_t& state);
  bool Verify(unsigned id, uint64_t end, const StartWindow& window, uint8_t& state);

  const SignatureMatcher& matcher_;
  MatcherScratch& scratch_;
  File& file_;
  const ScanFacts& facts_;
  const uint64_t data_end_;
  uint32_t best_ = UINT32_MAX;
  uint32_t unconfirmed_ = 0;
};

void MatchSession::Reset() {
  const size_t count = matcher_.entries_.size();
  if (scratch_.state_.size() != count) {
    scratch_.state_.assign(count, kUntouched);
  } else {
    for (uint32_t id : scratch_.touched_) scratch_.state_[id] = kUntouched;
  }
  scratch_.touched_.clear();
  scratch_.verified_up_to_.clear();
  scratch_.pattern_id_ = UINT32_MAX;
  scratch_.block_.resize(SignatureMatcher::kBlockSize);
  scratch_.verifier_.BeginScan(file_, data_end_, facts_.verification_budget);
}

uint32_t MatchSession::ReadBlock(uint64_t offset, uint32_t length) {
  // The verifier moves the position between blocks.
  if (!file_.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin)) return 0;
  uint32_t done = 0;
  while (done < length) {
    const uint32_t got = file_.Read(scratch_.block_.data() + done, length - done);
    if (got == 0) break;
    done += got;
  }
  return done;
}

ScanOutcome MatchSession::Run() {
  ScanOutcome outcome;
  const std::vector<VectorscanDatabase>& databases = matcher_.databases_;
  if (databases.empty() || data_end_ == 0) return outcome;
  Reset();
  auto& streams = scratch_.streams_;
  while (streams.size() < databases.size()) streams.push_back(std::make_unique<VectorscanStream>());
  for (size_t index = 0; index < databases.size(); ++index) {
    if (!streams[index]->Begin(databases[index])) {
      outcome.failed = true;
      return outcome;
    }
  }
  bool more = true;
  for (uint64_t offset = 0; more && offset < data_end_;) {
    const uint32_t wanted =
        static_cast<uint32_t>(std::min<uint64_t>(SignatureMatcher::kBlockSize, data_end_ - offset));
    const uint32_t got = ReadBlock(offset, wanted);
    if (got == 0) break;
    // A signature's reports all come from one database, so each still sees them in order.
    for (size_t index = 0; more && index < databases.size(); ++index) {
      const VectorscanStream::Fed fed = streams[index]->Feed(scratch_.block_.data(), got, *this);
      outcome.failed = fed == VectorscanStream::Fed::kFailed;
      more = fed == VectorscanStream::Fed::kMore;
    }
    if (got < wanted) break;
    offset += got;
  }
  for (size_t index = 0; index < databases.size(); ++index) streams[index]->End(*this);
  if (best_ != UINT32_MAX) outcome.signature = best_;
  outcome.unconfirmed = unconfirmed_;
  return outcome;
}

bool MatchSession::TargetTakesPart(SignatureTarget target) const {
  switch (target) {
    case SignatureTarget::kAnyFile:
      return true;
    case SignatureTarget::kPeFile:
      return facts_.target == ScanTarget::kFile && facts_.pe != nullptr;
    case SignatureTarget::kOle2Stream:
      return facts_.target == ScanTarget::kOle2Stream;
  }
  return false;
}

bool MatchSession::Found(uint32_t index, uint8_t& state) {
  state = kDecided;
  best_ = std::min(best_, index);
  // Nothing can beat the lowest index there is: the rest of the file need not be read.
  return best_ > matcher_.lowest_index_;
}

bool MatchSession::OnMatch(unsigned id, uint64_t end) {
  if (id >= matcher_.entries_.size()) return true;
  const SignatureMatcher::Entry& entry = matcher_.entries_[id];
  uint8_t& state = scratch_.state_[id];
  if (entry.index >= best_ || state == kDecided) return true;
  if (state == kUntouched) {
    state = kOpen;
    scratch_.touched_.push_back(id);
  }
  const std::optional<StartWindow> window =
      TargetTakesPart(entry.target) ? AllowedStarts(entry.offset, facts_.size, facts_.pe)
                                    : std::nullopt;
  if (!window) {
    state = kDecided;
    return true;
  }
  if (end < entry.span_min) return true;  // no report is shorter than its expression
  switch (entry.check) {
    case Check::kRefused:
      return true;
    case Check::kAnywhere:
      return Found(entry.index, state);
    case Check::kFixedStart: {
      const uint64_t start = end - entry.span_min;
      if (window->Holds(start)) return Found(entry.index, state);
      // Reports come in order of their ends: later starts are later still.
      if (start > window->last) state = kDecided;
      return true;
    }
    case Check::kVerify:
      return Verify(id, end, *window, state);
  }
  return true;
}

// Looks at the starts this report may stand for that no earlier report of the signature
// already had looked at: a start is verified once, whatever end its match has. A pattern
// with an open gap is verified from every allowed start at its first report: the verifier
// walks to the data's end for it anyway, and once is then enough to decide.
bool MatchSession::Verify(unsigned id, uint64_t end, const StartWindow& window, uint8_t& state) {
  const SignatureMatcher::Entry& entry = matcher_.entries_[id];
  uint64_t& verified_up_to = scratch_.verified_up_to_[id];
  uint64_t first = std::max(window.first, verified_up_to);
  uint64_t last = window.last;
  if (entry.span_max != kUnboundedSpan) {
    if (end > entry.span_max) first = std::max(first, end - entry.span_max);
    last = std::min(last, end - entry.span_min);
  }
  if (first <= last) {
    if (scratch_.pattern_id_ != id) {
      scratch_.pattern_id_ = UINT32_MAX;
      // Only an image damaged past its checksum holds a pattern that does not unpack: the
      // match cannot be known, so the file is not called clean.
      if (!UnpackPattern(matcher_.PackedPattern(entry), scratch_.pattern_)) {
        ++unconfirmed_;
        state = kDecided;
        return true;
      }
      scratch_.pattern_id_ = id;
    }
    const Verification verification =
        scratch_.verifier_.MatchesFromSomeStart(scratch_.pattern_, {first, last});
    if (verification == Verification::kMatch) return Found(entry.index, state);
    if (verification == Verification::kOverBudget) {
      ++unconfirmed_;
      state = kDecided;
      return true;
    }
    if (last == window.last) {
      state = kDecided;
      return true;
    }
    verified_up_to = last + 1;
  }
  if (verified_up_to > window.last) state = kDecided;
  return true;
}

ScanOutcome SignatureMatcher::Scan(File& file, const ScanFacts& facts,
                                   MatcherScratch& scratch) const {
  return MatchSession(*this, scratch, file, facts).Run();
}

}  // namespace quarn

#include "imported/matching/pattern_verifier.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace quarn {
namespace {

// No file this program reads comes near it; keeps every sum of a position and a length
// below 2^64.
constexpr uint64_t kFarthestDataEnd = uint64_t{1} << 62;

bool Passes(const PatternByte& pattern, uint8_t byte) {
  return (byte & pattern.mask) == pattern.value;
}

bool IsOpenGap(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kJump && part.max == kUnboundedJump;
}

// Calls `visit` with each index set, lowest first, while it returns true.
template <typename Visit>
void EachIndex(const auto& set, Visit visit) {
  for (size_t word = set.low; word < set.high; ++word) {
    for (uint64_t bits = set.words[word]; bits != 0; bits &= bits - 1) {
      if (!visit(uint64_t{word} * 64 + std::countr_zero(bits))) return;
    }
  }
}

}  // namespace

PatternVerifier::PatternVerifier() : block_(kBlockSize) {}

void PatternVerifier::BeginScan(File& file, uint64_t data_end, uint64_t budget) {
  file_ = &file;
  data_end_ = std::min(data_end, kFarthestDataEnd);
  budget_ = budget;
  block_start_ = 0;
  block_length_ = 0;
}

bool PatternVerifier::ByteAt(uint64_t position, uint8_t& byte) {
  if (position >= data_end_) return false;
  if (position < block_start_ || position - block_start_ >= block_length_) {
    block_start_ = position - position % kBlockSize;
    block_length_ = 0;
    const uint64_t wanted = std::min<uint64_t>(kBlockSize, data_end_ - block_start_);
    if (file_->Seek(static_cast<int64_t>(block_start_), SeekOrigin::kBegin)) {
      while (block_length_ < wanted) {
        const uint32_t got = file_->Read(block_.data() + block_length_,
                                         static_cast<uint32_t>(wanted - block_length_));
        if (got == 0) break;
        block_length_ += got;
      }
    }
    // A file shorter than it said ends here: every later position would only be read again.
    if (block_length_ < wanted) data_end_ = block_start_ + block_length_;
    if (position >= data_end_) return false;
  }
  byte = block_[position - block_start_];
  return true;
}

bool PatternVerifier::Charge(uint64_t cost) {
  if (budget_ < cost) {
    budget_ = 0;
    return false;
  }
  budget_ -= cost;
  return true;
}

bool PatternVerifier::BeginStep() {
  next_.low = next_.words.size();
  next_.high = 0;
  return Charge(set_.high > set_.low ? set_.high - set_.low : 0);
}

void PatternVerifier::Mark(uint64_t index) {
  const size_t word = index / 64;
  next_.words[word] |= uint64_t{1} << (index % 64);
  next_.low = std::min(next_.low, word);
  next_.high = std::max(next_.high, word + 1);
}

bool PatternVerifier::MarkRange(uint64_t first, uint64_t last) {
  const size_t first_word = first / 64;
  const size_t last_word = last / 64;
  if (!Charge(last_word - first_word + 1)) return false;
  for (size_t word = first_word; word <= last_word; ++word) {
    uint64_t bits = ~uint64_t{0};
    if (word == first_word) bits &= ~uint64_t{0} << (first % 64);
    if (word == last_word) bits &= ~uint64_t{0} >> (63 - last % 64);
    next_.words[word] |= bits;
  }
  next_.low = std::min(next_.low, first_word);
  next_.high = std::max(next_.high, last_word + 1);
  return true;
}

void PatternVerifier::Empty(PositionSet& set) {
  if (set.low < set.high) std::fill(set.words.begin() + set.low, set.words.begin() + set.high, 0);
  set.low = 0;
  set.high = 0;
}

void PatternVerifier::EndStep() {
  Empty(set_);
  std::swap(set_, next_);
  if (set_.low >= set_.high) Empty(set_);
}

bool PatternVerifier::StepByte(const PatternByte& pattern) {
  bool within_budget = BeginStep();
  if (within_budget) {
    EachIndex(set_, [&](uint64_t index) {
      uint8_t byte;
      if (!Charge(1)) return within_budget = false;
      // Past the data's end so are all later positions.
      if (!ByteAt(window_first_ + index, byte)) return false;
      if (Passes(pattern, byte) && index + 1 < window_positions_) Mark(index + 1);
      return true;
    });
  }
  EndStep();
  return within_budget;
}

bool PatternVerifier::StepChoice(const PatternPart& part) {
  bool within_budget = BeginStep();
  if (within_budget) {
    EachIndex(set_, [&](uint64_t index) {
      for (const std::vector<PatternByte>& choice : part.choices) {
        bool passes = true;
        for (size_t at = 0; at < choice.size() && passes; ++at) {
          uint8_t byte;
          if (!Charge(1)) return within_budget = false;
          passes = ByteAt(window_first_ + index + at, byte) && Passes(choice[at], byte);
        }
        if (passes && index + choice.size() < window_positions_) Mark(index + choice.size());
      }
      return true;
    });
  }
  EndStep();
  return within_budget;
}

bool PatternVerifier::StepGap(uint32_t min, uint32_t max) {
  bool within_budget = BeginStep();
  // The reached ranges come in order of their starts: those that touch are painted as one,
  // so the painting costs no more than the window's words.
  bool open = false;
  uint64_t first = 0;
  uint64_t last = 0;
  if (within_budget && min <= max) {
    EachIndex(set_, [&](uint64_t index) {
      if (!Charge(1)) return within_budget = false;
      const uint64_t from = index + min;
      if (from >= window_positions_) return false;
      const uint64_t to = std::min<uint64_t>(index + max, window_positions_ - 1);
      if (open && from <= last + 1) {
        last = std::max(last, to);
        return true;
      }
      if (open && !MarkRange(first, last)) return within_budget = false;
      open = true;
      first = from;
      last = to;
      return true;
    });
  }
  if (within_budget && open) within_budget = MarkRange(first, last);
  EndStep();
  return within_budget;
}

Verification PatternVerifier::EarliestEnd(const BodyPattern& pattern, size_t begin, size_t end,
                                          Run starts, uint64_t& earliest) {
  const std::span<const PatternPart> parts = std::span(pattern.parts).subspan(begin, end - begin);
  const uint64_t least = MinimumLength(parts);
  // A section has no open gap; the sum of its bounded ones may still pass any data's end.
  const uint64_t longest =
      std::min(MaximumLength(parts).value_or(kFarthestDataEnd), kFarthestDataEnd);
  // A slice as wide as the section is long reads each position at most twice over all its
  // slices; narrower ones would read the positions their windows share again and again.
  const uint64_t room = kMaxWindowPositions - std::min(longest, kMaxWindowPositions);
  const uint64_t per_slice = std::max(kStartsPerPass, std::min(longest, room));
  std::optional<uint64_t> found;
  for (uint64_t first = starts.first; first <= starts.last;) {
    // A start from here on ends at least `least` bytes on: none beats an end found before.
    if (found && first + least >= *found) break;
    uint64_t last = std::min({starts.last, first + (per_slice - 1), data_end_});
    if (found) last = std::min(last, *found - least - 1);
    if (first > last) break;  // the file was shorter than it said
    window_first_ = first;
    window_positions_ = std::min(data_end_, last + longest) - first + 1;
    if (window_positions_ > kMaxWindowPositions) return Verification::kOverBudget;
    const size_t words = (window_positions_ + 63) / 64;
    if (set_.words.size() < words) {
      set_.words.resize(words);
      next_.words.resize(words);
    }
    BeginStep();
    bool within_budget = MarkRange(0, last - first);
    EndStep();
    for (size_t index = begin; index < end && within_budget && set_.low < set_.high; ++index) {
      const PatternPart& part = pattern.parts[index];
      switch (part.kind) {
        case PatternPart::Kind::kByte:
          within_budget = StepByte(part.byte);
          break;
        case PatternPart::Kind::kChoice:
          within_budget = StepChoice(part);
          break;
        case PatternPart::Kind::kJump:
          within_budget = StepGap(part.min, part.max);
          break;
      }
    }
    if (!within_budget) {
      Empty(set_);
      return Verification::kOverBudget;
    }
    // The lowest position set is the slice's earliest end.
    if (set_.low < set_.high) {
      const uint64_t end_found =
          window_first_ + set_.low * 64 + std::countr_zero(set_.words[set_.low]);
      found = std::min(found.value_or(UINT64_MAX), end_found);
    }
    Empty(set_);
    first = last + 1;
  }
  if (!found) return Verification::kNoMatch;
  earliest = *found;
  return Verification::kMatch;
}

Verification PatternVerifier::MatchesFromSomeStart(const BodyPattern& pattern, StartWindow starts) {
  if (file_ == nullptr || pattern.parts.empty()) return Verification::kNoMatch;
  Run section_starts{starts.first, std::min(starts.last, data_end_)};
  if (section_starts.first > section_starts.last) return Verification::kNoMatch;
  for (size_t begin = 0;;) {
    size_t end = begin;
    while (end < pattern.parts.size() && !IsOpenGap(pattern.parts[end])) ++end;
    uint64_t earliest = 0;
    const Verification section = EarliestEnd(pattern, begin, end, section_starts, earliest);
    if (section != Verification::kMatch || end == pattern.parts.size()) return section;
    // Past the data's end nothing more can match; kFarthestDataEnd keeps the sum in range.
    const uint64_t next = earliest + pattern.parts[end].min;
    if (next > data_end_) return Verification::kNoMatch;
    section_starts = {next, data_end_};
    begin = end + 1;
  }
}

}  // namespace quarn

#include "imported/pattern_verifier.h"

#include <algorithm>
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

void PatternVerifier::Append(std::vector<Run>& runs, uint64_t first, uint64_t last) {
  if (!runs.empty() && first <= runs.back().last + 1) {
    runs.back().last = std::max(runs.back().last, last);
  } else {
    runs.push_back({first, last});
  }
}

bool PatternVerifier::StepByte(const PatternByte& pattern) {
  next_.clear();
  for (const Run& run : runs_) {
    for (uint64_t position = run.first; position <= run.last; ++position) {
      uint8_t byte;
      if (!Charge(1)) return false;
      if (!ByteAt(position, byte)) break;
      if (Passes(pattern, byte)) Append(next_, position + 1, position + 1);
    }
    if (next_.size() > kMaxPositionRuns) return false;
  }
  runs_.swap(next_);
  return true;
}

bool PatternVerifier::StepChoice(const PatternPart& part) {
  gathered_.clear();
  for (const std::vector<PatternByte>& choice : part.choices) {
    const size_t choice_begin = gathered_.size();
    for (const Run& run : runs_) {
      if (choice.empty()) {
        gathered_.push_back(run);
        continue;
      }
      for (uint64_t position = run.first; position <= run.last && position < data_end_;
           ++position) {
        bool passes = true;
        for (size_t index = 0; index < choice.size() && passes; ++index) {
          uint8_t byte;
          if (!Charge(1)) return false;
          passes = ByteAt(position + index, byte) && Passes(choice[index], byte);
        }
        if (!passes) continue;
        const uint64_t end = position + choice.size();
        if (gathered_.size() > choice_begin && gathered_.back().last + 1 == end) {
          gathered_.back().last = end;
        } else {
          gathered_.push_back({end, end});
        }
      }
      if (gathered_.size() > kMaxPositionRuns) return false;
    }
  }
  // The strings' runs interleave: put them in order and join those that touch.
  std::sort(gathered_.begin(), gathered_.end(),
            [](const Run& left, const Run& right) { return left.first < right.first; });
  next_.clear();
  for (const Run& run : gathered_) Append(next_, run.first, run.last);
  runs_.swap(next_);
  return true;
}

bool PatternVerifier::StepGap(uint32_t min, uint32_t max) {
  next_.clear();
  if (min <= max) {
    for (const Run& run : runs_) {
      const uint64_t first = run.first + min;
      if (first > data_end_) break;  // the runs are in order: all later ones start later
      if (!Charge(1)) return false;
      const uint64_t last = max == kUnboundedJump ? data_end_ : std::min(run.last + max, data_end_);
      Append(next_, first, last);
    }
  }
  runs_.swap(next_);
  return true;
}

Verification PatternVerifier::EarliestEnd(const BodyPattern& pattern, size_t begin, size_t end,
                                          Run starts, uint64_t& earliest) {
  const uint64_t least = MinimumLength(std::span(pattern.parts).subspan(begin, end - begin));
  std::optional<uint64_t> found;
  for (uint64_t first = starts.first; first <= starts.last;) {
    // A start from here on ends at least `least` bytes on: none beats an end found before.
    if (found && first + least >= *found) break;
    uint64_t last = std::min(starts.last, first + (kStartsPerPass - 1));
    if (found) last = std::min(last, *found - least - 1);
    runs_.assign(1, Run{first, last});
    for (size_t index = begin; index < end && !runs_.empty(); ++index) {
      const PatternPart& part = pattern.parts[index];
      bool within_budget = true;
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
      if (!within_budget) return Verification::kOverBudget;
    }
    // The runs are in order: the first one's first position is the slice's earliest end.
    if (!runs_.empty()) found = std::min(found.value_or(UINT64_MAX), runs_.front().first);
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

#include "engine/pattern_matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quarn {
namespace {

// The values whose first position is not kAbsent. From the table rather than in the loop
// that fills it: a bit set per byte there makes each step wait for the last when a value
// repeats. A position is below 256 and kAbsent is 256, so bit 8 of a value's entry says
// whether the area lacks it; four entries are read as one word and their four bits
// gathered by one multiplication.
PatternArea::ValueSet HeldValues(const std::array<uint16_t, 256>& first) {
  static_assert(PatternArea::kAbsent == 256);
  PatternArea::ValueSet held{};
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kAbsentBits = 0x0100'0100'0100'0100;
    constexpr uint64_t kGather =
        (uint64_t{1} << 45) | (uint64_t{1} << 30) | (uint64_t{1} << 15) | 1;
    // A word's sixteen groups unrolled, so that each group's shift is a constant and the
    // word is gathered in a register rather than or-ed into memory group by group.
    for (uint32_t word = 0; word < held.size(); ++word) {
      uint64_t gathered = 0;
#pragma GCC unroll 16
      for (uint32_t group = 0; group < 16; ++group) {
        uint64_t four;
        std::memcpy(&four, &first[word * 64 + group * 4], sizeof four);
        const uint64_t lanes = (~four & kAbsentBits) >> 8;  // bits 0, 16, 32, 48
        gathered |= ((lanes * kGather) >> 45 & 0xF) << (group * 4);
      }
      held[word] = gathered;
    }
  } else {
    for (uint32_t value = 0; value < 256; ++value) {
      held[value / 64] |= uint64_t{first[value] != PatternArea::kAbsent} << (value % 64);
    }
  }
  return held;
}

// kAbsent in every entry, a word of four entries at a time.
void FillAbsent(std::array<uint16_t, 256>& first) {
  static_assert(PatternArea::kAbsent == 0x0100);
  constexpr uint64_t kFourAbsent = 0x0100'0100'0100'0100;
  for (uint32_t value = 0; value < 256; value += 4) {
    std::memcpy(&first[value], &kFourAbsent, sizeof kFourAbsent);
  }
}

// Bit g set when the set holds none of the values 8g .. 8g + 7, a zero byte of the set: 0x80
// is left in each zero byte of a word and nothing elsewhere (no carry crosses a byte), and the
// eight are gathered into the top byte by one multiplication whose products never overlap.
uint32_t EmptyGroups(const PatternArea::ValueSet& values) {
  constexpr uint64_t kLow7 = 0x7F7F'7F7F'7F7F'7F7F;
  constexpr uint64_t kGatherBytes = 0x0102'0408'1020'4080;
  uint32_t empty = 0;
  for (uint32_t word = 0; word < values.size(); ++word) {
    const uint64_t x = values[word];
    const uint64_t zero = ~(((x & kLow7) + kLow7) | x | kLow7);
    empty |= static_cast<uint32_t>(((zero >> 7) * kGatherBytes) >> 56) << (word * 8);
  }
  return empty;
}

PatternArea::ValueSet Complement(const PatternArea::ValueSet& values) {
  return {~values[0], ~values[1], ~values[2], ~values[3]};
}

bool PatternBefore(const PatternEntry& a, const PatternEntry& b) {
  const auto order = std::lexicographical_compare_three_way(
      a.bytes.begin(), a.bytes.begin() + a.length, b.bytes.begin(), b.bytes.begin() + b.length);
  return order != 0 ? order < 0 : a.ordinal < b.ordinal;
}

}  // namespace

PatternArea::PatternArea(std::span<const uint8_t> bytes, PatternSurvey& survey,
                         uint32_t survey_after)
    : bytes_(bytes.first(std::min(bytes.size(), kMaxSize))),
      searches_left_(survey_after),
      survey_(&survey) {
  FillAbsent(first_);
  // Backwards, so that each value's earliest position is written last; four at a time,
  // as the loop's own bookkeeping cost as much as its stores.
  const uint8_t* byte = bytes_.data();
  uint32_t at = static_cast<uint32_t>(bytes_.size());
  for (; at >= 4; at -= 4) {
    first_[byte[at - 1]] = static_cast<uint16_t>(at - 1);
    first_[byte[at - 2]] = static_cast<uint16_t>(at - 2);
    first_[byte[at - 3]] = static_cast<uint16_t>(at - 3);
    first_[byte[at - 4]] = static_cast<uint16_t>(at - 4);
  }
  for (; at > 0; --at) first_[byte[at - 1]] = static_cast<uint16_t>(at - 1);
  if (!bytes_.empty()) present_ = HeldValues(first_);
  empty_groups_ = EmptyGroups(present_);
  if (survey_after == 0) Survey();
}

void PatternArea::Survey() const {
  std::array<std::array<uint64_t, kWords>, 256>& positions = survey_->positions;
  positions = {};
  for (uint32_t at = 0; at < bytes_.size(); ++at) {
    positions[bytes_[at]][at / 64] |= uint64_t{1} << (at % 64);
  }
  surveyed_ = true;
}

uint32_t PatternArea::Search(uint32_t from, uint8_t value) const {
  if (from >= bytes_.size()) return kAbsent;
  const void* found = std::memchr(bytes_.data() + from, value, bytes_.size() - from);
  return found == nullptr
             ? kAbsent
             : static_cast<uint32_t>(static_cast<const uint8_t*>(found) - bytes_.data());
}

PatternTrie::PatternTrie(std::vector<PatternEntry> entries) : entries_(std::move(entries)) {
  if (entries_.empty()) return;
  std::sort(entries_.begin(), entries_.end(), PatternBefore);
  entry_values_.resize(entries_.size());
  entry_groups_.resize(entries_.size());
  for (size_t e = 0; e < entries_.size(); ++e) {
    for (uint8_t k = 0; k < entries_[e].length; ++k) {
      const uint8_t value = entries_[e].bytes[k];
      entry_values_[e][value / 64] |= uint64_t{1} << (value % 64);
      entry_groups_[e] |= uint32_t{1} << (value / 8);
    }
  }
  nodes_.push_back({0, static_cast<uint32_t>(entries_.size())});
  last_bytes_.push_back(0);
  max_windows_.push_back(0);
  shared_groups_.push_back(0);
  // Breadth first: the nodes vector is its own queue, and each node's children are
  // appended together.
  for (size_t i = 0; i < nodes_.size(); ++i) {
    Node node = nodes_[i];
    node.min_ordinal = UINT16_MAX;
    shared_groups_[i] = UINT32_MAX;
    for (uint32_t e = node.begin; e < node.end; ++e) {
      shared_groups_[i] &= entry_groups_[e];
      node.min_ordinal = std::min(node.min_ordinal, entries_[e].ordinal);
      node.max_ordinal = std::max(node.max_ordinal, entries_[e].ordinal);
      max_windows_[i] = std::max(max_windows_[i], entries_[e].window);
    }
    node.terminals_end = node.begin;
    node.first_child = static_cast<uint32_t>(nodes_.size());
    if (node.end - node.begin > kLeafEntries) {
      while (node.terminals_end < node.end && entries_[node.terminals_end].length == node.depth) {
        ++node.terminals_end;
      }
      for (uint32_t e = node.terminals_end; e < node.end;) {
        const uint8_t byte = entries_[e].bytes[node.depth];
        uint32_t last = e;
        while (last < node.end && entries_[last].bytes[node.depth] == byte) ++last;
        Node child;
        child.begin = e;
        child.end = last;
        child.depth = static_cast<uint8_t>(node.depth + 1);
        nodes_.push_back(child);
        last_bytes_.push_back(byte);
        max_windows_.push_back(0);
        shared_groups_.push_back(0);
        ++node.child_count;
        e = last;
      }
    }
    if (node.child_count >= kChildSetFrom) {
      node.child_set = static_cast<uint32_t>(child_sets_.size());
      PatternArea::ValueSet& bytes = child_sets_.emplace_back();
      std::array<uint8_t, 256>& places = child_places_.emplace_back();
      for (uint32_t child = node.first_child; child < nodes_.size(); ++child) {
        bytes[last_bytes_[child] / 64] |= uint64_t{1} << (last_bytes_[child] % 64);
        places[last_bytes_[child]] = static_cast<uint8_t>(child - node.first_child);
      }
    }
    nodes_[i] = node;
  }
}

int32_t PatternTrie::FirstMatch(const PatternArea& area, int32_t after, int32_t below) const {
  int32_t best = below;
  if (!nodes_.empty()) Visit(nodes_[0], 0, area, after, best);
  return best;
}

// `end` is one past the position of the prefix's last byte (0 at the root).
void PatternTrie::Visit(const Node& node, uint32_t end, const PatternArea& area, int32_t after,
                        int32_t& best) const {
  if (node.max_ordinal <= after || node.min_ordinal >= best) return;
  if (node.end - node.begin <= kLeafEntries) {
    if (LeafMayMatch(node, area.empty_groups(), Complement(area.present()))) {
      VisitLeaf(node, end, area, after, best);
    }
    return;
  }
  for (uint32_t e = node.begin; e < node.terminals_end; ++e) {
    const PatternEntry& entry = entries_[e];
    if (entry.ordinal >= best) break;  // equal patterns come by ordinal
    if (entry.ordinal > after && end <= entry.window) {
      best = entry.ordinal;
      break;
    }
  }
  // The children in reach first, without a branch on the bytes, then those alone.
  std::array<uint32_t, 256> reached;
  std::array<uint16_t, 256> reached_end;
  size_t count = 0;
  if (node.child_set == kNoChildSet) {
    const uint32_t last = node.first_child + node.child_count;
    for (uint32_t child = node.first_child; child != last; ++child) {
      TryChild(child, end, area, reached.data(), reached_end.data(), count);
    }
  } else {
    const PatternArea::ValueSet& bytes = child_sets_[node.child_set];
    const std::array<uint8_t, 256>& places = child_places_[node.child_set];
    for (uint32_t word = 0; word < bytes.size(); ++word) {
      for (uint64_t tried = bytes[word] & area.present()[word]; tried != 0; tried &= tried - 1) {
        const uint32_t byte = word * 64 + static_cast<uint32_t>(__builtin_ctzll(tried));
        TryChild(node.first_child + places[byte], end, area, reached.data(), reached_end.data(),
                 count);
      }
    }
  }
  // Most children of a wide node are leaves: they are searched here rather than through
  // a call that would only find out they are, and most are let go for a value the area
  // lacks before their ordinals are looked at.
  const PatternArea::ValueSet absent = Complement(area.present());
  for (size_t i = 0; i < count; ++i) {
    const Node& child = nodes_[reached[i]];
    if (child.end - child.begin <= kLeafEntries) {
      if (!LeafMayMatch(child, area.empty_groups(), absent)) continue;
      if (child.max_ordinal <= after || child.min_ordinal >= best) continue;
      VisitLeaf(child, reached_end[i], area, after, best);
    } else {
      if (child.max_ordinal <= after || child.min_ordinal >= best) continue;
      Visit(child, reached_end[i], area, after, best);
    }
  }
}

inline void PatternTrie::TryChild(uint32_t child, uint32_t end, const PatternArea& area,
                                  uint32_t* reached, uint16_t* reached_end, size_t& count) const {
  const uint8_t byte = last_bytes_[child];
  const uint32_t at = end == 0 ? area.First(byte) : area.Next(end, byte);
  reached[count] = child;
  reached_end[count] = static_cast<uint16_t>(at + 1);
  count += (at < max_windows_[child]) & ((shared_groups_[child] & area.empty_groups()) == 0);
}

// Without a call, nor a look at ordinals or windows: in a large section most leaves a file
// reaches hold no entry whose values the area holds, and they are let go at this cost.
inline bool PatternTrie::LeafMayMatch(const Node& node, uint32_t empty_groups,
                                      const PatternArea::ValueSet& absent) const {
  for (uint32_t e = node.begin; e < node.end; ++e) {
    if ((entry_groups_[e] & empty_groups) != 0) continue;
    const PatternArea::ValueSet& values = entry_values_[e];
    if (((values[0] & absent[0]) | (values[1] & absent[1]) | (values[2] & absent[2]) |
         (values[3] & absent[3])) == 0) {
      return true;
    }
  }
  return false;
}

void PatternTrie::VisitLeaf(const Node& node, uint32_t end, const PatternArea& area, int32_t after,
                            int32_t& best) const {
  const PatternArea::ValueSet& present = area.present();
  for (uint32_t e = node.begin; e < node.end; ++e) {
    const PatternEntry& entry = entries_[e];
    if (entry.ordinal <= after || entry.ordinal >= best) continue;
    const PatternArea::ValueSet& values = entry_values_[e];
    uint64_t missing = 0;
    for (size_t word = 0; word < values.size(); ++word) missing |= values[word] & ~present[word];
    if (missing != 0) continue;
    // The leaf was let in by the largest window of its entries, not by this one's.
    bool found = end <= entry.window;
    uint32_t from = end;
    for (uint8_t k = node.depth; found && k < entry.length; ++k) {
      const uint32_t at = area.Next(from, entry.bytes[k]);
      found = at < entry.window;
      from = at + 1;
    }
    if (found) best = entry.ordinal;
  }
}

}  // namespace quarn

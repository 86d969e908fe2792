#include "engine/pattern_matcher.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quarn {
namespace {

// The values the bytes hold: a mark per value, then each eight marks gathered into eight bits
// by one multiplication (mark i lands on bit 56 + i, and no two products meet). A bit or-ed
// into the set per byte would make each step wait for the last when a value repeats, as most
// do in an area.
PatternArea::ValueSet HeldValues(std::span<const uint8_t> bytes) {
  std::array<uint8_t, 256> marks{};
  const uint8_t* byte = bytes.data();
  size_t at = 0;
  for (; at + 4 <= bytes.size(); at += 4) {
    marks[byte[at]] = 1;
    marks[byte[at + 1]] = 1;
    marks[byte[at + 2]] = 1;
    marks[byte[at + 3]] = 1;
  }
  for (; at < bytes.size(); ++at) marks[byte[at]] = 1;
  PatternArea::ValueSet held{};
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t kGather = 0x0102'0408'1020'4080;
    for (uint32_t word = 0; word < held.size(); ++word) {
      uint64_t gathered = 0;
#pragma GCC unroll 8
      for (uint32_t group = 0; group < 8; ++group) {
        uint64_t eight;
        std::memcpy(&eight, &marks[word * 64 + group * 8], sizeof eight);
        gathered |= ((eight * kGather) >> 56) << (group * 8);
      }
      held[word] = gathered;
    }
  } else {
    for (uint32_t value = 0; value < 256; ++value) {
      held[value / 64] |= uint64_t{marks[value]} << (value % 64);
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

// Bits 0, 2, .. 30 of `bits` as bits 0 .. 15: for each wide group, of the values 16w ..
// 16w + 15, the bit of its first group of eight, into which the caller has folded its second.
uint32_t WideGroups(uint32_t bits) {
  bits &= 0x5555'5555;
  bits = (bits | bits >> 1) & 0x3333'3333;
  bits = (bits | bits >> 2) & 0x0F0F'0F0F;
  bits = (bits | bits >> 4) & 0x00FF'00FF;
  return (bits | bits >> 8) & 0xFFFF;
}

// Bit s of the table for each set s of wide groups: whether some set the table holds lies
// within s. Each wide group in turn, every set without it passes its bit to the set with it.
void CloseUpwards(std::vector<uint64_t>& table) {
  constexpr std::array<uint64_t, 6> kWithout = {0x5555'5555'5555'5555, 0x3333'3333'3333'3333,
                                                0x0F0F'0F0F'0F0F'0F0F, 0x00FF'00FF'00FF'00FF,
                                                0x0000'FFFF'0000'FFFF, 0x0000'0000'FFFF'FFFF};
  for (uint32_t wide = 0; wide < kWithout.size(); ++wide) {
    for (uint64_t& word : table) word |= (word & kWithout[wide]) << (1u << wide);
  }
  for (size_t step = 1; step < table.size(); step *= 2) {
    for (size_t word = 0; word < table.size(); ++word) {
      if ((word & step) != 0) table[word] |= table[word - step];
    }
  }
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
  if (!bytes_.empty()) present_ = HeldValues(bytes_);
  empty_groups_ = EmptyGroups(present_);
  if (survey_after == 0) Survey();
}

void PatternArea::TableFirst() const {
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
  tabled_ = true;
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
  fit_wide_groups_.assign((1u << 16) / 64, 0);
  for (size_t e = 0; e < entries_.size(); ++e) {
    const uint32_t wide = WideGroups(entry_groups_[e] | entry_groups_[e] >> 1);
    fit_wide_groups_[wide / 64] |= uint64_t{1} << (wide % 64);
  }
  CloseUpwards(fit_wide_groups_);
  entry_groups_.resize((entries_.size() + kHoldBlock - 1) / kHoldBlock * kHoldBlock, UINT32_MAX);
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
  if (!nodes_.empty() && AnyMayHold(area.empty_groups())) Visit(nodes_[0], 0, area, after, best);
  return best;
}

bool PatternTrie::AnyMayHold(uint32_t empty_groups) const {
  // The padding holds every group, so that it is let go whenever any group is empty.
  if (empty_groups == 0) return true;
  const uint32_t wide = ~WideGroups(empty_groups & empty_groups >> 1) & 0xFFFF;
  if ((fit_wide_groups_[wide / 64] >> (wide % 64) & 1) == 0) return false;
  // Four entries to a step: a comparison of lanes gives all ones where the entry lacks
  // every empty group.
  using Lanes = uint32_t __attribute__((vector_size(16)));
  using Flags = int32_t __attribute__((vector_size(16)));
  constexpr size_t kLanes = sizeof(Lanes) / sizeof(uint32_t);
  const Lanes empty = Lanes{} + empty_groups;
  const uint32_t* groups = entry_groups_.data();
  for (size_t block = 0; block < entry_groups_.size(); block += kHoldBlock) {
    Flags held{};
#pragma GCC unroll 8
    for (size_t e = block; e < block + kHoldBlock; e += kLanes) {
      Lanes four;
      std::memcpy(&four, groups + e, sizeof four);
      held |= (four & empty) == 0;
    }
    if ((held[0] | held[1] | held[2] | held[3]) != 0) return true;
  }
  return false;
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

#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quarn {

// Where an area keeps its survey: 8 KiB that the caller provides and never clears, so that
// an area that is never surveyed costs nothing for it.
struct PatternSurvey {
  std::array<std::array<uint64_t, 256 / 64>, 256> positions;  // by value, a bit per position
};

// One area pattern records are searched in (at most 256 bytes), with the set of values it
// holds, so that the next occurrence of a value from any position costs a search of the
// bytes, which the area refers to. The first position of every value is tabled when first
// asked for: most files hold none of a section's patterns, which the set tells, and tabling
// cost more than the set. Once the area has been searched often, it surveys every position of
// every value, after which a next occurrence costs a few word operations: clearing and filling
// those 8 KiB costs more than a small section's whole search, and a section of a few thousand
// records rarely asks for more than a few dozen searches. Never allocates.
class PatternArea {
 public:
  static constexpr size_t kMaxSize = 256;
  static constexpr uint32_t kAbsent = kMaxSize;
  // Searches an area answers from its bytes before it surveys them.
  static constexpr uint32_t kSurveyAfter = 24;
  static constexpr uint32_t kNeverSurvey = UINT32_MAX;

  // Bytes beyond kMaxSize are not searched; `bytes` and `survey` must outlive the area, and
  // `survey` serves this area only.
  PatternArea(std::span<const uint8_t> bytes, PatternSurvey& survey,
              uint32_t survey_after = kSurveyAfter);

  // A set of byte values: bit v % 64 of word v / 64 stands for the value v.
  using ValueSet = std::array<uint64_t, 256 / 64>;

  // The values the area holds.
  const ValueSet& present() const { return present_; }
  // Bit g stands for the values 8g .. 8g + 7 and is set when the area holds none of them. An
  // area holds few values, most of them close together (text, headers, zeros), so that most
  // patterns want a value from a group it lacks, which one word operation tells.
  uint32_t empty_groups() const { return empty_groups_; }
  // Next(0, value), from a table.
  uint32_t First(uint8_t value) const {
    if (!tabled_) TableFirst();
    return first_[value];
  }

  // The first position at or after `from` (at most kMaxSize) that holds `value`, or kAbsent.
  // Surveyed, without a branch on the bytes: which way a search goes in a file's bytes is as
  // good as random, and mispredicted branches were most of its cost.
  uint32_t Next(uint32_t from, uint8_t value) const {
    if (!surveyed_) {
      if (searches_left_ != 0) {
        --searches_left_;
        return Search(from, value);
      }
      Survey();
    }
    const std::array<uint64_t, kWords>& row = survey_->positions[value];
    const uint32_t first_word = from / 64;
    std::array<uint64_t, kWords + 1> later{};
    uint32_t found = 1u << kWords;
    for (uint32_t word = 0; word < kWords; ++word) {
      const uint64_t keep = word > first_word    ? ~uint64_t{0}
                            : word == first_word ? ~uint64_t{0} << (from % 64)
                                                 : 0;
      later[word] = row[word] & keep;
      found |= static_cast<uint32_t>(later[word] != 0) << word;
    }
    later[kWords] = 1;  // so that "none" comes out as kWords * 64, which is kAbsent
    const uint32_t word = static_cast<uint32_t>(__builtin_ctz(found));
    return word * 64 + static_cast<uint32_t>(__builtin_ctzll(later[word]));
  }

 private:
  static constexpr uint32_t kWords = kMaxSize / 64;

  // Next() without the survey.
  uint32_t Search(uint32_t from, uint8_t value) const;
  void Survey() const;
  void TableFirst() const;

  std::span<const uint8_t> bytes_;
  // The survey is a cache of the bytes: filling it does not change what the area answers.
  mutable uint32_t searches_left_;
  mutable bool surveyed_ = false;
  PatternSurvey* survey_;  // filled once surveyed_
  ValueSet present_{};
  uint32_t empty_groups_ = 0;
  // Like the survey, a cache of the bytes.
  mutable bool tabled_ = false;
  mutable std::array<uint16_t, 256> first_;
};

// What the matcher needs of one PatternRecord whose length is 1–15.
struct PatternEntry {
  static constexpr uint8_t kMaxLength = 15;
  uint16_t ordinal = 0;  // in walk order
  uint8_t window = 0;
  uint8_t length = 0;
  std::array<uint8_t, kMaxLength> bytes{};
};

// Every pattern searched in one area, in a trie of their bytes. A record matches when its
// bytes occur in order, anything between, among the first `window` bytes of the area. Taking
// each byte's first occurrence after the previous one ends a prefix as early as any
// placement can, so that one position per trie node decides for every record below it:
// a subtree is left as soon as its next byte lies at or past the largest window beneath, and
// each record is held to its own window where its pattern ends (or, among the few records of
// a leaf, where its remaining bytes are searched one by one).
class PatternTrie {
 public:
  PatternTrie() = default;
  explicit PatternTrie(std::vector<PatternEntry> entries);

  // The smallest ordinal greater than `after` whose record matches in `area` and is below
  // `below`, else `below`. Never allocates; recursion is as deep as the longest pattern.
  int32_t FirstMatch(const PatternArea& area, int32_t after, int32_t below) const;

  bool empty() const { return nodes_.empty(); }

 private:
  struct Node {
    uint32_t begin = 0;  // entries_[begin .. end) share the node's prefix
    uint32_t end = 0;
    uint32_t terminals_end = 0;  // entries_[begin .. terminals_end) end at this node
    uint32_t first_child = 0;
    uint16_t child_count = 0;
    uint16_t min_ordinal = 0;  // over entries_[begin .. end)
    uint16_t max_ordinal = 0;
    uint8_t depth = 0;  // the prefix's length
    // A node with many children keeps the set of their bytes in child_sets_[child_set], so
    // that only the children whose byte the area holds are tried (a text holds few values),
    // and each child's place among them by its byte in child_places_[child_set].
    uint32_t child_set = kNoChildSet;
  };
  static constexpr uint32_t kNoChildSet = UINT32_MAX;
  // A node with this many entries or fewer is a leaf: each entry is tried on its own, most
  // of them turned away at once because the area lacks one of their values.
  static constexpr uint32_t kLeafEntries = 8;
  static constexpr uint16_t kChildSetFrom = 16;  // children

  // Entries looked at together by AnyMayHold, without a branch between them.
  static constexpr size_t kHoldBlock = 32;

  // False when every entry wants a value of a group the area lacks entirely. Most files hold
  // none of a large section's patterns: this tells so by one look into fit_wide_groups_ for
  // most of them, and from the entries' groups side by side for the rest, either a fraction
  // of what a visit to the trie's first level costs.
  bool AnyMayHold(uint32_t empty_groups) const;
  void Visit(const Node& node, uint32_t end, const PatternArea& area, int32_t after,
             int32_t& best) const;
  // Notes the child if its byte lies below its subtree's largest window.
  void TryChild(uint32_t child, uint32_t end, const PatternArea& area, uint32_t* reached,
                uint16_t* reached_end, size_t& count) const;
  // False when no entry of the leaf can match: each wants a value the area lacks, most of
  // them a value of a group it lacks entirely.
  bool LeafMayMatch(const Node& node, uint32_t empty_groups,
                    const PatternArea::ValueSet& absent) const;
  void VisitLeaf(const Node& node, uint32_t end, const PatternArea& area, int32_t after,
                 int32_t& best) const;

  // Sorted by bytes, a pattern before its extensions, equal patterns by ordinal.
  std::vector<PatternEntry> entries_;
  // By entry: the values its pattern holds. An area that lacks one of them cannot hold the
  // pattern, which a leaf learns in four word operations before searching byte by byte.
  std::vector<PatternArea::ValueSet> entry_values_;
  // By entry: bit g when its pattern holds one of the values 8g .. 8g + 7. Filled with every
  // group up to a whole number of kHoldBlock.
  std::vector<uint32_t> entry_groups_;
  // Bit s (of word s / 64) for each set s of wide groups, wide group w the values 16w ..
  // 16w + 15: whether some entry's values all lie in the wide groups of s. An area whose
  // values lie in those of s holds none of the patterns unless bit s is set.
  std::vector<uint64_t> fit_wide_groups_;
  std::vector<Node> nodes_;  // breadth first: a node's children lie side by side
  // By node, apart from the nodes, so that trying a node's children reads two bytes each:
  // the prefix's last byte, and the largest window over entries_[begin .. end).
  std::vector<uint8_t> last_bytes_;
  std::vector<uint8_t> max_windows_;
  // By node: the groups of values every entry of entries_[begin .. end) holds one of. An area
  // that lacks one of them holds none of the node's patterns, so that the node is left before
  // its entries or children are looked at: two entries share more groups than their first byte's
  // often enough that most leaves of a large section go this way.
  std::vector<uint32_t> shared_groups_;
  std::vector<PatternArea::ValueSet> child_sets_;
  std::vector<std::array<uint8_t, 256>> child_places_;
};

}  // namespace quarn

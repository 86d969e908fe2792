#pragma once

// Random imported signatures and files that hold their matches, for the matcher's
// differential test and fuzz target: every construct of a body pattern, every offset form,
// every target, and files (plain or PE images of a few sections) with matches planted where
// the rules allow and near misses one byte off. The same seed gives the same signatures and
// files. Bytes come from an alphabet of 16, so that partial matches abound and whole ones by
// chance are rare.
#include <algorithm>
#include <cstdint>
#include <numeric>
#include <optional>
#include <random>
#include <vector>

#include "engine/test_support/executable_builder.h"
#include "imported/matching/allowed_starts.h"
#include "imported/matching/pe_layout.h"
#include "imported/matching/signature_matcher.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::testing {

class RandomSignatures {
 public:
  explicit RandomSignatures(uint32_t seed) : random_(seed) {}

  // `count` signatures with distinct indices in shuffled order.
  std::vector<BodySignature> Signatures(size_t count) {
    std::vector<uint32_t> indices(count);
    std::iota(indices.begin(), indices.end(), 100);
    std::shuffle(indices.begin(), indices.end(), random_);
    std::vector<BodySignature> signatures;
    for (uint32_t index : indices) {
      signatures.push_back({index, Pattern(), Rule(), Target()});
    }
    return signatures;
  }

  // A file of `size` bytes (or a PE image of about that size) holding `plants` matches of
  // the signatures, more than half of them spoilt by one byte or moved one byte off.
  std::vector<uint8_t> File(const std::vector<BodySignature>& signatures, size_t size, bool pe,
                            int plants) {
    std::vector<uint8_t> bytes = pe ? PeImage(size) : std::vector<uint8_t>(size);
    const size_t headers = pe ? 0x200 : 0;
    for (size_t at = headers; at < bytes.size(); ++at) bytes[at] = Letter();
    for (int plant = 0; plant < plants && !signatures.empty(); ++plant) {
      Plant(signatures[Below(signatures.size())], bytes);
    }
    return bytes;
  }

  // Bytes the pattern matches: each gap at a short length, each choice any of its strings.
  std::vector<uint8_t> Instance(const BodyPattern& pattern) {
    std::vector<uint8_t> bytes;
    for (const PatternPart& part : pattern.parts) {
      switch (part.kind) {
        case PatternPart::Kind::kByte:
          bytes.push_back(Passing(part.byte));
          break;
        case PatternPart::Kind::kChoice:
          for (const PatternByte& byte : part.choices[Below(part.choices.size())]) {
            bytes.push_back(Passing(byte));
          }
          break;
        case PatternPart::Kind::kJump: {
          const uint32_t most = part.max == kUnboundedJump ? part.min + 40 : part.max;
          const uint32_t length = part.min + Below(std::min<uint32_t>(most - part.min, 12) + 1);
          for (uint32_t gap = 0; gap < length; ++gap) bytes.push_back(Letter());
          break;
        }
      }
    }
    return bytes;
  }

  // Puts a match of `signature` into `bytes` where its rule allows (anywhere when the file
  // cannot hold it there): spoilt or moved one byte off, or after another match close
  // before it, or just so.
  void Plant(const BodySignature& signature, std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> instance = Instance(signature.pattern);
    if (instance.size() >= bytes.size()) return;
    const size_t room = bytes.size() - instance.size();
    const std::optional<PeLayout> layout = LayoutOf(bytes);
    const std::optional<StartWindow> window =
        AllowedStarts(signature.offset, bytes.size(), layout ? &*layout : nullptr);
    size_t start = Below(room + 1);
    if (window && window->first <= room) {
      const uint64_t last = std::min<uint64_t>({window->last, room, window->first + 64});
      start = static_cast<size_t>(window->first + Below(last - window->first + 1));
    }
    switch (Below(5)) {
      case 0:
        instance[Below(instance.size())] ^= 0x01;
        break;
      case 1:
        start = start + 1 <= room ? start + 1 : start;
        break;
      case 2:
        start = start > 0 ? start - 1 : start;
        break;
      case 3: {
        // Another match a little before, overlapping or not: a report before the one that
        // counts, whose starts the rule may not allow.
        const size_t before = start - std::min(start, 1 + Below(instance.size() + 2));
        const std::vector<uint8_t> other = Instance(signature.pattern);
        const size_t length = std::min(other.size(), bytes.size() - before);
        std::copy_n(other.begin(), length, bytes.begin() + static_cast<ptrdiff_t>(before));
        break;
      }
    }
    std::copy(instance.begin(), instance.end(), bytes.begin() + static_cast<ptrdiff_t>(start));
  }

  // At `at`, a match of `signature` whole (for a match across a block's end).
  void PlantAt(const BodySignature& signature, size_t at, std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> instance = Instance(signature.pattern);
    if (at + instance.size() > bytes.size()) return;
    std::copy(instance.begin(), instance.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
  }

  size_t Below(size_t bound) { return bound == 0 ? 0 : random_() % bound; }

 private:
  static constexpr uint8_t kAlphabet[] = {0x00, 0x01, 0x10, 0x41, 0x42, 0x43, 0x4D, 0x5A,
                                          0x90, 0xA5, 0xC3, 0xCC, 0xE8, 0xE9, 0xF0, 0xFF};

  uint8_t Letter() { return kAlphabet[Below(sizeof(kAlphabet))]; }

  uint8_t Passing(const PatternByte& byte) {
    for (int attempt = 0; attempt < 64; ++attempt) {
      const uint8_t candidate = attempt < 16 ? Letter() : static_cast<uint8_t>(random_());
      if ((candidate & byte.mask) == byte.value) return candidate;
    }
    return byte.value;
  }

  PatternByte RandomByte() {
    const uint8_t letter = Letter();
    switch (Below(10)) {
      case 0:
        return {static_cast<uint8_t>(letter & 0xF0), 0xF0};
      case 1:
        return {static_cast<uint8_t>(letter & 0x0F), 0x0F};
      case 2:
        return {0, 0};
      default:
        return {letter, 0xFF};
    }
  }

  PatternPart Atom() {
    if (Below(8) != 0) return {PatternPart::Kind::kByte, RandomByte(), 0, 0, {}};
    PatternPart choice{PatternPart::Kind::kChoice, {}, 0, 0, {}};
    const size_t strings = 2 + Below(2);
    for (size_t string = 0; string < strings; ++string) {
      choice.choices.emplace_back();
      const size_t length = 1 + Below(3);
      for (size_t at = 0; at < length; ++at) choice.choices.back().push_back(RandomByte());
    }
    return choice;
  }

  uint32_t Up(size_t bound) { return static_cast<uint32_t>(Below(bound)); }

  // "{n}", "{n-m}", "{-m}", at most one "*" or "{n-}", and gaps longer than the matcher
  // writes as they are.
  PatternPart Gap(bool& open_used) {
    const size_t roll = Below(10);
    uint32_t min = Up(4);
    uint32_t max = min + 1 + Up(6);
    if (roll < 3) {
      min = max = Up(6);
    } else if (roll == 5) {
      min = 0;
      max = 1 + Up(8);
    } else if (roll >= 6 && roll < 8 && !open_used) {
      open_used = true;
      min = Up(2) * Up(5);
      max = kUnboundedJump;
    } else if (roll >= 6) {
      min = 60 + Up(10);
      max = min + Up(30);
    }
    return {PatternPart::Kind::kJump, {}, min, max, {}};
  }

  // Atoms around a core of four or five whole bytes, a gap between atoms now and then.
  BodyPattern Pattern() {
    BodyPattern pattern;
    bool open_used = false;
    const auto atoms = [&](size_t count) {
      for (size_t atom = 0; atom < count; ++atom) {
        if (!pattern.parts.empty() && Below(4) == 0) pattern.parts.push_back(Gap(open_used));
        pattern.parts.push_back(Atom());
      }
    };
    atoms(Below(4));
    if (!pattern.parts.empty() && Below(3) == 0) pattern.parts.push_back(Gap(open_used));
    for (size_t core = 4 + Below(2); core > 0; --core) {
      pattern.parts.push_back({PatternPart::Kind::kByte, {Letter(), 0xFF}, 0, 0, {}});
    }
    atoms(Below(4));
    return pattern;
  }

  OffsetRule Rule() {
    using Base = OffsetRule::Base;
    static constexpr Base kBases[20] = {
        Base::kAbsolute,     Base::kAbsolute,     Base::kAbsolute,     Base::kEndOfFile,
        Base::kEndOfFile,    Base::kEndOfFile,    Base::kEntryPoint,   Base::kEntryPoint,
        Base::kEntryPoint,   Base::kSectionStart, Base::kSectionStart, Base::kLastSection,
        Base::kWholeSection, Base::kWholeSection};  // the rest anywhere
    static constexpr uint32_t kRanges[] = {0, 0, 0, 1, 3, 16, 300, 5000};
    OffsetRule rule{kBases[Below(20)], 0, kRanges[Below(8)], Up(5)};
    switch (rule.base) {
      case Base::kAnywhere:
        return OffsetRule{};
      case Base::kAbsolute:
        rule.delta = Up(3000);
        break;
      case Base::kEndOfFile:
        rule.delta = -static_cast<int64_t>(Up(3000));
        break;
      case Base::kEntryPoint:
        rule.delta = static_cast<int64_t>(Up(129)) - 64;
        break;
      case Base::kSectionStart:
      case Base::kLastSection:
        rule.delta = Up(64);
        break;
      case Base::kWholeSection:
        rule.range = 0;
        break;
    }
    return rule;
  }

  SignatureTarget Target() {
    const size_t roll = Below(10);
    return roll < 7 ? SignatureTarget::kAnyFile
                    : (roll < 9 ? SignatureTarget::kPeFile : SignatureTarget::kOle2Stream);
  }

  // One to four sections one after the other from 0x200, the entry point in one of them
  // (or, now and then, in none).
  std::vector<uint8_t> PeImage(size_t size) {
    PeBuilder builder;
    const uint32_t sections = 1 + static_cast<uint32_t>(Below(4));
    const uint32_t each = std::max<uint32_t>(0x40, static_cast<uint32_t>(size / (sections + 1)));
    builder.SectionRawPointer(0x200).SectionRawSize(each).SectionVirtualSize(each);
    for (uint32_t section = 1; section < sections; ++section) {
      builder.AddSection(0x1000 * (section + 1), each, 0x200 + section * each, each);
    }
    const uint32_t in = static_cast<uint32_t>(Below(sections));
    const uint32_t entry =
        Below(10) == 0 ? 0x40 : 0x1000 * (in + 1) + static_cast<uint32_t>(Below(each));
    builder.EntryPoint(entry).Size(std::max<size_t>(size, 0x200 + sections * each));
    return builder.Build();
  }

  static std::optional<PeLayout> LayoutOf(const std::vector<uint8_t>& bytes) {
    MemoryFileSystem files;
    if (!files.AddFile("/file", bytes).ok()) return std::nullopt;
    auto root = files.OpenFolder("/");
    if (!root.ok()) return std::nullopt;
    auto file = (*root)->OpenFile("file", OpenMode::kRead);
    if (!file.ok()) return std::nullopt;
    return ReadPeLayout(**file);
  }

  std::mt19937 random_;
};

}  // namespace quarn::testing

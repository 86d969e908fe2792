#include "imported/matching/packed_pattern.h"

#include "imported/matching/field_cursor.h"

namespace quarn {
namespace {

enum Tag : uint8_t { kWholeRun, kMaskedByte, kJump, kChoice };

bool IsWhole(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kByte && part.byte.mask == 0xFF;
}

}  // namespace

void AppendPackedPattern(const BodyPattern& pattern, std::string& packed) {
  const std::vector<PatternPart>& parts = pattern.parts;
  PutField(packed, parts.size(), 4);
  for (size_t at = 0; at < parts.size();) {
    const PatternPart& part = parts[at];
    if (IsWhole(part)) {
      size_t end = at;
      while (end < parts.size() && end - at < UINT16_MAX && IsWhole(parts[end])) ++end;
      packed += static_cast<char>(kWholeRun);
      PutField(packed, end - at, 2);
      for (; at < end; ++at) packed += static_cast<char>(parts[at].byte.value);
      continue;
    }
    switch (part.kind) {
      case PatternPart::Kind::kByte:
        packed += static_cast<char>(kMaskedByte);
        packed += static_cast<char>(part.byte.value);
        packed += static_cast<char>(part.byte.mask);
        break;
      case PatternPart::Kind::kJump:
        packed += static_cast<char>(kJump);
        PutField(packed, part.min, 4);
        PutField(packed, part.max, 4);
        packed += static_cast<char>(part.tied);
        break;
      case PatternPart::Kind::kChoice:
        packed += static_cast<char>(kChoice);
        PutField(packed, part.choices.size(), 4);
        for (const std::vector<PatternByte>& choice : part.choices) {
          PutField(packed, choice.size(), 4);
          for (const PatternByte& byte : choice) {
            packed += static_cast<char>(byte.value);
            packed += static_cast<char>(byte.mask);
          }
        }
        break;
    }
    ++at;
  }
}

bool UnpackPattern(std::string_view packed, BodyPattern& pattern) {
  FieldCursor fields(packed);
  uint32_t count = 0;
  // Every part takes at least a byte: a count past the bytes left is damage.
  if (!fields.Get(count) || count > fields.left()) return false;
  pattern.parts.resize(count);
  for (size_t part_at = 0; part_at < count;) {
    uint8_t tag = 0;
    if (!fields.Get(tag)) return false;
    if (tag == kWholeRun) {
      uint16_t length = 0;
      if (!fields.Get(length) || length > count - part_at) return false;
      for (uint16_t index = 0; index < length; ++index) {
        PatternPart& part = pattern.parts[part_at++];
        part = PatternPart{};
        if (!fields.Get(part.byte.value)) return false;
      }
      continue;
    }
    PatternPart& part = pattern.parts[part_at++];
    part = PatternPart{};
    if (tag == kMaskedByte) {
      if (!fields.Get(part.byte.value) || !fields.Get(part.byte.mask)) return false;
    } else if (tag == kJump) {
      uint8_t tied = 0;
      part.kind = PatternPart::Kind::kJump;
      if (!fields.Get(part.min) || !fields.Get(part.max) || !fields.Get(tied)) return false;
      part.tied = tied != 0;
    } else if (tag == kChoice) {
      uint32_t choices = 0;
      part.kind = PatternPart::Kind::kChoice;
      if (!fields.Get(choices) || choices > fields.left()) return false;
      part.choices.resize(choices);
      for (std::vector<PatternByte>& choice : part.choices) {
        uint32_t length = 0;
        if (!fields.Get(length) || length > fields.left() / 2) return false;
        choice.resize(length);
        for (PatternByte& byte : choice) {
          if (!fields.Get(byte.value) || !fields.Get(byte.mask)) return false;
        }
      }
    } else {
      return false;
    }
  }
  return fields.AtEnd();
}

}  // namespace quarn

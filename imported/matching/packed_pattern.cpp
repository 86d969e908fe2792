#include "imported/matching/packed_pattern.h"

#include <cstring>

namespace quarn {
namespace {

enum Tag : uint8_t { kWholeRun, kMaskedByte, kJump, kChoice };

template <typename Value>
void Put(std::string& packed, Value value) {
  packed.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads the packed fields in order; once a read would pass the end, every read fails.
class Fields {
 public:
  explicit Fields(std::string_view packed) : packed_(packed) {}
  template <typename Value>
  bool Get(Value& value) {
    if (packed_.size() - at_ < sizeof value) return false;
    std::memcpy(&value, packed_.data() + at_, sizeof value);
    at_ += sizeof value;
    return true;
  }
  bool Byte(uint8_t& value) { return Get(value); }
  bool AtEnd() const { return at_ == packed_.size(); }
  size_t left() const { return packed_.size() - at_; }

 private:
  std::string_view packed_;
  size_t at_ = 0;
};

bool IsWhole(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kByte && part.byte.mask == 0xFF;
}

}  // namespace

void AppendPackedPattern(const BodyPattern& pattern, std::string& packed) {
  const std::vector<PatternPart>& parts = pattern.parts;
  Put<uint32_t>(packed, static_cast<uint32_t>(parts.size()));
  for (size_t at = 0; at < parts.size();) {
    const PatternPart& part = parts[at];
    if (IsWhole(part)) {
      size_t end = at;
      while (end < parts.size() && end - at < UINT16_MAX && IsWhole(parts[end])) ++end;
      packed += static_cast<char>(kWholeRun);
      Put<uint16_t>(packed, static_cast<uint16_t>(end - at));
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
        Put(packed, part.min);
        Put(packed, part.max);
        packed += static_cast<char>(part.tied);
        break;
      case PatternPart::Kind::kChoice:
        packed += static_cast<char>(kChoice);
        Put<uint32_t>(packed, static_cast<uint32_t>(part.choices.size()));
        for (const std::vector<PatternByte>& choice : part.choices) {
          Put<uint32_t>(packed, static_cast<uint32_t>(choice.size()));
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
  Fields fields(packed);
  uint32_t count = 0;
  // Every part takes at least a byte: a count past the bytes left is damage.
  if (!fields.Get(count) || count > fields.left()) return false;
  pattern.parts.resize(count);
  for (size_t part_at = 0; part_at < count;) {
    uint8_t tag = 0;
    if (!fields.Byte(tag)) return false;
    if (tag == kWholeRun) {
      uint16_t length = 0;
      if (!fields.Get(length) || length > count - part_at) return false;
      for (uint16_t index = 0; index < length; ++index) {
        PatternPart& part = pattern.parts[part_at++];
        part = PatternPart{};
        if (!fields.Byte(part.byte.value)) return false;
      }
      continue;
    }
    PatternPart& part = pattern.parts[part_at++];
    part = PatternPart{};
    if (tag == kMaskedByte) {
      if (!fields.Byte(part.byte.value) || !fields.Byte(part.byte.mask)) return false;
    } else if (tag == kJump) {
      uint8_t tied = 0;
      part.kind = PatternPart::Kind::kJump;
      if (!fields.Get(part.min) || !fields.Get(part.max) || !fields.Byte(tied)) return false;
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
          if (!fields.Byte(byte.value) || !fields.Byte(byte.mask)) return false;
        }
      }
    } else {
      return false;
    }
  }
  return fields.AtEnd();
}

}  // namespace quarn

#include "imported/packed_pattern.h"

#include <cstring>

namespace quarn {
namespace {

enum Tag : char { kWholeRun, kMaskedByte, kJump, kChoice };

template <typename Value>
void Put(std::string& packed, Value value) {
  packed.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename Value>
Value Get(std::string_view packed, size_t& at) {
  Value value;
  std::memcpy(&value, packed.data() + at, sizeof value);
  at += sizeof value;
  return value;
}

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
      packed += kWholeRun;
      Put<uint16_t>(packed, static_cast<uint16_t>(end - at));
      for (; at < end; ++at) packed += static_cast<char>(parts[at].byte.value);
      continue;
    }
    switch (part.kind) {
      case PatternPart::Kind::kByte:
        packed += kMaskedByte;
        packed += static_cast<char>(part.byte.value);
        packed += static_cast<char>(part.byte.mask);
        break;
      case PatternPart::Kind::kJump:
        packed += kJump;
        Put(packed, part.min);
        Put(packed, part.max);
        packed += static_cast<char>(part.tied);
        break;
      case PatternPart::Kind::kChoice:
        packed += kChoice;
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

void UnpackPattern(std::string_view packed, BodyPattern& pattern) {
  size_t at = 0;
  const uint32_t count = Get<uint32_t>(packed, at);
  pattern.parts.resize(count);
  for (size_t part_at = 0; part_at < count;) {
    const char tag = packed[at++];
    if (tag == kWholeRun) {
      const uint16_t length = Get<uint16_t>(packed, at);
      for (uint16_t index = 0; index < length; ++index) {
        PatternPart& part = pattern.parts[part_at++];
        part = PatternPart{};
        part.byte.value = static_cast<uint8_t>(packed[at++]);
      }
      continue;
    }
    PatternPart& part = pattern.parts[part_at++];
    part = PatternPart{};
    if (tag == kMaskedByte) {
      part.byte.value = static_cast<uint8_t>(packed[at++]);
      part.byte.mask = static_cast<uint8_t>(packed[at++]);
    } else if (tag == kJump) {
      part.kind = PatternPart::Kind::kJump;
      part.min = Get<uint32_t>(packed, at);
      part.max = Get<uint32_t>(packed, at);
      part.tied = packed[at++] != 0;
    } else {
      part.kind = PatternPart::Kind::kChoice;
      part.choices.resize(Get<uint32_t>(packed, at));
      for (std::vector<PatternByte>& choice : part.choices) {
        choice.resize(Get<uint32_t>(packed, at));
        for (PatternByte& byte : choice) {
          byte.value = static_cast<uint8_t>(packed[at++]);
          byte.mask = static_cast<uint8_t>(packed[at++]);
        }
      }
    }
  }
}

}  // namespace quarn

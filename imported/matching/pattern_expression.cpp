#include "imported/matching/pattern_expression.h"

#include <algorithm>

namespace quarn {
namespace {

// A class Vectorscan refuses as one that can never match.
constexpr char kNothing[] = "[^\\x00-\\xff]";

void AppendHex(uint8_t value, std::string& text) {
  constexpr char kDigits[] = "0123456789abcdef";
  text += "\\x";
  text += kDigits[value >> 4];
  text += kDigits[value & 0x0F];
}

void AppendLiteral(uint8_t value, std::string& text) {
  // Letters and digits mean themselves in an expression; any other byte might not.
  const bool plain = (value >= '0' && value <= '9') || (value >= 'A' && value <= 'Z') ||
                     (value >= 'a' && value <= 'z');
  if (plain) {
    text += static_cast<char>(value);
  } else {
    AppendHex(value, text);
  }
}

void AppendByte(const PatternByte& byte, std::string& text) {
  // Whole bytes are nearly all of a database: they skip the count of passing values.
  if (byte.mask == 0xFF) {
    AppendLiteral(byte.value, text);
    return;
  }
  bool passes[256];
  int count = 0;
  for (int value = 0; value < 256; ++value) {
    passes[value] = (value & byte.mask) == byte.value;
    count += passes[value] ? 1 : 0;
  }
  if (count == 256) {
    text += '.';
    return;
  }
  if (count == 0) {
    text += kNothing;
    return;
  }
  // Runs of passing values as ranges: a nibble fixed in the high half is one range.
  text += '[';
  for (int value = 0; value < 256; ++value) {
    if (!passes[value]) continue;
    int last = value;
    while (last + 1 < 256 && passes[last + 1]) ++last;
    AppendHex(static_cast<uint8_t>(value), text);
    if (last > value) {
      text += '-';
      AppendHex(static_cast<uint8_t>(last), text);
    }
    value = last;
  }
  text += ']';
}

// How many bytes a part counts for against kMostRepeatWidth: a gap written as a counted
// repeat its written greatest count (least, when written open-ended), a byte of any value 1
// (each is a "." of its own); 0 for anything else, ".*" and a gap written as nothing.
uint32_t RepeatWidth(const PatternPart& part) {
  if (part.kind == PatternPart::Kind::kByte) return part.byte.mask == 0 ? 1 : 0;
  if (part.kind != PatternPart::Kind::kJump || part.min > part.max) return 0;
  if (part.max != kUnboundedJump && part.max <= kLargestWrittenGap) return part.max;
  return std::min(part.min, kLargestWrittenGap);
}

// Writes the gap; false when it had to be widened.
bool AppendGap(uint32_t min, uint32_t max, std::string& text) {
  if (min > max) {
    text += kNothing;
    return true;
  }
  if (max != kUnboundedJump && max <= kLargestWrittenGap) {
    if (max == 0) return true;
    text += ".{" + std::to_string(min);
    if (max != min) text += "," + std::to_string(max);
    text += '}';
    return true;
  }
  const uint32_t least = std::min(min, kLargestWrittenGap);
  text += least == 0 ? ".*" : ".{" + std::to_string(least) + ",}";
  return max == kUnboundedJump && min <= kLargestWrittenGap;
}

void AppendChoice(const PatternPart& part, std::string& text) {
  if (part.choices.empty()) {
    text += kNothing;
    return;
  }
  text += "(?:";
  for (size_t index = 0; index < part.choices.size(); ++index) {
    if (index > 0) text += '|';
    for (const PatternByte& byte : part.choices[index]) AppendByte(byte, text);
  }
  text += ')';
}

// The least and greatest number of file bytes one part takes.
std::pair<uint64_t, uint64_t> PartSpan(const PatternPart& part) {
  switch (part.kind) {
    case PatternPart::Kind::kByte:
      return {1, 1};
    case PatternPart::Kind::kJump:
      return {part.min, part.max == kUnboundedJump ? kUnboundedSpan : part.max};
    case PatternPart::Kind::kChoice: {
      uint64_t shortest = part.choices.empty() ? 0 : UINT64_MAX;
      uint64_t longest = 0;
      for (const auto& choice : part.choices) {
        shortest = std::min<uint64_t>(shortest, choice.size());
        longest = std::max<uint64_t>(longest, choice.size());
      }
      return {shortest, longest};
    }
  }
  return {0, 0};
}

uint64_t AddSpan(uint64_t total, uint64_t more) {
  return total == kUnboundedSpan || more == kUnboundedSpan ? kUnboundedSpan : total + more;
}

}  // namespace

PatternExpression WritePatternExpression(const BodyPattern& pattern) {
  PatternExpression expression;
  std::string text;
  std::string part_text;
  uint64_t span_min = 0;
  uint64_t span_max = 0;
  bool exact = true;
  size_t kept_parts = 0;
  uint32_t repeats = 0;
  uint32_t repeat_width = 0;
  uint32_t open_repeats = 0;
  for (const PatternPart& part : pattern.parts) {
    part_text.clear();
    bool part_exact = true;
    switch (part.kind) {
      case PatternPart::Kind::kByte:
        AppendByte(part.byte, part_text);
        break;
      case PatternPart::Kind::kJump:
        part_exact = AppendGap(part.min, part.max, part_text);
        break;
      case PatternPart::Kind::kChoice:
        AppendChoice(part, part_text);
        break;
    }
    const uint32_t width = RepeatWidth(part);
    repeats += width > 0 && part.kind == PatternPart::Kind::kJump ? 1 : 0;
    repeat_width += width;
    open_repeats += part_text == ".*" ? 1 : 0;
    if (text.size() + part_text.size() > kLongestExpression || repeats > kMostRepeats ||
        repeat_width > kMostRepeatWidth || open_repeats > kMostOpenRepeats) {
      // What is written so far stands for the whole: its reports are candidates.
      expression.exact = false;
      return expression;
    }
    text += part_text;
    exact = exact && part_exact;
    const auto [least, most] = PartSpan(part);
    span_min += least;  // at most 2^32 parts of at most 2^32 bytes each: no overflow
    span_max = AddSpan(span_max, most);
    // A leading part that ends in a gap would report at every byte after it: the expression
    // kept is the one up to the last part that takes bytes.
    if (part.kind != PatternPart::Kind::kJump) {
      expression.text = text;
      expression.exact = exact;
      expression.span_min = span_min;
      expression.span_max = span_max;
      kept_parts = static_cast<size_t>(&part - pattern.parts.data()) + 1;
    }
  }
  // Gaps at the end (which a parsed pattern never has) still need their bytes.
  if (kept_parts < pattern.parts.size()) expression.exact = false;
  return expression;
}

}  // namespace quarn

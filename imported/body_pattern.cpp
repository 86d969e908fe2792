#include "imported/body_pattern.h"

#include <algorithm>
#include <charconv>

namespace quarn {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::optional<uint8_t> HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return static_cast<uint8_t>(digit - '0');
  if (digit >= 'a' && digit <= 'f') return static_cast<uint8_t>(digit - 'a' + 10);
  if (digit >= 'A' && digit <= 'F') return static_cast<uint8_t>(digit - 'A' + 10);
  return std::nullopt;
}

// Two characters, each a hex digit or "?": a byte, a nibble wildcard or any byte.
std::optional<PatternByte> ByteOf(std::string_view pair) {
  if (pair.size() < 2) return std::nullopt;
  PatternByte byte{0, 0};
  for (int half = 0; half < 2; ++half) {
    const int shift = half == 0 ? 4 : 0;
    if (pair[half] == '?') continue;
    const std::optional<uint8_t> value = HexValue(pair[half]);
    if (!value) return std::nullopt;
    byte.value |= static_cast<uint8_t>(*value << shift);
    byte.mask |= static_cast<uint8_t>(0x0F << shift);
  }
  return byte;
}

std::optional<uint32_t> Number(std::string_view text) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    return std::nullopt;
  }
  return value;
}

// "n", "-n", "n-", "n-m" between braces (or "n-m" between brackets).
std::optional<PatternPart> JumpOf(std::string_view inside) {
  PatternPart jump;
  jump.kind = PatternPart::Kind::kJump;
  const size_t dash = inside.find('-');
  if (dash == std::string_view::npos) {
    const std::optional<uint32_t> exact = Number(inside);
    if (!exact) return std::nullopt;
    jump.min = jump.max = *exact;
    return jump;
  }
  const std::string_view low = inside.substr(0, dash);
  const std::string_view high = inside.substr(dash + 1);
  const std::optional<uint32_t> min = low.empty() ? std::optional<uint32_t>(0) : Number(low);
  const std::optional<uint32_t> max = high.empty() ? kUnboundedJump : Number(high);
  if (!min || !max || *max < *min || (low.empty() && high.empty())) return std::nullopt;
  jump.min = *min;
  jump.max = *max;
  return jump;
}

// The strings of a choice, "41|4243|??44"; a gap or a group inside is more than a choice.
std::optional<std::vector<std::vector<PatternByte>>> ChoicesOf(std::string_view inside,
                                                               PatternSkip* skip) {
  std::vector<std::vector<PatternByte>> choices(1);
  for (size_t at = 0; at < inside.size();) {
    if (inside[at] == '|') {
      choices.emplace_back();
      ++at;
      continue;
    }
    const std::optional<PatternByte> byte = ByteOf(inside.substr(at, 2));
    if (!byte) {
      const bool hexish = HexValue(inside[at]) || inside[at] == '?';
      *skip = hexish ? PatternSkip::kMalformed : PatternSkip::kNestedOrComplex;
      return std::nullopt;
    }
    choices.back().push_back(*byte);
    at += 2;
  }
  const bool empty_choice =
      std::any_of(choices.begin(), choices.end(), [](const auto& bytes) { return bytes.empty(); });
  if (choices.size() < 2 || empty_choice) {
    *skip = PatternSkip::kMalformed;
    return std::nullopt;
  }
  return choices;
}

bool IsGap(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kJump;
}

// ClamAV cuts a pattern into the pieces its trie looks for at every "*", every ranged gap and
// every fixed one of kLargestInlineGap bytes or more; shorter fixed gaps and "[n-m]" stay
// inside a piece.
constexpr uint32_t kLargestInlineGap = 128;
// "[n-m]" ties one byte to a piece's end, and spans at most this many bytes.
constexpr uint32_t kLongestTiedGap = 32;

bool CutsPieces(const PatternPart& part) {
  return IsGap(part) && !part.tied && (part.min != part.max || part.min >= kLargestInlineGap);
}

bool IsByte(const PatternPart& part) {
  return part.kind == PatternPart::Kind::kByte;
}

size_t LongestWholeRun(const BodyPattern& pattern) {
  size_t longest = 0;
  size_t run = 0;
  for (const PatternPart& part : pattern.parts) {
    if (part.kind == PatternPart::Kind::kByte && part.byte.mask == 0xFF) {
      longest = std::max(longest, ++run);
    } else {
      run = 0;
    }
  }
  return longest;
}

void FormatByte(const PatternByte& byte, std::string* out) {
  out->push_back((byte.mask & 0xF0) != 0 ? kHexDigits[byte.value >> 4] : '?');
  out->push_back((byte.mask & 0x0F) != 0 ? kHexDigits[byte.value & 0x0F] : '?');
}

}  // namespace

ParsedPattern ParseBodyPattern(std::string_view hex) {
  ParsedPattern parsed;
  BodyPattern pattern;
  // Nearly every part is a byte written in two digits: one allocation, not one per doubling
  // (a database of a million patterns parses them at every start).
  pattern.parts.reserve(hex.size() / 2);
  for (size_t at = 0; at < hex.size();) {
    const char head = hex[at];
    if (head == '*') {
      pattern.parts.push_back({PatternPart::Kind::kJump, {}, 0, kUnboundedJump, {}});
      ++at;
      continue;
    }
    if (head == '{' || head == '[') {
      const size_t close = hex.find(head == '{' ? '}' : ']', at);
      if (close == std::string_view::npos) return parsed;
      const std::optional<PatternPart> jump = JumpOf(hex.substr(at + 1, close - at - 1));
      if (!jump || (head == '[' && jump->max == kUnboundedJump)) return parsed;
      pattern.parts.push_back(*jump);
      pattern.parts.back().tied = head == '[';
      at = close + 1;
      continue;
    }
    if (head == '!') {
      parsed.skip = PatternSkip::kNegation;
      return parsed;
    }
    if (head == '(') {
      const size_t close = hex.find(')', at);
      if (close == std::string_view::npos) return parsed;
      const std::string_view inside = hex.substr(at + 1, close - at - 1);
      if (inside == "B" || inside == "L") {
        parsed.skip = PatternSkip::kAnchoredChoice;
        return parsed;
      }
      PatternSkip skip = PatternSkip::kMalformed;
      auto choices = ChoicesOf(inside, &skip);
      if (!choices) {
        parsed.skip = skip;
        return parsed;
      }
      PatternPart choice;
      choice.kind = PatternPart::Kind::kChoice;
      choice.choices = std::move(*choices);
      pattern.parts.push_back(std::move(choice));
      at = close + 1;
      continue;
    }
    const std::optional<PatternByte> byte = ByteOf(hex.substr(at, 2));
    if (!byte) return parsed;
    pattern.parts.push_back({PatternPart::Kind::kByte, *byte, 0, 0, {}});
    at += 2;
  }
  if (pattern.parts.empty() || IsGap(pattern.parts.front()) || IsGap(pattern.parts.back())) {
    return parsed;
  }
  if (LongestWholeRun(pattern) < kMinimumFixedBytes) {
    parsed.skip = PatternSkip::kTooShort;
    return parsed;
  }
  if (MinimumLength(pattern) > kMaximumPatternBytes) {
    parsed.skip = PatternSkip::kTooLong;
    return parsed;
  }
  pattern.parts.shrink_to_fit();  // what the verifier keeps, held without slack
  parsed.pattern = std::move(pattern);
  return parsed;
}

std::string FormatBodyPattern(const BodyPattern& pattern) {
  std::string text;
  for (const PatternPart& part : pattern.parts) {
    switch (part.kind) {
      case PatternPart::Kind::kByte:
        FormatByte(part.byte, &text);
        break;
      case PatternPart::Kind::kJump:
        if (part.tied) {
          text += "[" + std::to_string(part.min) + "-" + std::to_string(part.max) + "]";
        } else if (part.min == 0 && part.max == kUnboundedJump) {
          text += "*";
        } else if (part.min == part.max) {
          text += "{" + std::to_string(part.min) + "}";
        } else {
          text += "{" + (part.min == 0 ? "" : std::to_string(part.min)) + "-" +
                  (part.max == kUnboundedJump ? "" : std::to_string(part.max)) + "}";
        }
        break;
      case PatternPart::Kind::kChoice:
        text += "(";
        for (size_t index = 0; index < part.choices.size(); ++index) {
          if (index > 0) text += "|";
          for (const PatternByte& byte : part.choices[index]) FormatByte(byte, &text);
        }
        text += ")";
        break;
    }
  }
  return text;
}

std::optional<PatternSkip> PieceClamavRefuses(const BodyPattern& pattern) {
  const std::vector<PatternPart>& parts = pattern.parts;
  size_t start = 0;
  while (start < parts.size()) {
    size_t end = start;
    while (end < parts.size() && !CutsPieces(parts[end])) ++end;
    size_t longest = 0;
    size_t run = 0;
    for (size_t at = start; at < end; ++at) {
      const PatternPart& part = parts[at];
      run = IsByte(part) && part.byte.mask == 0xFF ? run + 1 : 0;
      longest = std::max(longest, run);
      if (!part.tied) continue;
      const bool leads = at == start + 1 && IsByte(parts[start]);
      const bool trails = at + 2 == end && IsByte(parts[end - 1]);
      if (part.max > kLongestTiedGap || (!leads && !trails)) return PatternSkip::kMisplacedRange;
    }
    if (longest < kMinimumFixedBytes) return PatternSkip::kTooShort;
    start = end + 1;
  }
  return std::nullopt;
}

uint64_t MinimumLength(std::span<const PatternPart> parts) {
  uint64_t length = 0;
  for (const PatternPart& part : parts) {
    if (part.kind == PatternPart::Kind::kByte) ++length;
    if (part.kind == PatternPart::Kind::kJump) length += part.min;
    if (part.kind == PatternPart::Kind::kChoice) {
      size_t shortest = SIZE_MAX;
      for (const auto& choice : part.choices) shortest = std::min(shortest, choice.size());
      length += shortest;
    }
  }
  return length;
}

std::optional<uint64_t> MaximumLength(std::span<const PatternPart> parts) {
  uint64_t length = 0;
  for (const PatternPart& part : parts) {
    if (part.kind == PatternPart::Kind::kByte) ++length;
    if (part.kind == PatternPart::Kind::kJump) {
      if (part.max == kUnboundedJump) return std::nullopt;
      length += part.max;
    }
    if (part.kind == PatternPart::Kind::kChoice) {
      size_t longest = 0;
      for (const auto& choice : part.choices) longest = std::max(longest, choice.size());
      length += longest;
    }
  }
  return length;
}

std::string_view PatternSkipName(PatternSkip skip) {
  switch (skip) {
    case PatternSkip::kMalformed:
      return "malformed";
    case PatternSkip::kNegation:
      return "negated alternative";
    case PatternSkip::kAnchoredChoice:
      return "boundary anchor";
    case PatternSkip::kNestedOrComplex:
      return "complex alternative";
    case PatternSkip::kTooShort:
      return "too few fixed bytes";
    case PatternSkip::kTooLong:
      return "too long";
    case PatternSkip::kMisplacedRange:
      return "misplaced [n-m]";
  }
  return "malformed";
}

}  // namespace quarn

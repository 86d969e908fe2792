#include "imported/offset_rule.h"

#include <charconv>
#include <limits>

namespace quarn {
namespace {

// Offsets past this are no file this scanner meets whole: a rule beyond it is malformed.
constexpr uint64_t kLargestDelta = uint64_t{1} << 40;

template <typename Number>
std::optional<Number> Parse(std::string_view text) {
  Number value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// "+n" or "-n" (signed as written; `negative_only` takes "-n" alone).
std::optional<int64_t> SignedDelta(std::string_view text, bool negative_only) {
  if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
  if (negative_only && text[0] != '-') return std::nullopt;
  const std::optional<uint64_t> amount = Parse<uint64_t>(text.substr(1));
  if (!amount || *amount > kLargestDelta) return std::nullopt;
  return text[0] == '-' ? -static_cast<int64_t>(*amount) : static_cast<int64_t>(*amount);
}

}  // namespace

std::optional<OffsetRule> ParseOffsetRule(std::string_view text) {
  OffsetRule rule;
  if (text == "*") return rule;
  // ",m": the match may start up to m bytes past the position.
  if (const size_t comma = text.find(','); comma != std::string_view::npos) {
    const std::optional<uint32_t> range = Parse<uint32_t>(text.substr(comma + 1));
    if (!range) return std::nullopt;
    rule.range = *range;
    text = text.substr(0, comma);
  }
  if (StartsWith(text, "EOF")) {
    const std::optional<int64_t> delta = SignedDelta(text.substr(3), true);
    if (!delta) return std::nullopt;
    rule.base = OffsetRule::Base::kEndOfFile;
    rule.delta = *delta;
    return rule;
  }
  if (StartsWith(text, "EP")) {
    const std::optional<int64_t> delta = SignedDelta(text.substr(2), false);
    if (!delta) return std::nullopt;
    rule.base = OffsetRule::Base::kEntryPoint;
    rule.delta = *delta;
    return rule;
  }
  if (StartsWith(text, "SL")) {
    const std::optional<int64_t> delta = SignedDelta(text.substr(2), false);
    if (!delta || *delta < 0) return std::nullopt;
    rule.base = OffsetRule::Base::kLastSection;
    rule.delta = *delta;
    return rule;
  }
  if (StartsWith(text, "SE")) {
    const std::optional<uint32_t> section = Parse<uint32_t>(text.substr(2));
    if (!section) return std::nullopt;
    rule.base = OffsetRule::Base::kWholeSection;
    rule.section = *section;
    return rule;
  }
  if (StartsWith(text, "S")) {
    const size_t sign = text.find_first_of("+-");
    if (sign == std::string_view::npos) return std::nullopt;
    const std::optional<uint32_t> section = Parse<uint32_t>(text.substr(1, sign - 1));
    const std::optional<int64_t> delta = SignedDelta(text.substr(sign), false);
    if (!section || !delta || *delta < 0) return std::nullopt;
    rule.base = OffsetRule::Base::kSectionStart;
    rule.section = *section;
    rule.delta = *delta;
    return rule;
  }
  const std::optional<uint64_t> absolute = Parse<uint64_t>(text);
  if (!absolute || *absolute > kLargestDelta) return std::nullopt;
  rule.base = OffsetRule::Base::kAbsolute;
  rule.delta = static_cast<int64_t>(*absolute);
  return rule;
}

std::string FormatOffsetRule(const OffsetRule& rule) {
  const auto signed_delta = [&] {
    return (rule.delta < 0 ? "-" : "+") + std::to_string(rule.delta < 0
                                                             ? -static_cast<uint64_t>(rule.delta)
                                                             : static_cast<uint64_t>(rule.delta));
  };
  std::string text;
  switch (rule.base) {
    case OffsetRule::Base::kAnywhere:
      return "*";
    case OffsetRule::Base::kAbsolute:
      text = std::to_string(rule.delta);
      break;
    case OffsetRule::Base::kEndOfFile:
      // Always counted back, "EOF-0" included: "EOF+0" is no rule.
      text = "EOF-" + std::to_string(-static_cast<uint64_t>(rule.delta));
      break;
    case OffsetRule::Base::kEntryPoint:
      text = "EP" + signed_delta();
      break;
    case OffsetRule::Base::kSectionStart:
      text = "S" + std::to_string(rule.section) + signed_delta();
      break;
    case OffsetRule::Base::kLastSection:
      text = "SL" + signed_delta();
      break;
    case OffsetRule::Base::kWholeSection:
      text = "SE" + std::to_string(rule.section);
      break;
  }
  if (rule.range != 0) text += "," + std::to_string(rule.range);
  return text;
}

bool NeedsPeLayout(const OffsetRule& rule) {
  return rule.base == OffsetRule::Base::kEntryPoint ||
         rule.base == OffsetRule::Base::kSectionStart ||
         rule.base == OffsetRule::Base::kLastSection ||
         rule.base == OffsetRule::Base::kWholeSection;
}

}  // namespace quarn

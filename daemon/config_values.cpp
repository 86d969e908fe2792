#include "daemon/config_values.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <optional>
#include <string>

namespace quarn {

namespace {

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

bool AllDigits(std::string_view text, char highest) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [&](char c) { return c >= '0' && c <= highest; });
}

// The digits' value in `base`, or nothing once it passes `max`.
std::optional<uint64_t> DigitsValue(std::string_view digits, uint64_t base, uint64_t max) {
  uint64_t value = 0;
  for (char c : digits) {
    const auto digit = static_cast<uint64_t>(c - '0');
    if (value > (max - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  return value;
}

}  // namespace

Result<uint64_t> ParseConfigNumber(std::string_view text, uint64_t max) {
  if (!AllDigits(text, '9')) return Status::Error(Quoted(text) + " is not a number");
  std::optional<uint64_t> value = DigitsValue(text, 10, max);
  if (!value) {
    return Status::Error(Quoted(text) + " is too large (at most " + std::to_string(max) + ")");
  }
  return *value;
}

Result<uint64_t> ParseConfigSize(std::string_view text) {
  std::string_view digits = text;
  int shift = 0;
  if (!digits.empty()) {
    switch (std::tolower(static_cast<unsigned char>(digits.back()))) {
      case 'k':
        shift = 10;
        break;
      case 'm':
        shift = 20;
        break;
      case 'g':
        shift = 30;
        break;
      default:
        break;
    }
    if (shift != 0) digits.remove_suffix(1);
  }
  if (!AllDigits(digits, '9')) {
    return Status::Error(Quoted(text) + " is not a size (a number of bytes, or with K, M or G)");
  }
  if (digits.size() > 1 && digits.front() == '0') {
    return Status::Error(Quoted(text) +
                         " starts with 0, which clamd reads as octal: write it without the 0");
  }
  const uint64_t max = std::numeric_limits<uint64_t>::max() >> shift;
  std::optional<uint64_t> value = DigitsValue(digits, 10, max);
  if (!value) return Status::Error(Quoted(text) + " is too large");
  return *value << shift;
}

Result<bool> ParseConfigBoolean(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "yes" || lower == "true" || lower == "1") return true;
  if (lower == "no" || lower == "false" || lower == "0") return false;
  return Status::Error(Quoted(text) + " is not yes/no, true/false or 1/0");
}

Result<uint32_t> ParseConfigMode(std::string_view text) {
  if (!AllDigits(text, '7')) return Status::Error(Quoted(text) + " is not an octal mode");
  std::optional<uint64_t> value = DigitsValue(text, 8, 0777);
  if (!value) return Status::Error(Quoted(text) + " is more than the permission bits 777");
  return static_cast<uint32_t>(*value);
}

}  // namespace quarn

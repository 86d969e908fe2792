#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarn {

// Where a body pattern's match must start, as the source's offset field says.
struct OffsetRule {
  enum class Base : uint8_t {
    kAnywhere,      // "*"
    kAbsolute,      // "n" or "n,m": from the file's start
    kEndOfFile,     // "EOF-n" or "EOF-n,m": n bytes before the end
    kEntryPoint,    // "EP+n", "EP-n", with ",m": from a PE's entry point (a file offset)
    kSectionStart,  // "Sx+n", with ",m": from the start of PE section x (0-based)
    kLastSection,   // "SL+n", with ",m": from the start of a PE's last section
    kWholeSection,  // "SEx", with ",m": anywhere inside PE section x or up to m bytes past it
  };
  Base base = Base::kAnywhere;
  int64_t delta = 0;     // n, negative for "EP-n" and "EOF-n"
  uint32_t range = 0;    // m: the match may start anywhere from the position to m bytes past
  uint32_t section = 0;  // x
  friend bool operator==(const OffsetRule&, const OffsetRule&) = default;
};

// Parses the offset field; nothing for a form the matcher does not take ("VI", "$n$" macros,
// a number out of range, anything malformed).
std::optional<OffsetRule> ParseOffsetRule(std::string_view text);

// The field written back as the source writes it.
std::string FormatOffsetRule(const OffsetRule& rule);

// Whether the rule needs a PE's layout (entry point or sections).
bool NeedsPeLayout(const OffsetRule& rule);

}  // namespace quarn

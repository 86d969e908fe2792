#include "containers/fat/fat_names.h"

#include <algorithm>
#include <string_view>

#include "containers/fat/fat_directory.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

using namespace fat_entry;

constexpr size_t kBaseBytes = 8;
constexpr size_t kExtensionBytes = 3;
constexpr uint32_t kMaxAliasNumber = 999999;
// Besides letters and digits, what DOS takes in a short name.
constexpr std::string_view kShortNameSymbols = "!#$%&'()-@^_`{}~";
// What no FAT name may hold, besides control characters.
constexpr std::string_view kBarredInLongNames = "\"*/:<>?\\|";

bool ShortNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         kShortNameSymbols.find(c) != std::string_view::npos;
}

char AliasCharacter(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (ShortNameCharacter(c)) return c;
  return '_';
}

// The characters of an alias's base and extension: upper case, without spaces and dots but
// the last one, anything a short name cannot hold as "_" (non-ASCII characters count once).
void AliasParts(const std::string& name, std::string& base, std::string& extension) {
  std::string trimmed = name;
  trimmed.erase(0, trimmed.find_first_not_of('.'));
  const size_t dot = trimmed.rfind('.');
  auto convert = [](std::string_view part, size_t limit) {
    std::string out;
    for (size_t i = 0; i < part.size() && out.size() < limit; ++i) {
      const auto c = static_cast<unsigned char>(part[i]);
      if (c == ' ' || c == '.') continue;
      if (c >= 0x80) {
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte of the same character
        out += '_';
        continue;
      }
      out += AliasCharacter(static_cast<char>(c));
    }
    return out;
  };
  const std::string_view whole(trimmed);
  base = convert(dot == std::string::npos ? whole : whole.substr(0, dot), kBaseBytes);
  extension = dot == std::string::npos ? "" : convert(whole.substr(dot + 1), kExtensionBytes);
  if (base.empty()) base = "_";
}

ShortNameBytes Padded(const std::string& base, const std::string& extension) {
  ShortNameBytes bytes;
  bytes.fill(' ');
  std::copy_n(base.begin(), std::min(base.size(), kBaseBytes), bytes.begin());
  std::copy_n(extension.begin(), std::min(extension.size(), kExtensionBytes),
              bytes.begin() + kBaseBytes);
  return bytes;
}

std::vector<std::array<uint8_t, kSlotBytes>> LongNameSlots(const std::vector<uint16_t>& units,
                                                           uint8_t checksum) {
  const size_t count = (units.size() + kUnitsPerLongEntry - 1) / kUnitsPerLongEntry;
  std::vector<std::array<uint8_t, kSlotBytes>> slots;
  // Stored last entry first: the entry with the highest ordinal comes before the others.
  for (size_t ordinal = count; ordinal >= 1; --ordinal) {
    std::array<uint8_t, kSlotBytes> slot{};
    slot[0] = static_cast<uint8_t>(ordinal | (ordinal == count ? kLongNameLast : 0));
    slot[kLongNameAttributesOffset] = kLongNameAttributes;
    slot[kLongNameChecksumOffset] = checksum;
    for (size_t i = 0; i < kUnitsPerLongEntry; ++i) {
      const size_t index = (ordinal - 1) * kUnitsPerLongEntry + i;
      // The name ends with one 0 unit where it does not fill its last entry, then FFFF.
      const uint16_t unit = index < units.size()    ? units[index]
                            : index == units.size() ? 0
                                                    : 0xFFFF;
      slot[kLongNameUnitOffsets[i]] = static_cast<uint8_t>(unit);
      slot[kLongNameUnitOffsets[i] + 1] = static_cast<uint8_t>(unit >> 8);
    }
    slots.push_back(slot);
  }
  return slots;
}

}  // namespace

std::optional<ShortNameBytes> ExactShortName(const std::string& name) {
  const size_t dot = name.find('.');
  const std::string base = name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > kBaseBytes || extension.size() > kExtensionBytes) {
    return std::nullopt;
  }
  if (dot != std::string::npos && extension.empty()) return std::nullopt;
  for (const std::string* part : {&base, &extension}) {
    if (!std::all_of(part->begin(), part->end(), ShortNameCharacter)) return std::nullopt;
  }
  ShortNameBytes bytes = Padded(base, extension);
  return bytes;
}

std::string ShortNameText(const ShortNameBytes& bytes) {
  std::string base(bytes.begin(), bytes.begin() + kBaseBytes);
  std::string extension(bytes.begin() + kBaseBytes, bytes.end());
  base.erase(base.find_last_not_of(' ') + 1);
  extension.erase(extension.find_last_not_of(' ') + 1);
  return extension.empty() ? base : base + "." + extension;
}

std::optional<std::string> LongNameFault(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return "not a file name";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || kBarredInLongNames.find(c) != std::string::npos) {
      return "a FAT name cannot hold that character";
    }
  }
  if (name.back() == '.' || name.back() == ' ') return "a FAT name cannot end with a dot or space";
  const std::optional<std::vector<uint16_t>> units = Utf8ToUtf16(name);
  if (!units) return "the name is not valid UTF-8";
  if (units->size() > kMaxLongNameUnits) return "the name is longer than 255 characters";
  return std::nullopt;
}

std::optional<StoredName> StoreName(const std::string& name,
                                    const std::function<bool(const std::string&)>& taken) {
  StoredName stored;
  if (std::optional<ShortNameBytes> exact = ExactShortName(name)) {
    stored.short_name = *exact;
    return stored;
  }
  std::string base;
  std::string extension;
  AliasParts(name, base, extension);
  bool found = false;
  for (uint32_t number = 1; number <= kMaxAliasNumber && !found; ++number) {
    const std::string tail = "~" + std::to_string(number);
    stored.short_name = Padded(base.substr(0, kBaseBytes - tail.size()) + tail, extension);
    found = !taken(ShortNameText(stored.short_name));
  }
  if (!found) return std::nullopt;
  stored.long_name_slots =
      LongNameSlots(*Utf8ToUtf16(name), ShortNameChecksum(stored.short_name.data()));
  return stored;
}

}  // namespace quarn

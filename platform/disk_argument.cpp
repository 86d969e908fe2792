#include "platform/disk_argument.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>

namespace quarn {
namespace {

constexpr uint32_t kFirstFloppyDisk = 0x00;
constexpr uint32_t kSecondFloppyDisk = 0x01;
constexpr uint32_t kFirstHardDisk = 0x80;

// Decimal, or hexadecimal after 0x.
std::optional<uint32_t> ParseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint32_t number = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, number, base);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return number;
}

// `C/H/S` in decimal digits, or nothing when the text has another shape.
std::optional<SectorGeometry> ParseGeometry(std::string_view text) {
  std::array<uint32_t, 3> parts{};
  for (size_t index = 0; index < parts.size(); ++index) {
    const size_t slash = index + 1 < parts.size() ? text.find('/') : text.size();
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view digits = text.substr(0, slash);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    std::optional<uint32_t> number = ParseNumber(digits);
    if (!number) return std::nullopt;
    parts[index] = *number;
    text.remove_prefix(std::min(text.size(), slash + 1));
  }
  return SectorGeometry{parts[0], parts[1], parts[2]};
}

}  // namespace

Result<DiskMapping> ParseDiskArgument(std::string_view value) {
  const std::string shown(value);
  const size_t equals = value.find('=');
  if (equals == std::string_view::npos || equals + 1 == value.size()) {
    return Status::Error("\"" + shown + "\": expected N=IMAGE[,C/H/S]");
  }
  std::optional<uint32_t> disk = ParseNumber(value.substr(0, equals));
  if (!disk ||
      (*disk != kFirstFloppyDisk && *disk != kSecondFloppyDisk && *disk != kFirstHardDisk)) {
    return Status::Error("\"" + shown + "\": the disk is 0, 1 or 0x80");
  }
  DiskMapping mapping;
  mapping.bios_disk = static_cast<uint8_t>(*disk);
  mapping.image = std::string(value.substr(equals + 1));
  const size_t comma = mapping.image.rfind(',');
  if (comma != std::string::npos) {
    if (std::optional<SectorGeometry> geometry = ParseGeometry(mapping.image.substr(comma + 1))) {
      if (geometry->cylinders < 1 || geometry->cylinders > 65535 || geometry->heads < 1 ||
          geometry->heads > 255 || geometry->sectors < 1 || geometry->sectors > 63) {
        return Status::Error("\"" + shown +
                             "\": geometry out of range (cylinders 1-65535, heads 1-255, "
                             "sectors 1-63)");
      }
      mapping.geometry = geometry;
      mapping.image.resize(comma);
    }
  }
  if (mapping.image.empty()) return Status::Error("\"" + shown + "\": the image is missing");
  return mapping;
}

}  // namespace quarn

#include "shell/scanned_extension.h"

namespace quarn {
namespace {

constexpr size_t kNameLimit = 255;

}  // namespace

bool HasScannedExtension(std::string_view name) {
  const std::string_view searched = name.substr(0, kNameLimit);
  const size_t dot = searched.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  for (std::string_view whole : {"EXE", "exe", "COM", "com", "SYS", "sys"}) {
    if (extension == whole) return true;
  }
  for (std::string_view start : {"OV", "ov", "DO", "do"}) {
    if (extension.starts_with(start)) return true;
  }
  return false;
}

}  // namespace quarn

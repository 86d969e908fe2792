#include "shell/container_extension.h"

#include <array>
#include <cctype>

namespace quarn {
namespace {

constexpr std::array<std::string_view, 23> kContainerExtensions = {
    "IMG", "IMA", "VFD", "DSK", "FLP", "ZIP", "ARJ", "LZH", "LHA", "ARC", "PAK", "CAB",
    "7Z",  "RAR", "TAR", "GZ",  "TGZ", "BZ2", "XZ",  "ZST", "Z",   "ISO", "IMZ"};

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != static_cast<unsigned char>(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool HasContainerExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  if (!extension.empty() && extension.back() == '_') return true;
  for (std::string_view known : kContainerExtensions) {
    if (SameLetters(extension, known)) return true;
  }
  return false;
}

}  // namespace quarn

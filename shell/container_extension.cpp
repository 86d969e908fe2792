#include "shell/container_extension.h"

#include <cctype>

#include "containers/container_kinds.h"

namespace quarn {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != static_cast<unsigned char>(b[i])) {
      return false;
    }
  }
  return true;
}

// `known` as the kinds' table writes it: letters, or "*" and the letters an extension ends in.
bool Matches(std::string_view extension, std::string_view known) {
  if (known.starts_with('*')) {
    const std::string_view ending = known.substr(1);
    return extension.size() >= ending.size() &&
           SameLetters(extension.substr(extension.size() - ending.size()), ending);
  }
  return SameLetters(extension, known);
}

}  // namespace

bool HasContainerExtension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot + 1);
  for (const ContainerKindRow& row : ContainerKinds()) {
    for (std::string_view known : row.extensions) {
      if (Matches(extension, known)) return true;
    }
  }
  return false;
}

}  // namespace quarn

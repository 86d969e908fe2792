#pragma once

#include <QString>
#include <string_view>

namespace quarn::tools {

// A text of the program's own (the same in both languages), or any UTF-8 text, for a widget.
inline QString ProgramText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace quarn::tools

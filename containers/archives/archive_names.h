#pragma once

#include <string>
#include <string_view>

namespace quarn {

// An archive entry's stored path as the scan shows it: UTF-8, "\" between folders, without
// a leading "./", "/" or "\", and without empty or "." components. A byte that is not part
// of well-formed UTF-8, and every control character, become U+FFFD: a name can never start
// a line of its own in a report. ".." stays as it is: nothing is ever written by a name.
std::string ArchiveDisplayPath(std::string_view stored);

}  // namespace quarn

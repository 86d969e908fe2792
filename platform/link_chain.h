#pragma once

#include <string>

#include "platform/status.h"

namespace quarn {

// The path a chain of symbolic links that starts at `path` ends at: `path` itself when it is
// no link, else each link's target in turn, a relative target taken from the folder of the
// link that holds it. The end need not exist (a link made before the file it points to ends
// there). Only the last component is followed: links among the folders stay in the path,
// where the system follows them anyway. An error names the path and the cause: a link that
// cannot be read, or a chain longer than kMaxLinkChain (a loop, most likely).
Result<std::string> FollowLinkChain(const std::string& path);

// The target text of the link at `path`, as stored, however long; an error names the path and
// the cause (EINVAL: not a link).
Result<std::string> ReadLinkTarget(const std::string& path);

// As many links as the system itself follows in one path before it gives up (Linux's
// MAXSYMLINKS).
inline constexpr int kMaxLinkChain = 40;

}  // namespace quarn

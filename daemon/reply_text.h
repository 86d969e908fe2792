#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/command_frame.h"

namespace quarn {

// A command this client may not give, or not now.
inline constexpr std::string_view kCommandUnavailable = "COMMAND UNAVAILABLE";

// A path as a reply shows it: a newline, NUL or other control byte would end the reply
// early or forge another one, so each shows as '?'.
std::string ReplyPath(std::string_view path);

// A virus name as a reply shows it: clients split "PATH: NAME FOUND" at the last ':', so a
// ':' in a name, like a control byte, shows as '?'.
std::string ReplyVirusName(std::string_view name);

// One whole reply: "ID: " before the body inside a session, the framing's terminator after.
std::string FramedReply(std::string_view body, Framing framing,
                        std::optional<uint64_t> session_id = std::nullopt);

}  // namespace quarn

#pragma once

#include <string_view>

namespace quarn {

// Whether `name` is an option that clamd reads from clamd.conf (ClamAV 1.4.6, deprecated and
// hidden options included). Names are case-sensitive, as clamd has them.
bool IsClamdOption(std::string_view name);

}  // namespace quarn

#include "platform/time_zone.h"

#include <cstdlib>
#include <ctime>

namespace quarn {

void PinLocalTimeZone() {
  // The zone glibc takes when TZ is unset; a missing file gives UTC either way.
  if (std::getenv("TZ") == nullptr) setenv("TZ", ":/etc/localtime", 0);
  tzset();
}

}  // namespace quarn

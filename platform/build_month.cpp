// SPDX-License-Identifier: Apache-2.0
#include "platform/build_month.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

namespace quarn {

YearMonth BuildMonth() {
  std::time_t when = std::time(nullptr);
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(epoch, &end, 10);
    if (errno == 0 && *end == '\0' && seconds >= 0) when = static_cast<std::time_t>(seconds);
  }
  std::tm utc{};
  gmtime_r(&when, &utc);
  return {utc.tm_year + 1900, utc.tm_mon + 1};
}

}  // namespace quarn

// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace quarn {

struct YearMonth {
  int year = 0;
  int month = 0;  // 1 to 12
};

// The month, in UTC, that something built now is dated: SOURCE_DATE_EPOCH's when that holds a
// number of seconds (a reproducible build's date, as Debian's builds set it), else the clock's.
YearMonth BuildMonth();

}  // namespace quarn

#pragma once

namespace quarn {

// While TZ is unset, glibc reads the zone file again on every mktime, and libarchive calls it
// for every ZIP entry's DOS time: a stored archive of many files spent a fifth of its scan
// there. Naming the same zone file once in TZ makes it read once. Call at the start of main,
// before any thread runs (it changes the environment).
void PinLocalTimeZone();

}  // namespace quarn

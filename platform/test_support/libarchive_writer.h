#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quarn::testing {

// An archive written by libarchive's own writer, in `format` (ARCHIVE_FORMAT_…) through
// `filter` (ARCHIVE_FILTER_…), holding `entries` (name, bytes) as regular files in order:
// seeds and fixtures in the formats the project reads but has no writer of its own for.
// `options` go to archive_write_set_options ("7zip:compression=ppmd").
std::vector<uint8_t> WriteWithLibarchive(
    int format, int filter, const std::vector<std::pair<std::string, std::string>>& entries,
    const std::string& options = "");

}  // namespace quarn::testing

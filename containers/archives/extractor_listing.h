#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "containers/container.h"
#include "platform/status.h"

namespace quarn {

// One entry as the extractor lists it.
struct ListedEntry {
  uint64_t index = 0;   // what the extractor is asked for to give its data
  ArchiveEntry entry;   // the path as the scan shows it
  uint64_t packed = 0;  // the bytes of the archive its data takes, when the listing says
  // The check sum its header keeps, which the extractor does not check when it writes to a
  // pipe: an ARJ entry's CRC-32, an ARC entry's CRC-16.
  std::optional<uint32_t> crc32;
  std::optional<uint16_t> crc16;
};

struct ExtractorListing {
  std::vector<ListedEntry> entries;  // at most the number asked for, in the listing's order
  bool more = false;                 // the archive lists more than that
};

// The entries of `json`, the listing `lsar -j` writes: its "lsarContents", each with its
// "XADIndex", "XADFileName" (UTF-8, "/" between folders), "XADFileSize",
// "XADCompressedSize", "ARJCRC32" or "ARCCRC16", and the flags of a folder, a link, a
// resource fork or an encrypted entry. Fails, saying why, on text that is
// not such a listing. Whatever the text, no more than `most` entries are kept.
Result<ExtractorListing> ParseExtractorListing(std::string_view json, size_t most);

}  // namespace quarn

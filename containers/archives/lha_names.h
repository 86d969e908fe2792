#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quarn {

// The path of an LHA entry as the scan shows it (ArchiveDisplayPath), from what liblhasa
// decoded of its header: `folder` with "/" between folders (may be empty, may end in "/"),
// `name` (empty for a folder entry), the system that made it, and the header's raw bytes.
// Names are code page 437: the format has no mark for UTF-8 that the library reads. A
// control byte shows as U+FFFD, never as the glyph DOS drew for it.
//
// liblhasa lowers a name that a DOS-like system stored all in capitals; the stored form
// comes back when the raw header holds the name in capitals and not as lowered, so
// "README.TXT" stays as it was written.
std::string LhaDisplayPath(std::string_view folder, std::string_view name, uint8_t os_type,
                           std::span<const uint8_t> raw_header);

}  // namespace quarn

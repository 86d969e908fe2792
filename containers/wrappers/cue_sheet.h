#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quarn {

// What a cue sheet says of the CD it describes, as far as the scan reads it: the one file its
// FILE line names and the layout of its first track's sectors.
struct CueSheet {
  std::string file;          // as the sheet writes it; never checked here
  uint64_t sector_size = 0;  // 2352 (raw) or 2048 (user data only)
  uint64_t data_offset = 0;  // where a sector's 2048 bytes of user data start
  uint64_t track_start = 0;  // the byte of `file` where the first track's INDEX 01 lies
  // False when the sheet describes what is not read: several files, a file that is not BINARY,
  // or a first track that is not data in MODE1/2352, MODE2/2352 or MODE1/2048.
  bool readable = true;
};

// The sheet `text` holds; nothing when it is not one: a line the format does not know, bytes
// that are not text, no FILE line before the first TRACK, or a first track without INDEX 01.
std::optional<CueSheet> ParseCueSheet(std::string_view text);

// Whether a file that starts with `head` may be a cue sheet: text whose every line there starts
// with one of the format's keywords.
bool MayBeCueSheet(std::span<const uint8_t> head);

// The longest text taken for a cue sheet: one describes a whole CD in a few KiB.
inline constexpr uint64_t kMostCueSheetBytes = 64 * 1024;

}  // namespace quarn

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/database_image.h"

namespace quarn {

// The file name the help menu opens in the data directory.
inline constexpr char kEncyclopediaFileName[] = "ENCI.HTM";

// One named id of the name table, with its name's bytes as stored.
struct VirusNameEntry {
  uint32_t id;
  std::string name;
};

// Every id of the name image whose record is whole and whose name is not empty, sorted by
// name with ASCII letters compared without case, equal names by id.
std::vector<VirusNameEntry> SortedVirusNames(const DatabaseImage& names);

// What a fixed VirusId (one that detectors report without a record of their own) stands for.
struct FixedIdNote {
  uint32_t id;
  std::string_view meaning;  // one English sentence
};

// A note for every id of kFixedVirusIds, in id order.
std::span<const FixedIdNote> FixedIdNotes();

// The encyclopedia as one UTF-8 HTML page with no external resources: the database's version
// and date, the fixed ids with what each stands for, and every named id sorted by name. Names
// are escaped (database bytes are not trusted), so no name can add markup to the page.
std::string FormatEncyclopedia(const DatabaseImage& signatures, const DatabaseImage& names);

}  // namespace quarn

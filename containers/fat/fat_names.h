#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "containers/fat/fat_entry_layout.h"

namespace quarn {

using ShortNameBytes = std::array<uint8_t, fat_entry::kNameBytes>;

// The entries a name takes in a FAT folder: a short name alone when the name is one (8.3,
// upper case, characters DOS allows), else long-name entries in the order they are stored
// followed by a "~N" alias.
struct StoredName {
  ShortNameBytes short_name{};
  std::vector<std::array<uint8_t, fat_entry::kSlotBytes>> long_name_slots;
};

// `name` as a short entry stores it, or nothing when it is no 8.3 name in upper case.
std::optional<ShortNameBytes> ExactShortName(const std::string& name);

// "NAME.EXT" of a stored short name, without padding; ASCII names only are made here.
std::string ShortNameText(const ShortNameBytes& bytes);

// Nothing when `name` may name a file in a FAT folder, else why not: empty, ".", "..",
// a character Windows bars from names, a trailing dot or space, or longer than 255 units.
std::optional<std::string> LongNameFault(const std::string& name);

// How to store `name`, which LongNameFault accepts. `taken` tells whether a short name is in
// use already in the folder; an alias takes the lowest free "~N". Nothing when no alias is
// free.
std::optional<StoredName> StoreName(const std::string& name,
                                    const std::function<bool(const std::string&)>& taken);

}  // namespace quarn

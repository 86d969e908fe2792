#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quarn {

// The user-interface language, as stored in the settings value "Lingua". Its number times
// 1000 is added to a text's Italian id to load the text in that language.
enum class Language { kItalian = 0, kEnglish = 1 };

// The language a stored "Lingua" value selects: 1 is English, every other value (a missing
// value's preset included) is Italian.
Language LanguageFromSetting(uint32_t lingua);

// One entry of the compiled-in message table.
struct StringEntry {
  int id;
  std::string_view text;
};

// The text of a full id (language × 1000 + n), UTF-8, with its blanks exactly as stored.
// An id the table does not hold gives an empty view; no entry is empty, so empty means
// unknown. The view points into static storage and stays valid for the whole run. Never
// allocates; safe to call from any thread.
std::string_view LoadString(int id);

// The text of Italian id n in the given language: LoadString(language × 1000 + n). Any
// value of `language` other than kEnglish is taken as Italian. An n that is negative or
// so large that the full id would not fit gives an empty view.
std::string_view LoadText(Language language, int n);

// Whether the table holds the full id.
bool HasString(int id);

// The whole table, sorted by id with no id twice; for checks and listings.
std::span<const StringEntry> AllStrings();

}  // namespace quarn

#include "res/message_table.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace quarn {
namespace {

// Built from the entries as written; message_table_test holds the table to its rules (sorted,
// unique, every Italian id with its English twin), which the binary search relies on.
constexpr StringEntry kStrings[] = {
#define QUARN_STRING(id, text) {id, text},
#include "res/strings.inc"
#undef QUARN_STRING
};

constexpr int kLanguageStride = 1000;

const StringEntry* Find(int id) {
  const auto* end = std::end(kStrings);
  const auto* it =
      std::lower_bound(std::begin(kStrings), end, id,
                       [](const StringEntry& entry, int wanted) { return entry.id < wanted; });
  return it != end && it->id == id ? it : nullptr;
}

}  // namespace

Language LanguageFromSetting(uint32_t lingua) {
  return lingua == 1 ? Language::kEnglish : Language::kItalian;
}

std::string_view LoadString(int id) {
  const StringEntry* entry = Find(id);
  return entry != nullptr ? entry->text : std::string_view();
}

std::string_view LoadText(Language language, int n) {
  if (n < 0 || n > std::numeric_limits<int>::max() - kLanguageStride) return {};
  const int offset = language == Language::kEnglish ? kLanguageStride : 0;
  return LoadString(offset + n);
}

bool HasString(int id) {
  return Find(id) != nullptr;
}

std::span<const StringEntry> AllStrings() {
  return kStrings;
}

}  // namespace quarn

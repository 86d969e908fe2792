#include "platform/settings_store.h"

namespace quarn {

Result<RegistryDocument> ParseStoreText(std::string_view text, const std::string& location) {
  // A file of 0 bytes is what `touch` or an emptied editor leaves: nothing was ever written
  // into it, so it is a first run rather than a damaged store.
  if (text.empty()) return RegistryDocument();
  return ParseRegistryText(text, location);
}

}  // namespace quarn

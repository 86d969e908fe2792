#include "containers/archives/extractor_listing.h"

#include <nlohmann/json.hpp>

#include "containers/archives/archive_names.h"

namespace quarn {
namespace {

using json = nlohmann::json;

// A flag of the listing: present and true or non-zero.
bool Flag(const json& item, const char* name) {
  const auto found = item.find(name);
  if (found == item.end()) return false;
  if (found->is_boolean()) return found->get<bool>();
  if (found->is_number_integer()) return found->get<int64_t>() != 0;
  return false;
}

std::optional<uint64_t> Count(const json& item, const char* name) {
  const auto found = item.find(name);
  if (found == item.end() || !found->is_number_integer()) return std::nullopt;
  const int64_t value = found->get<int64_t>();
  if (value < 0) return std::nullopt;
  return static_cast<uint64_t>(value);
}

}  // namespace

Result<ExtractorListing> ParseExtractorListing(std::string_view text, size_t most) {
  const json listing = json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (listing.is_discarded() || !listing.is_object()) {
    return Status::Error("the extractor's listing is not JSON");
  }
  const auto contents = listing.find("lsarContents");
  if (contents == listing.end() || !contents->is_array()) {
    return Status::Error("the extractor's listing has no contents");
  }
  ExtractorListing result;
  for (const json& item : *contents) {
    if (result.entries.size() == most) {
      result.more = true;
      break;
    }
    if (!item.is_object()) return Status::Error("an entry of the extractor's listing is no object");
    const std::optional<uint64_t> index = Count(item, "XADIndex");
    const auto name = item.find("XADFileName");
    if (!index || name == item.end() || !name->is_string()) {
      return Status::Error("an entry of the extractor's listing has no index or name");
    }
    ListedEntry listed;
    listed.index = *index;
    listed.entry.path = ArchiveDisplayPath(name->get<std::string>());
    listed.entry.regular = !Flag(item, "XADIsDirectory") && !Flag(item, "XADIsLink") &&
                           !Flag(item, "XADIsResourceFork");
    listed.entry.size = Count(item, "XADFileSize");
    listed.packed = Count(item, "XADCompressedSize").value_or(0);
    // lsar writes a CRC-32 as a signed number.
    if (const auto crc = item.find("ARJCRC32"); crc != item.end() && crc->is_number_integer()) {
      listed.crc32 = static_cast<uint32_t>(crc->get<int64_t>());
    }
    if (const auto crc = item.find("ARCCRC16"); crc != item.end() && crc->is_number_integer()) {
      listed.crc16 = static_cast<uint16_t>(crc->get<int64_t>());
    }
    if (Flag(item, "XADIsEncrypted")) listed.entry.unreadable = IncompleteReason::kEncrypted;
    result.entries.push_back(std::move(listed));
  }
  return result;
}

}  // namespace quarn

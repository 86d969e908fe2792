// Any text as the extractor's listing: parsed or refused, never more entries than asked, and
// every name fit to show.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "containers/archives/extractor_listing.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kMost = 8;
  quarn::Result<quarn::ExtractorListing> listing = quarn::ParseExtractorListing(
      std::string_view(reinterpret_cast<const char*>(data), size), kMost);
  if (!listing) return 0;
  Check(listing->entries.size() <= kMost);
  for (const quarn::ListedEntry& listed : listing->entries) {
    for (unsigned char byte : listed.entry.path) Check(byte >= 0x20 && byte != 0x7F);
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  return {R"({"lsarFormatVersion": 2, "lsarContents": [
             {"XADIndex": 0, "XADFileName": "GAMES/SETUP.EXE", "XADFileSize": 5000,
              "XADCompressedSize": 3100, "ARJMethod": 1},
             {"XADIndex": 1, "XADFileName": "GAMES", "XADIsDirectory": 1},
             {"XADIndex": 2, "XADFileName": "\u00e9t\u00e9.TXT", "XADFileSize": 1,
              "XADIsEncrypted": 1}]})"};
}

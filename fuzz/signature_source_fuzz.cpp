// Parses hostile signature sources; whatever parses must compile, and the compiled database
// must come back through dump and build as the very same files.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "dbtool/database_codec.h"
#include "dbtool/signature_source.h"
#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<quarn::SourceText> sources = {
      {"fuzz.qsig", std::string(reinterpret_cast<const char*>(data), size)}};
  auto content = quarn::ParseSignatureSource(sources);
  if (!content) {
    if (content.message().rfind("fuzz.qsig:", 0) != 0) std::abort();  // errors name the file
    return 0;
  }
  auto files = quarn::CompileDatabase(*content);
  if (!files) return 0;
  std::vector<uint8_t> signatures(files->signatures.begin() + 512, files->signatures.end());
  std::vector<uint8_t> names(files->names.begin() + 512, files->names.end());
  // Images straight from the builder, to decompile without descrambling.
  quarn::DatabaseImage signature_image(*quarn::BuildSignatureImage(*content));
  quarn::DatabaseImage name_image(*quarn::BuildNameImage(*content));
  std::string text =
      quarn::FormatSignatureSource(quarn::DecompileDatabase(signature_image, name_image, nullptr));
  auto again = quarn::ParseSignatureSource({{"dump.qsig", text}});
  if (!again) std::abort();
  auto rebuilt = quarn::CompileDatabase(*again);
  if (!rebuilt || rebuilt->signatures != files->signatures || rebuilt->names != files->names) {
    std::abort();
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  return {
      "version 1\ndate 12/2026\nname 1 \"EICAR-Test-File\"\n"
      "com-entry code=\"X5O!P%@A\" id=1 confirm-offset=64 confirm=\"H+H*\"\n",
      "names 900\nname 846 \"Boot\\x01\"\nboot-pattern pattern=FA33C08ED0BC007C offset=0 id=846 "
      "follow-jump=1\n",
      "exe-pattern id=90 window=200 area=1 pattern=B8004CCD21\nraw-17 bytes=0102030405\n"
      "raw-17 bytes=0A0B0C0D0E\nmemory-name id=5 name=\"Mem\"\nmemory-pattern pattern=FA "
      "id=5 upper=1 confirm=65535\n",
      "exe-crypt-clean id=3 scheme=9 params=0102030405060708\npe-clean id=4 wipe=65535\n"
      "com-end id=7 pattern=\"ABCD\" distance=300 pattern2=\"XY\"\n# comment\n",
  };
}

// Writes a database of a grown database's mix (BuildMixedSignatures) for quarnscan to load:
// QUARN.DAT with K records, and the default NAMEVIR.DAT beside it, so that a scan's
// --data-dir can name the folder.
//
//   write_mixed_database K FOLDER
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/synthetic_database.h"
#include "engine/database_builder.h"
#include "engine/database_loader.h"

namespace {

// The same records as detection_bench's mixed_K groups.
constexpr uint32_t kMixedSeed = 20260101;

int Fail(const std::string& message) {
  std::fprintf(stderr, "write_mixed_database: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: write_mixed_database K FOLDER");
  char* end = nullptr;
  const unsigned long records = std::strtoul(argv[1], &end, 10);
  if (end == argv[1] || *end != '\0' || records == 0 || records > 1000000) {
    return Fail(std::string("not a record count: ") + argv[1]);
  }
  auto image = quarn::bench::BuildMixedSignatures(static_cast<uint32_t>(records), kMixedSeed);
  if (!image) return Fail(image.message());

  namespace fs = std::filesystem;
  const fs::path folder = argv[2];
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return Fail(folder.string() + ": " + error.message());
  const std::vector<uint8_t> encoded = quarn::EncodeDatabaseFile(image->bytes());
  const fs::path signatures = folder / std::string(quarn::kSignatureFileName);
  std::ofstream out(signatures, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(encoded.data()),
            static_cast<std::streamsize>(encoded.size()));
  out.close();
  if (!out) return Fail(signatures.string() + ": cannot be written");
  const fs::path names = folder / std::string(quarn::kNameFileName);
  fs::copy_file(fs::path(QUARN_DATA_DIR) / std::string(quarn::kNameFileName), names,
                fs::copy_options::overwrite_existing, error);
  if (error) return Fail(names.string() + ": " + error.message());
  return 0;
}

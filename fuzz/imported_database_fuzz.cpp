// Any bytes as QUARNX.DAT, their CRCs made to fit so that the checks behind them are reached:
// the decoder refuses or takes the file without a fault, and a file it takes answers every
// question about it: each signature reads back, each hash row's size is one the size check
// admits, and its digest finds a signature of its kind with that very hash.
#include <string>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "imported/quarnx/database_encoder.h"
#include "imported/quarnx/imported_database.h"
#include "imported/test_support/database_test_support.h"

namespace {

using Kind = quarn::ImportedSignature::Kind;

quarn::ImportedSignature Hash(Kind kind, uint64_t size, size_t length, uint8_t fill,
                              std::string name) {
  quarn::ImportedSignature signature;
  signature.kind = kind;
  signature.size = size;
  signature.digest.assign(length, fill);
  signature.name = std::move(name);
  signature.source = "main.cvd:main.hdb:1";
  return signature;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarn::Result<quarn::ImportedDatabase> database = quarn::ImportedDatabase::Decode(
      quarn::testing::Resealed(std::vector<uint8_t>(data, data + size)));
  if (!database.ok()) return 0;
  for (uint32_t index = 0; index < database->size(); ++index) {
    const quarn::ImportedSignature signature = database->Signature(index);
    Check(signature.name == database->Name(index));
    if (signature.kind == Kind::kBody) continue;
    Check(database->HasHashOfSize(signature.kind, signature.size));
    const std::optional<uint32_t> found =
        database->FindHash(signature.kind, signature.size, signature.digest).signature;
    Check(found.has_value() && *found <= index);
    const quarn::ImportedSignature twin = database->Signature(*found);
    Check(twin.kind == signature.kind && twin.size == signature.size &&
          twin.digest == signature.digest);
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  quarn::ImportedSignature body;
  body.kind = Kind::kBody;
  body.offset = *quarn::ParseOffsetRule("EP+0,16");
  body.pattern = *quarn::ParseBodyPattern("4d5a??90{2-4}(41|4243)*c3").pattern;
  body.name = "Dos.Any-1";
  body.source = "main.cvd:main.ndb:1";
  const std::vector<quarn::ImportedSignature> signatures = {
      body,
      Hash(Kind::kFileHash, 0, 16, 0xD4, "Dos.Empty-1"),
      Hash(Kind::kFileHash, 100, 20, 0x01, "Dos.Hundred-1"),
      Hash(Kind::kFileHash, 100, 16, 0x01, "Dos.Hundred-2"),
      Hash(Kind::kFileHash, 100, 16, 0x01, "Dos.Hundred-1"),
      Hash(Kind::kSectionHash, 4096, 32, 0xDA, "Win.Section-1"),
  };
  std::vector<std::string> seeds;
  for (const std::vector<uint8_t>& bytes :
       {quarn::EncodeImportedDatabase(signatures), quarn::EncodeImportedDatabase({}),
        quarn::EncodeImportedDatabase(signatures, std::vector<uint8_t>{1, 2, 3})}) {
    seeds.emplace_back(bytes.begin(), bytes.end());
  }
  return seeds;
}

// Any bytes as a user's ClamAV database: as a .cvd (header, tar, gzip) and as each record
// file, withdrawals read first. The import takes or leaves every line without a fault, and what it
// takes comes back whole through QUARNX.DAT, whose bytes are those of the plain reference encoder.
#include <string>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "imported/clamav/clamav_import.h"
#include "imported/quarnx/database_encoder.h"
#include "imported/quarnx/imported_database.h"
#include "imported/test_support/clamav_test_support.h"
#include "imported/test_support/database_test_support.h"
#include "platform/test_support/memory_file_system.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);
  for (const std::string name : {"/x.cvd", "/x.ndb", "/x.hdb", "/x.msb", "/x.ign2"}) {
    quarn::MemoryFileSystem files;
    files.AddFile(name, bytes);
    quarn::SignatureList list;
    quarn::ClamavImport import(list);
    (void)import.AddWithdrawals(files, name);
    (void)import.AddSource(files, name);
    const std::vector<quarn::ImportedSignature>& taken = list.signatures;
    Check(taken.size() == import.report().imported());
    std::vector<uint8_t> encoded = quarn::EncodeImportedDatabase(taken);
    Check(encoded == quarn::testing::EncodeReferenceDatabase(taken));
    quarn::Result<quarn::ImportedDatabase> database =
        quarn::ImportedDatabase::Decode(std::move(encoded));
    Check(database.ok());
    Check(database->size() == taken.size());
    for (uint32_t index = 0; index < taken.size(); ++index) {
      Check(database->Signature(index) == taken[index]);
    }
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  const std::string records =
      "Dos.Any-1:0:*:4d5a??90{2-4}(41|4243)4445*c3c4\n"
      "Win.Pe-1:1:EP+0,16:e8000000005d\n"
      "Dos.Eof-1:0:EOF-32,8:cd21b44c\n"
      "Dos.Sect-1:1:S1+16:de?d[1-3]beef\n"
      "Other.Negated-1:0:*:4142!(43|44)45\n"
      "d41d8cd98f00b204e9800998ecf8427e:1:Dos.One-1:10:300\n"
      "4096:da39a3ee5e6b4b0d3255bfef95601890afd80709:Win.Section-1\n";
  const std::vector<uint8_t> packed = quarn::testing::ClamavDatabase(
      {{"main.ign2", "Win.Pe-1\nDos.Eof-1:0123456789abcdef0123456789abcdef\n"},
       {"main.ndb", records},
       {"main.hdb", records}},
      true);
  const std::vector<uint8_t> plain = quarn::testing::ClamavDatabase(
      {{"daily.ndb", records}, {"daily.ldb", "L;T:1;0;41\n"}}, false);
  return {records, std::string(packed.begin(), packed.end()),
          std::string(plain.begin(), plain.end())};
}

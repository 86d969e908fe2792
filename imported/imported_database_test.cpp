// QUARNX.DAT: what the importer gathered comes back whole, hashes are found by kind, size
// and digest, and any damage is refused with its cause.
#include "imported/imported_database.h"

#include <gtest/gtest.h>

#include "imported/clamav_import.h"
#include "imported/clamav_test_support.h"
#include "platform/memory_file_system.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;

std::vector<ImportedSignature> Gathered() {
  MemoryFileSystem files;
  files.AddFile("/db/main.cvd",
                testing::ClamavDatabase(
                    {{"main.ndb",
                      "Dos.Any-1:0:*:4d5a??90{2-4}(41|4243)*c3\n"
                      "Win.Pe-1:1:EP+0,16:e8000000005d\n"
                      "Doc.Macro-1:2:S2+4:41747472696275\n"},
                     {"main.hdb",
                      "d41d8cd98f00b204e9800998ecf8427e:0:Dos.Empty-1\n"
                      "0123456789abcdef0123456789abcdef:100:Dos.Hundred-1\n"
                      "0123456789abcdef0123456789abcdef:100:Dos.Hundred-2\n"},
                     {"main.msb", "4096:da39a3ee5e6b4b0d3255bfef95601890afd80709:Win.Section-1\n"}},
                    true));
  ClamavImport imported;
  EXPECT_TRUE(imported.AddSource(files, "/db/main.cvd"));
  return imported.TakeSignatures();
}

std::vector<uint8_t> Digest(std::string_view hex) {
  std::vector<uint8_t> bytes;
  for (size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16)));
  }
  return bytes;
}

TEST(ImportedDatabase, WhatWasGatheredComesBackAndItsHashesAreFound) {
  const std::vector<ImportedSignature> signatures = Gathered();
  ASSERT_EQ(signatures.size(), 7u);
  Result<ImportedDatabase> database = ImportedDatabase::Decode(EncodeImportedDatabase(signatures));
  ASSERT_TRUE(database) << database.message();
  ASSERT_EQ(database->size(), signatures.size());
  for (uint32_t index = 0; index < signatures.size(); ++index) {
    EXPECT_EQ(database->Signature(index), signatures[index]) << signatures[index].name;
  }
  EXPECT_EQ(database->bodies(), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_EQ(database->file_hashes(), 3u);
  EXPECT_EQ(database->section_hashes(), 1u);

  const std::vector<uint8_t> hundred = Digest("0123456789abcdef0123456789abcdef");
  EXPECT_TRUE(database->HasHashOfSize(Kind::kFileHash, 100));
  EXPECT_TRUE(database->HasHashOfSize(Kind::kFileHash, 0));
  EXPECT_FALSE(database->HasHashOfSize(Kind::kFileHash, 4096));
  EXPECT_TRUE(database->HasHashOfSize(Kind::kSectionHash, 4096));
  // Two signatures of one hash: the lower index is the one found.
  EXPECT_EQ(database->FindHash(Kind::kFileHash, 100, hundred), 4u);
  EXPECT_FALSE(database->FindHash(Kind::kFileHash, 101, hundred));
  EXPECT_FALSE(database->FindHash(Kind::kSectionHash, 100, hundred));
  std::vector<uint8_t> near = hundred;
  near.back() ^= 1;
  EXPECT_FALSE(database->FindHash(Kind::kFileHash, 100, near));
  EXPECT_EQ(database->FindHash(Kind::kSectionHash, 4096,
                               Digest("da39a3ee5e6b4b0d3255bfef95601890afd80709")),
            6u);
  EXPECT_EQ(database->Name(3), "Dos.Empty-1");
}

TEST(ImportedDatabase, AnyDamageIsRefusedWithItsCause) {
  const std::vector<uint8_t> good = EncodeImportedDatabase(Gathered());
  // Every byte flipped and every cut: never a crash, always refused.
  for (size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> flipped = good;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(ImportedDatabase::Decode(flipped)) << "flip at " << at;
    EXPECT_FALSE(ImportedDatabase::Decode(std::vector<uint8_t>(good.begin(), good.begin() + at)))
        << "cut at " << at;
  }
  std::vector<uint8_t> later = good;
  later[8] = 2;
  const Result<ImportedDatabase> refused = ImportedDatabase::Decode(later);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.message(), "format version 2 is not supported");
  EXPECT_TRUE(ImportedDatabase::Decode(EncodeImportedDatabase({})));
}

}  // namespace
}  // namespace quarn

// QUARNX.DAT: what the importer gathered comes back whole, hashes are found by kind, size
// and digest, any damage is refused with its cause (also damage made to pass the CRCs), and
// rows changed under a mapping after the checks make lookups miss, never stray.
#include "imported/quarnx/imported_database.h"

#include <gtest/gtest.h>

#include <functional>

#include "imported/clamav/clamav_import.h"
#include "imported/quarnx/database_encoder.h"
#include "imported/test_support/clamav_test_support.h"
#include "imported/test_support/database_test_support.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;

std::vector<ImportedSignature> Gathered() {
  MemoryFileSystem files;
  files.AddFile("/db/main.cvd",
                testing::ClamavDatabase(
                    {{"main.ndb",
                      "Dos.Any-1:0:*:4d5a??90{2-4}(41|4243)4445*c3c4\n"
                      "Win.Pe-1:1:EP+0,16:e8000000005d\n"
                      "Doc.Macro-1:2:4:41747472696275\n"},
                     {"main.hdb",
                      "d41d8cd98f00b204e9800998ecf8427e:1:Dos.One-1\n"
                      "0123456789abcdef0123456789abcdef:100:Dos.Hundred-1\n"
                      "0123456789abcdef0123456789abcdef:100:Dos.Hundred-2\n"},
                     {"main.msb", "4096:da39a3ee5e6b4b0d3255bfef95601890afd80709:Win.Section-1\n"}},
                    true));
  SignatureList taken;
  ClamavImport imported(taken);
  EXPECT_TRUE(imported.AddSource(files, "/db/main.cvd"));
  return taken.signatures;
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
  EXPECT_TRUE(database->HasHashOfSize(Kind::kFileHash, 1));
  EXPECT_FALSE(database->HasHashOfSize(Kind::kFileHash, 4096));
  EXPECT_TRUE(database->HasHashOfSize(Kind::kSectionHash, 4096));
  // Two signatures of one hash: the lower index is the one found.
  EXPECT_EQ(database->FindHash(Kind::kFileHash, 100, hundred).signature, 4u);
  EXPECT_FALSE(database->FindHash(Kind::kFileHash, 101, hundred).signature);
  EXPECT_FALSE(database->FindHash(Kind::kSectionHash, 100, hundred).signature);
  std::vector<uint8_t> near = hundred;
  near.back() ^= 1;
  EXPECT_FALSE(database->FindHash(Kind::kFileHash, 100, near).signature);
  EXPECT_EQ(
      database
          ->FindHash(Kind::kSectionHash, 4096, Digest("da39a3ee5e6b4b0d3255bfef95601890afd80709"))
          .signature,
      6u);
  EXPECT_EQ(database->Name(3), "Dos.One-1");

  // A scanner's decode leaves the rows to LoadHashRows: until then a lookup fails, never
  // answers "no such hash".
  Result<ImportedDatabase> for_scans = ImportedDatabase::Decode(
      ReaderOfBytes(EncodeImportedDatabase(signatures)), ImportedDatabase::Checks::kForScans);
  ASSERT_TRUE(for_scans) << for_scans.message();
  EXPECT_TRUE(for_scans->HasHashOfSize(Kind::kFileHash, 4096));
  EXPECT_TRUE(for_scans->FindHash(Kind::kFileHash, 100, hundred).failed);
  ASSERT_TRUE(for_scans->LoadHashRows());
  EXPECT_FALSE(for_scans->HasHashOfSize(Kind::kFileHash, 4096));
  EXPECT_EQ(for_scans->FindHash(Kind::kFileHash, 100, hundred).signature, 4u);
}

TEST(ImportedDatabase, AnyDamageIsRefusedWithItsCause) {
  const std::vector<uint8_t> good = EncodeImportedDatabase(Gathered());
  // Every byte flipped and every cut: never a crash, always refused.
  for (size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> flipped = good;
    flipped[at] ^= 0x01;
    EXPECT_FALSE(ImportedDatabase::Decode(flipped)) << "flip at " << at;
    Result<ImportedDatabase> for_scans =
        ImportedDatabase::Decode(ReaderOfBytes(flipped), ImportedDatabase::Checks::kForScans);
    EXPECT_FALSE(for_scans && for_scans->LoadHashRows()) << "flip at " << at << ", for scans";
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

// Where section `id`'s directory entry lies in `bytes`.
size_t EntryOf(const std::vector<uint8_t>& bytes, uint32_t id) {
  using namespace imported_layout;
  for (size_t entry = kHeaderBytes; entry + kEntryBytes <= bytes.size(); entry += kEntryBytes) {
    if (Get(bytes, entry + kEntryIdAt, 4) == id) return entry;
  }
  ADD_FAILURE() << "no section " << id;
  return 0;
}

// Where section `id` starts in `bytes`.
size_t SectionOf(const std::vector<uint8_t>& bytes, uint32_t id) {
  return imported_layout::Get(bytes, EntryOf(bytes, id) + imported_layout::kEntryOffsetAt, 8);
}

TEST(ImportedDatabase, DamageThatPassesTheCrcsIsStillRefused) {
  using namespace imported_layout;
  // Gathered()'s rows: 0 Dos.One-1 (file, 1 byte), 1 and 2 Dos.Hundred-1 and -2 (file,
  // 100 bytes, one digest), 3 Win.Section-1 (section, 4096 bytes).
  const std::vector<uint8_t> good = EncodeImportedDatabase(Gathered());
  const size_t rows = SectionOf(good, kHashesSection);
  const auto row = [&](size_t index, size_t field) { return rows + index * kHashBytes + field; };
  struct Damage {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> make;
    std::string cause;
  };
  const Damage damages[] = {
      {"rows swapped across kinds",
       [&](auto& bytes) {
         std::swap_ranges(bytes.begin() + row(0, 0), bytes.begin() + row(1, 0),
                          bytes.begin() + row(3, 0));
       },
       "the hashes are out of order at 1"},
      {"twins in the wrong order",
       [&](auto& bytes) {
         std::swap_ranges(bytes.begin() + row(1, 0), bytes.begin() + row(2, 0),
                          bytes.begin() + row(2, 0));
       },
       "the hashes are out of order at 2"},
      {"a size that lies about the order",
       [&](auto& bytes) { Put(bytes, row(0, kHashSizeAt), 5000, 8); },
       "the hashes are out of order at 1"},
      {"a digest length no hash has", [&](auto& bytes) { bytes[row(0, kHashLengthAt)] = 17; },
       "hash 0 is malformed"},
      {"a row of a body signature",
       [&](auto& bytes) { Put(bytes, row(0, kHashSignatureAt), 0, 4); }, "hash 0 is malformed"},
      {"a row past the last signature",
       [&](auto& bytes) { Put(bytes, row(3, kHashSignatureAt), 7, 4); }, "hash 3 is malformed"},
      {"two rows of one signature",
       [&](auto& bytes) { Put(bytes, row(1, kHashSignatureAt), 5, 4); }, "hash 2 is malformed"},
      {"a row of the other kind", [&](auto& bytes) { bytes[row(3, kHashKindAt)] = 2; },
       "hash 3 is malformed"},
      {"a row short",
       [&](auto& bytes) {
         Put(bytes, EntryOf(bytes, kHashesSection) + kEntrySizeAt, 3 * kHashBytes, 8);
       },
       "the hashes are not one for each hash signature"},
      {"a row cut",
       [&](auto& bytes) {
         Put(bytes, EntryOf(bytes, kHashesSection) + kEntrySizeAt, 4 * kHashBytes - 5, 8);
       },
       "a record section is not whole records"},
      {"strings without their last NUL",
       [&](auto& bytes) { bytes[SectionOf(bytes, kSignaturesSection) - 1] = 'x'; },
       "the strings do not end with a NUL"},
      {"a name past the strings",
       [&](auto& bytes) {
         const size_t strings = EntryOf(bytes, kStringsSection);
         Put(bytes, SectionOf(bytes, kSignaturesSection) + kRecordNameAt,
             Get(bytes, strings + kEntrySizeAt, 8), 4);
       },
       "signature 0 names no string"},
  };
  for (const Damage& damage : damages) {
    std::vector<uint8_t> bytes = good;
    damage.make(bytes);
    const Result<ImportedDatabase> refused = ImportedDatabase::Decode(testing::Resealed(bytes));
    ASSERT_FALSE(refused) << damage.what;
    EXPECT_EQ(refused.message(), damage.cause) << damage.what;
  }
}

// Bytes the test may change after they were handed to the decoder, as a file rewritten in
// place changes under its reader.
class ChangingBytes : public DatabaseReader {
 public:
  explicit ChangingBytes(const std::vector<uint8_t>* bytes) : bytes_(bytes), size_(bytes->size()) {}
  uint64_t size() const override { return size_; }
  bool Read(uint64_t offset, std::span<uint8_t> out) const override {
    if (offset > bytes_->size() || out.size() > bytes_->size() - offset) return false;
    std::copy_n(bytes_->begin() + static_cast<ptrdiff_t>(offset), out.size(), out.begin());
    return true;
  }

 private:
  const std::vector<uint8_t>* bytes_;
  uint64_t size_;
};

TEST(ImportedDatabase, RowsChangedAfterLoadingMakeLookupsMissNeverStray) {
  using namespace imported_layout;
  // No matcher: the rows end the file, so a digest read past its row reads past the bytes.
  const std::vector<uint8_t> good = EncodeImportedDatabase(Gathered());
  const size_t rows = SectionOf(good, kHashesSection);
  ASSERT_EQ(rows + 4 * kHashBytes, good.size());
  const std::vector<uint8_t> hundred = Digest("0123456789abcdef0123456789abcdef");
  const std::function<void(std::vector<uint8_t>&, size_t)> changes[] = {
      [](auto& bytes, size_t at) { bytes[at + kHashLengthAt] = 0xFF; },
      [](auto& bytes, size_t at) { Put(bytes, at + kHashSignatureAt, 0xFFFFFFFF, 4); },
      [](auto& bytes, size_t at) { Put(bytes, at + kHashSignatureAt, 1, 4); },  // a body
      [](auto& bytes, size_t at) { std::fill_n(bytes.begin() + at, kHashBytes, 0xFF); },
  };
  for (size_t change = 0; change < std::size(changes); ++change) {
    std::vector<uint8_t> bytes = good;
    Result<ImportedDatabase> database =
        ImportedDatabase::Decode(std::make_unique<ChangingBytes>(&bytes));
    ASSERT_TRUE(database) << database.message();
    for (size_t at = rows; at < bytes.size(); at += kHashBytes) changes[change](bytes, at);
    for (const Kind kind : {Kind::kFileHash, Kind::kSectionHash}) {
      for (const uint64_t size : {uint64_t{0}, uint64_t{100}, uint64_t{4096}, UINT64_MAX}) {
        database->HasHashOfSize(kind, size);
        for (size_t length : {16, 20, 32, 255}) {
          std::vector<uint8_t> digest = hundred;
          digest.resize(length, 0xFF);
          EXPECT_FALSE(database->FindHash(kind, size, digest).signature) << "change " << change;
        }
      }
    }
  }
}

}  // namespace
}  // namespace quarn

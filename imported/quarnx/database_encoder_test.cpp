// The streaming encoder against the plain reference one, byte for byte: over a mixed set of
// thousands of signatures (names repeating, sources shared, digests of every length sharing
// sizes and prefixes), and over a build whose matcher refuses some bodies, which leave the
// file as though they had never been read.
#include "imported/quarnx/database_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "imported/imported_detector.h"
#include "imported/quarnx/database_build.h"
#include "imported/quarnx/imported_database.h"
#include "imported/test_support/database_test_support.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;

ImportedSignature Hash(Kind kind, uint64_t size, std::vector<uint8_t> digest, std::string name,
                       std::string source) {
  ImportedSignature signature;
  signature.kind = kind;
  signature.size = size;
  signature.digest = std::move(digest);
  signature.name = std::move(name);
  signature.source = std::move(source);
  return signature;
}

ImportedSignature Body(std::string_view offset, std::string_view hex, std::string name,
                       std::string source, uint8_t target = 0) {
  ImportedSignature signature;
  signature.kind = Kind::kBody;
  signature.target = static_cast<ImportedSignature::Target>(target);
  signature.offset = *ParseOffsetRule(offset);
  signature.pattern = *ParseBodyPattern(hex).pattern;
  signature.name = std::move(name);
  signature.source = std::move(source);
  return signature;
}

// A body Vectorscan refuses: one byte holds a value its mask clears, which nothing matches.
ImportedSignature Refused(std::string name, std::string source) {
  ImportedSignature signature = Body("*", "4d5a9000cd21", std::move(name), std::move(source));
  signature.pattern.parts[1].byte = {0x0F, 0xF0};
  return signature;
}

// Thousands of signatures, the same ones every time, in the shapes that order a file.
std::vector<ImportedSignature> MixedSet() {
  std::mt19937 random(1207);
  const auto pick = [&](size_t count) { return static_cast<size_t>(random() % count); };
  std::vector<std::vector<uint8_t>> digests(8, std::vector<uint8_t>(32));
  for (auto& digest : digests) {
    for (uint8_t& byte : digest) byte = static_cast<uint8_t>(random());
  }
  const std::string sources[] = {
      "main.cvd:main.hdb:", "daily.cld:daily.hsb:", "extra.mdb:", "loose.hdb", "odd.hdb:line"};
  const std::string bodies[] = {"4d5a??90{2-4}(41|4243)*c3", "e8000000005d", "cd21b44c",
                                "de?d[1-3]beef"};
  std::vector<ImportedSignature> set;
  for (uint32_t index = 0; index < 3000; ++index) {
    const std::string name = "Win.Test.Name-" + std::to_string(pick(500));
    std::string source = sources[pick(5)];
    if (source.back() == ':') source += std::to_string(index + 1);
    if (index % 10 == 0) {
      set.push_back(Body(index % 20 == 0 ? "*" : "EP+0,16", bodies[pick(4)], name, source,
                         static_cast<uint8_t>(pick(3))));
      continue;
    }
    // Few sizes and few digests, cut to every length: ties on kind and size everywhere,
    // digests that begin others, and whole duplicates told apart by their index.
    std::vector<uint8_t> digest = digests[pick(8)];
    digest.resize(std::array<size_t, 3>{16, 20, 32}[pick(3)]);
    const uint64_t sizes[] = {0, 100, 4096, uint64_t{1} << 40, random()};
    set.push_back(Hash(pick(2) == 0 ? Kind::kFileHash : Kind::kSectionHash, sizes[pick(5)],
                       std::move(digest), name, source));
  }
  return set;
}

// Where two files first differ, for a message shorter than both.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const auto [at, _] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
         ", first difference at " + std::to_string(at - a.begin());
}

std::vector<uint8_t> Joined(std::span<const std::span<const uint8_t>> pieces) {
  std::vector<uint8_t> bytes;
  for (const std::span<const uint8_t> piece : pieces)
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  return bytes;
}

TEST(ImportedDatabaseEncoder, StreamedBytesAreTheReferenceEncodersForAMixedSet) {
  const std::vector<ImportedSignature> set = MixedSet();
  const std::vector<uint8_t> matcher = {1, 2, 3, 4};
  for (const std::vector<uint8_t>& carried : {std::vector<uint8_t>(), matcher}) {
    const std::vector<uint8_t> streamed = EncodeImportedDatabase(set, carried);
    const std::vector<uint8_t> reference = testing::EncodeReferenceDatabase(set, carried);
    EXPECT_TRUE(streamed == reference) << FirstDifference(streamed, reference);
  }
  const std::vector<ImportedSignature> none;
  EXPECT_EQ(EncodeImportedDatabase(none), testing::EncodeReferenceDatabase(none));
}

TEST(ImportedDatabaseEncoder, BodiesTheMatcherRefusesLeaveAsThoughNeverTaken) {
  const std::vector<uint8_t> md5(16, 0xAB);
  // The first refused shares its name and source with signatures kept after it, so the
  // strings' order must follow what stays, not what was read.
  const std::vector<ImportedSignature> read = {
      Refused("Shared-1", "main.cvd:main.ndb:1"),
      Body("*", "4d5a90cd21", "Dos.Kept-1", "main.cvd:main.ndb:2"),
      Hash(Kind::kFileHash, 100, md5, "Shared-1", "main.cvd:main.hdb:1"),
      Refused("Refused-2", "main.cvd:main.ndb:3"),
      Hash(Kind::kFileHash, 100, md5, "Dos.Twin-1", "main.cvd:main.hdb:2"),
      Body("EP+0", "e8000000005d", "Win.Kept-2", "main.cvd:main.ndb:4", 1),
      Hash(Kind::kSectionHash, 4096, std::vector<uint8_t>(20, 0x11), "Win.Sect-1",
           "main.cvd:main.msb:1"),
      Refused("Refused-3", "daily.cvd:daily.ndb:9"),
  };
  ImportedDatabaseEncoder encoder;
  ImportReport report;
  for (const ImportedSignature& signature : read) {
    report.CountImported(signature.kind == Kind::kBody ? "ndb" : "hdb");
    encoder.Take(signature);
  }
  auto pieces = BuildImportedDatabase(encoder, report);
  ASSERT_TRUE(pieces) << pieces.message();
  EXPECT_EQ(report.Format(),
            "  hdb: 3 imported, 0 skipped\n"
            "  ndb: 2 imported, 3 skipped (3 refused by the matcher)\n");
  const std::vector<uint8_t> built = Joined(*pieces);
  Result<ImportedDatabase> database = ImportedDatabase::Decode(built);
  ASSERT_TRUE(database) << database.message();
  EXPECT_FALSE(database->matcher().empty());

  std::vector<ImportedSignature> kept;
  for (size_t index : {1, 2, 4, 5, 6}) kept.push_back(read[index]);
  const std::vector<uint8_t> reference =
      testing::EncodeReferenceDatabase(kept, database->matcher());
  EXPECT_TRUE(built == reference) << FirstDifference(built, reference);
  EXPECT_EQ(database->FindHash(Kind::kFileHash, 100, md5).signature, 1u);
  // The matcher was compiled over the bodies as they are numbered now.
  Result<SignatureMatcher> matcher =
      SignatureMatcher::Load(*BodySignaturesOf(*database), database->matcher());
  ASSERT_TRUE(matcher) << matcher.message();
  EXPECT_FALSE(matcher->recompiled());
  EXPECT_TRUE(matcher->refused().empty());
}

}  // namespace
}  // namespace quarn

// Importing a user's ClamAV database: every row of the forms the import knows is taken or
// left with its reason, from loose record files, folders and .cvd/.cld files (gzipped or
// not); a damaged database is an error that names it.
#include "imported/clamav/clamav_import.h"

#include <gtest/gtest.h>

#include <map>

#include "imported/test_support/clamav_test_support.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;
using Target = ImportedSignature::Target;

// One record file of every form, with a line for each row of what the import takes and
// leaves.
const std::vector<std::pair<std::string, std::string>> kMembers = {
    {"test.ndb",
     "# a comment\n"
     "Dos.Any-1:0:*:4d5a??90{2-4}(41|4243)4445*c3c4\n"
     "Win.Pe-1:1:EP+0:e8000000005d\r\n"
     "Doc.Macro-1:2:*:41747472696275\n"
     "Dos.Eof-1:0:EOF-32,8:cd21b44c\n"
     "Dos.Abs-1:0:512:eb3c90\n"
     "Win.Sect-1:1:S1+16:deadbeef\n"
     "Other.Target-1:3:*:41424344\n"
     "Other.Macro-1:0:$12$:41424344\n"
     "Other.Negated-1:0:*:4142!(43|44)45\n"
     "Other.Anchor-1:0:*:4142(B)4344\n"
     "Other.Short-1:0:*:41??42\n"
     "Other.Hex-1:0:*:41x2\n"
     "Dos.Star Target-1:*:*:41424344:216\n"
     "Win.Whole-1:1:SE0,16:41424344:10:216\n"
     "Dos.Tied-1:0:*:41[1-5]4243\n"
     "Other.EntryAny-1:0:EP+0:41424344\n"
     "Other.SectionDoc-1:2:S0+4:41424344\n"
     "Other.StarPiece-1:0:*:41424344*41\n"
     "Other.Tied-1:0:*:4142[1-5]4344\n"
     "Other.WideTie-1:0:*:41[1-33]4243\n"
     "Other.Level-1:0:*:41424344:x\n"
     "Other.Later-1:0:*:41424344:217\n"
     "Other.Earlier-1:0:*:41424344:10:215\n"
     "\n"},
    {"test.hdb",
     "d41d8cd98f00b204e9800998ecf8427e:12:Dos.Md5-1\n"
     "0123456789abcdef0123456789abcdef:*:Other.AnySize-1\n"
     "0123:12:Other.BadHash-1\n"
     "d41d8cd98f00b204e9800998ecf8427e:0:Other.Empty-1\n"
     "d41d8cd98f00b204e9800998ecf8427e:0:Other.EmptyLater-1:300\n"
     "d41d8cd98f00b204e9800998ecf8427e:12:Dos.Levels-1:10:300\n"
     "d41d8cd98f00b204e9800998ecf8427e:12:Other.Earlier-1:10:20\n"},
    {"test.hsb",
     "da39a3ee5e6b4b0d3255bfef95601890afd80709:12:Dos.Sha1-1:73\n"
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855:12:Dos.Sha256-1\n"
     "da39a3ee5e6b4b0d3255bfef95601890afd80709:0:Other.Empty-2\n"},
    {"test.mdb", "4096:0123456789abcdef0123456789abcdef:Win.Section-1\n"},
    {"test.msb", "*:da39a3ee5e6b4b0d3255bfef95601890afd80709:Win.AnySection-1:73\n"},
    {"test.ldb", "Logical-1;Target:1;0;4142\nLogical-2;Target:1;0;4344\n"},
    {"test.fp", "d41d8cd98f00b204e9800998ecf8427e:0:Allowed-1\n"},
    {"test.cbc", "bytecode"},
    {"test.info", "not signatures"},
};

const std::string kExpectedReport =
    "  cbc: 0 imported, 1 skipped (1 form not imported)\n"
    "  fp: 0 imported, 1 skipped (1 form not imported)\n"
    "  hdb: 2 imported, 5 skipped (1 any size below level 73, 2 functionality level, 1 malformed, "
    "1 size 0)\n"
    "  hsb: 2 imported, 1 skipped (1 size 0)\n"
    "  ldb: 0 imported, 2 skipped (2 form not imported)\n"
    "  mdb: 1 imported, 0 skipped\n"
    "  msb: 1 imported, 0 skipped\n"
    "  ndb: 9 imported, 14 skipped (1 PE offset in target 0, 1 PE offset in target 2, 1 boundary "
    "anchor, 2 functionality level, 1 malformed, 1 malformed functionality level, 2 misplaced "
    "[n-m], 1 negated alternative, 1 offset form, 1 target 3, 2 too few fixed bytes)\n";

std::vector<std::string> Names(const SignatureList& taken) {
  std::vector<std::string> names;
  for (const ImportedSignature& signature : taken.signatures) names.push_back(signature.name);
  return names;
}

const std::vector<std::string> kImportedNames = {
    "Dos.Any-1",    "Win.Pe-1",          "Doc.Macro-1",  "Dos.Eof-1",     "Dos.Abs-1",
    "Win.Sect-1",   "Dos.Star Target-1", "Win.Whole-1",  "Dos.Tied-1",    "Dos.Md5-1",
    "Dos.Levels-1", "Dos.Sha1-1",        "Dos.Sha256-1", "Win.Section-1", "Win.AnySection-1"};

TEST(ClamavImport, EveryFormIsTakenOrLeftWithItsReasonFromAnyOfItsContainers) {
  MemoryFileSystem files;
  for (const auto& [name, text] : kMembers) ASSERT_TRUE(files.AddFile("/loose/" + name, text));
  files.AddFile("/db/daily.cvd", testing::ClamavDatabase(kMembers, true));
  files.AddFile("/db/daily.cld", testing::ClamavDatabase(kMembers, false));
  // Read in name order, a folder gives the loose files in the order hdb, hsb, mdb, msb, ndb.
  const std::vector<std::string> loose_order = {
      "Dos.Md5-1",        "Dos.Levels-1", "Dos.Sha1-1",        "Dos.Sha256-1", "Win.Section-1",
      "Win.AnySection-1", "Dos.Any-1",    "Win.Pe-1",          "Doc.Macro-1",  "Dos.Eof-1",
      "Dos.Abs-1",        "Win.Sect-1",   "Dos.Star Target-1", "Win.Whole-1",  "Dos.Tied-1"};
  struct Source {
    std::string path;
    std::vector<std::string> names;
    std::string first_source;
  };
  for (const Source& source : {Source{"/loose", loose_order, "test.hdb:1"},
                               Source{"/db/daily.cvd", kImportedNames, "daily.cvd:test.ndb:2"},
                               Source{"/db/daily.cld", kImportedNames, "daily.cld:test.ndb:2"}}) {
    SCOPED_TRACE(source.path);
    SignatureList taken;
    ClamavImport imported(taken);
    ASSERT_TRUE(imported.AddSource(files, source.path));
    EXPECT_EQ(Names(taken), source.names);
    EXPECT_EQ(taken.signatures.front().source, source.first_source);
    EXPECT_EQ(imported.report().Format(), kExpectedReport);
  }

  SignatureList taken;
  ClamavImport imported(taken);
  ASSERT_TRUE(imported.AddSource(files, "/db/daily.cvd"));
  std::map<std::string, ImportedSignature> by_name;
  for (const ImportedSignature& signature : taken.signatures) by_name[signature.name] = signature;
  EXPECT_EQ(by_name["Win.Pe-1"].target, Target::kPe);
  EXPECT_EQ(by_name["Doc.Macro-1"].target, Target::kOle2);
  EXPECT_EQ(FormatOffsetRule(by_name["Dos.Eof-1"].offset), "EOF-32,8");
  EXPECT_EQ(FormatBodyPattern(by_name["Dos.Any-1"].pattern), "4d5a??90{2-4}(41|4243)4445*c3c4");
  EXPECT_EQ(by_name["Dos.Star Target-1"].target, Target::kAnyFile);
  EXPECT_EQ(FormatOffsetRule(by_name["Win.Whole-1"].offset), "SE0,16");
  EXPECT_EQ(FormatBodyPattern(by_name["Dos.Tied-1"].pattern), "41[1-5]4243");
  EXPECT_EQ(by_name["Dos.Sha256-1"].digest.size(), 32u);
  EXPECT_EQ(by_name["Dos.Sha1-1"].kind, Kind::kFileHash);
  EXPECT_EQ(by_name["Win.Section-1"].kind, Kind::kSectionHash);
  EXPECT_EQ(by_name["Win.Section-1"].size, 4096u);
  EXPECT_EQ(by_name["Win.Section-1"].digest.front(), 0x01);
  EXPECT_EQ(by_name["Win.AnySection-1"].size, ImportedSignature::kAnySize);
}

// Damage a .cvd's own checks catch is refused with its cause: the header's MD5 of the body,
// and the gzip stream's CRC and length (with an MD5 made to fit, only they tell).
TEST(ClamavImport, ADamagedDatabaseIsAnErrorNamingItAndItsCause) {
  MemoryFileSystem files;
  const std::vector<uint8_t> good = testing::ClamavDatabase(kMembers, true);
  const std::vector<uint8_t> body(good.begin() + 512, good.end());
  const std::vector<uint8_t> plain = testing::ClamavDatabase(kMembers, false);
  const std::vector<uint8_t> tar(plain.begin() + 512, plain.end());
  const auto damaged = [&](const std::vector<uint8_t>& bytes, size_t at) {
    std::vector<uint8_t> copy = bytes;
    copy[at] ^= 0x01;
    return copy;
  };
  std::vector<uint8_t> headless = good;
  headless[0] = 'X';
  std::vector<uint8_t> garbled = good;
  for (size_t at = 530; at < 600; ++at) garbled[at] ^= 0x5A;
  // In the uncompressed tar, one letter of a record: it would rename a signature.
  const size_t letter = std::string(tar.begin(), tar.end()).find("Dos.Any-1");
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"headless.cvd", headless},
      {"cut.cvd", std::vector<uint8_t>(good.begin(), good.begin() + 600)},
      {"garbled.cvd", garbled},
      {"letter.cvd", damaged(testing::ClamavHeadered(tar), 512 + letter)},
      {"crc.cvd", testing::ClamavHeadered(damaged(body, body.size() - 8))},
      {"length.cvd", testing::ClamavHeadered(damaged(body, body.size() - 4))},
      {"short.cvd", testing::ClamavHeadered(std::vector<uint8_t>(body.begin(), body.end() - 6))},
  };
  const std::map<std::string, std::string> causes = {{"letter.cvd", "MD5"},
                                                     {"crc.cvd", "incorrect data check"},
                                                     {"length.cvd", "incorrect length check"},
                                                     {"short.cvd", "cut short"}};
  for (const auto& [name, bytes] : cases) {
    files.AddFile("/db/" + name, bytes);
    SignatureList taken;
    ClamavImport imported(taken);
    const Status status = imported.AddSource(files, "/db/" + name);
    EXPECT_FALSE(status) << name;
    EXPECT_NE(status.message().find("/db/" + name), std::string::npos) << status.message();
    if (causes.count(name)) {
      EXPECT_NE(status.message().find(causes.at(name)), std::string::npos) << status.message();
    }
  }
  SignatureList taken;
  ClamavImport missing(taken);
  EXPECT_FALSE(missing.AddSource(files, "/db/none.cvd"));
  // A .cld's header keeps the MD5 of the .cvd it was made from: ClamAV does not check it.
  files.AddFile("/db/daily.cld", damaged(plain, 60));
  ClamavImport updated(taken);
  EXPECT_TRUE(updated.AddSource(files, "/db/daily.cld"));
}

// What a user's update withdraws stays out, by name or by the MD5 of the record's line, from
// every database read after the withdrawals (the .ign2 inside daily.cld and a loose .ign in
// the old form); of a .cvd beside a newer .cld of its name only the .cld is read.
TEST(ClamavImport, WithdrawalsAndTheNewerFormOfADatabaseAreHonoured) {
  MemoryFileSystem files;
  files.AddFile("/db/daily.cvd",
                testing::ClamavDatabase({{"daily.ndb", "Dos.Old-1:0:*:41424344\n"}}, true, 27000));
  files.AddFile("/db/daily.cld",
                testing::ClamavDatabase({{"daily.ndb",
                                          "Dos.New-1:0:*:41424344\n"
                                          "Dos.Named-1:0:*:45464748\n"
                                          "Dos.Line-1:0:*:4a4b4c4d\r\n"
                                          "Dos.Line-1:0:*:4a4b4c4e\n"},
                                         {"daily.ign2",
                                          "Dos.Named-1\n"
                                          "Dos.Line-1:29BE4FB5CF323C24765C3771D4DDC642\n"
                                          "Dos.Hash-1:55361cec03f5bb6cf49576c797235213\n"
                                          "Dos.Bad-1:1234\n"}},
                                        false, 27001));
  files.AddFile("/db/local.ign", "daily.ndb:3:Dos.Gone-1\n");
  files.AddFile("/db/main.hdb",
                "d41d8cd98f00b204e9800998ecf8427e:12:Dos.Named-1\n"
                "d41d8cd98f00b204e9800998ecf8427e:12:Dos.Hash-1\n"
                "d41d8cd98f00b204e9800998ecf8427e:12:Dos.Gone-1\n");
  SignatureList taken;
  ClamavImport imported(taken);
  ASSERT_TRUE(imported.AddWithdrawals(files, "/db"));
  ASSERT_TRUE(imported.AddSource(files, "/db"));
  EXPECT_EQ(Names(taken), (std::vector<std::string>{"Dos.New-1", "Dos.Line-1", "Dos.Hash-1"}));
  EXPECT_EQ(imported.report().Format(),
            "  hdb: 1 imported, 2 skipped (2 withdrawn)\n"
            "  ign2: 0 imported, 1 skipped (1 malformed)\n"
            "  ndb: 2 imported, 2 skipped (2 withdrawn)\n");
  EXPECT_EQ(imported.report().notes(),
            std::vector<std::string>{"daily.cvd: passed over for daily.cld (version 27001 beside "
                                     "27000)"});
}

// A line far longer than any record is left whole, and the next line still read.
TEST(ClamavImport, AnOverlongLineIsLeftAndTheNextStillRead) {
  MemoryFileSystem files;
  files.AddFile("/x.ndb", "Long-1:0:*:" + std::string(3 << 20, 'a') + "\nDos.After-1:0:*:4142\n");
  SignatureList taken;
  ClamavImport imported(taken);
  ASSERT_TRUE(imported.AddSource(files, "/x.ndb"));
  EXPECT_EQ(Names(taken), std::vector<std::string>{"Dos.After-1"});
  EXPECT_EQ(imported.report().Format(), "  ndb: 1 imported, 1 skipped (1 malformed)\n");
}

}  // namespace
}  // namespace quarn

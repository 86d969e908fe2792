// Importing a user's ClamAV database: every row of the forms the import knows is taken or
// left with its reason, from loose record files, folders and .cvd/.cld files (gzipped or
// not); a damaged database is an error that names it.
#include "imported/clamav_import.h"

#include <gtest/gtest.h>

#include <map>

#include "imported/clamav_test_support.h"
#include "platform/memory_file_system.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;
using Target = ImportedSignature::Target;

// One record file of every form, with a line for each row of what the import takes and
// leaves.
const std::vector<std::pair<std::string, std::string>> kMembers = {
    {"test.ndb",
     "# a comment\n"
     "Dos.Any-1:0:*:4d5a??90{2-4}(41|4243)*c3\n"
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
     "\n"},
    {"test.hdb",
     "d41d8cd98f00b204e9800998ecf8427e:0:Dos.Empty-1\n"
     "0123456789abcdef0123456789abcdef:*:Other.AnySize-1\n"
     "0123:12:Other.BadHash-1\n"},
    {"test.hsb",
     "da39a3ee5e6b4b0d3255bfef95601890afd80709:0:Dos.Sha1-1:73\n"
     "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855:0:Dos.Sha256-1\n"},
    {"test.mdb", "4096:0123456789abcdef0123456789abcdef:Win.Section-1\n"},
    {"test.msb", "*:da39a3ee5e6b4b0d3255bfef95601890afd80709:Other.AnySection-1:73\n"},
    {"test.ldb", "Logical-1;Target:1;0;4142\nLogical-2;Target:1;0;4344\n"},
    {"test.fp", "d41d8cd98f00b204e9800998ecf8427e:0:Allowed-1\n"},
    {"test.cbc", "bytecode"},
    {"test.info", "not signatures"},
};

const std::string kExpectedReport =
    "  cbc: 0 imported, 1 skipped (1 form not imported)\n"
    "  fp: 0 imported, 1 skipped (1 form not imported)\n"
    "  hdb: 1 imported, 2 skipped (1 any size, 1 malformed)\n"
    "  hsb: 2 imported, 0 skipped\n"
    "  ldb: 0 imported, 2 skipped (2 form not imported)\n"
    "  mdb: 1 imported, 0 skipped\n"
    "  msb: 0 imported, 1 skipped (1 any size)\n"
    "  ndb: 6 imported, 6 skipped (1 boundary anchor, 1 malformed, 1 negated alternative, 1 "
    "offset form, 1 target 3, 1 too few fixed bytes)\n";

std::vector<std::string> Names(const SignatureList& taken) {
  std::vector<std::string> names;
  for (const ImportedSignature& signature : taken.signatures) names.push_back(signature.name);
  return names;
}

const std::vector<std::string> kImportedNames = {
    "Dos.Any-1",  "Win.Pe-1",    "Doc.Macro-1", "Dos.Eof-1",    "Dos.Abs-1",
    "Win.Sect-1", "Dos.Empty-1", "Dos.Sha1-1",  "Dos.Sha256-1", "Win.Section-1"};

TEST(ClamavImport, EveryFormIsTakenOrLeftWithItsReasonFromAnyOfItsContainers) {
  MemoryFileSystem files;
  for (const auto& [name, text] : kMembers) ASSERT_TRUE(files.AddFile("/loose/" + name, text));
  files.AddFile("/db/daily.cvd", testing::ClamavDatabase(kMembers, true));
  files.AddFile("/db/daily.cld", testing::ClamavDatabase(kMembers, false));
  // Read in name order, a folder gives the loose files in the order hdb, hsb, mdb, msb, ndb.
  const std::vector<std::string> loose_order = {
      "Dos.Empty-1", "Dos.Sha1-1",  "Dos.Sha256-1", "Win.Section-1", "Dos.Any-1",
      "Win.Pe-1",    "Doc.Macro-1", "Dos.Eof-1",    "Dos.Abs-1",     "Win.Sect-1"};
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
  EXPECT_EQ(FormatBodyPattern(by_name["Dos.Any-1"].pattern), "4d5a??90{2-4}(41|4243)*c3");
  EXPECT_EQ(by_name["Dos.Sha256-1"].digest.size(), 32u);
  EXPECT_EQ(by_name["Dos.Sha1-1"].kind, Kind::kFileHash);
  EXPECT_EQ(by_name["Win.Section-1"].kind, Kind::kSectionHash);
  EXPECT_EQ(by_name["Win.Section-1"].size, 4096u);
  EXPECT_EQ(by_name["Win.Section-1"].digest.front(), 0x01);
}

TEST(ClamavImport, ADamagedDatabaseIsAnErrorNamingIt) {
  MemoryFileSystem files;
  const std::vector<uint8_t> good = testing::ClamavDatabase(kMembers, true);
  std::vector<uint8_t> headless = good;
  headless[0] = 'X';
  files.AddFile("/db/headless.cvd", headless);
  files.AddFile("/db/cut.cvd", std::vector<uint8_t>(good.begin(), good.begin() + 600));
  std::vector<uint8_t> garbled = good;
  for (size_t at = 530; at < 600; ++at) garbled[at] ^= 0x5A;
  files.AddFile("/db/garbled.cvd", garbled);
  for (const std::string name : {"headless.cvd", "cut.cvd", "garbled.cvd"}) {
    SignatureList taken;
    ClamavImport imported(taken);
    const Status status = imported.AddSource(files, "/db/" + name);
    EXPECT_FALSE(status) << name;
    EXPECT_NE(status.message().find("/db/" + name), std::string::npos) << status.message();
  }
  SignatureList taken;
  ClamavImport missing(taken);
  EXPECT_FALSE(missing.AddSource(files, "/db/none.cvd"));
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

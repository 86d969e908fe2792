// The names LhaOpener shows: code page 437 as UTF-8, "\" between folders whatever the header
// level kept them in, capitals as the DOS archivers stored them, control bytes as U+FFFD.
#include <gtest/gtest.h>

#include "containers/archives/lha_names.h"
#include "containers/test_support/lha_test_support.h"
#include "containers/test_support/lzh_writer.h"

namespace quarn {
namespace {

using testing::LzhWriter;

struct LhaNameCase {
  const char* what;
  int level;
  bool path_header;
  uint8_t os;
  std::string stored;  // "/" between folders, bytes as the archive holds them
  bool folder;
  std::string shown;
};

constexpr uint8_t kDos = LzhWriter::kOsMsDos;
constexpr uint8_t kUnix = LzhWriter::kOsUnix;

// Mixed-case names at every level are the witness's; here, capitals, which the tool lowers,
// and what it shows only as "?".
TEST(LhaNames, ShowTheStoredNameInCodePage437WithBackslashes) {
  const LhaNameCase cases[] = {
      {"capitals at level 0", 0, false, kDos, "README.TXT", false, "README.TXT"},
      {"lower case at level 0", 0, false, kDos, "readme.txt", false, "readme.txt"},
      {"no letters at all", 0, false, kDos, "1994.001", false, "1994.001"},
      {"capitals in folders of the name", 1, false, kDos, "DOS/UTIL/KEYB.COM", false,
       "DOS\\UTIL\\KEYB.COM"},
      {"capitals in the path header", 1, true, kDos, "DOS/UTIL/KEYB.COM", false,
       "DOS\\UTIL\\KEYB.COM"},
      {"a lower-case folder with a capital name", 0, false, kDos, "dos/KEYB.COM", false,
       "dos\\KEYB.COM"},
      {"capitals at level 2", 2, true, kDos, "DOS/KEYB.COM", false, "DOS\\KEYB.COM"},
      {"capitals from Unix", 2, true, kUnix, "README.TXT", false, "README.TXT"},
      {"lower case from Unix", 1, true, kUnix, "dos/readme.txt", false, "dos\\readme.txt"},
      // 0x82 is "é", 0x90 "É" and 0xE1 "ß" in code page 437.
      {"code page 437 in capitals", 0, false, kDos, "CAF\x82.TXT", false, "CAF\xC3\xA9.TXT"},
      {"code page 437 capitals and sharp s", 1, true, kDos,
       "\x90T\x90/STRA\xE1"
       "E.DOC",
       false,
       "\xC3\x89T\xC3\x89\\STRA\xC3\x9F"
       "E.DOC"},
      {"a control byte", 0, false, kDos, "BEL\x07.TXT", false, "BEL\xEF\xBF\xBD.TXT"},
      {"a folder at level 0", 0, false, kDos, "GAMES/DOOM", true, "GAMES\\DOOM"},
      {"a folder at level 2", 2, true, kDos, "GAMES/DOOM", true, "GAMES\\DOOM"},
  };
  for (const LhaNameCase& example : cases) {
    LzhWriter writer;
    writer.Level(example.level).PathHeader(example.path_header).Os(example.os);
    if (example.folder) {
      writer.AddFolder(example.stored);
    } else {
      writer.AddFile(example.stored, {'x'});
    }
    const testing::WholeArchive read = testing::ReadLha(writer.Build());
    ASSERT_EQ(read.entries.size(), 1u) << example.what;
    EXPECT_EQ(read.entries[0].entry.path, example.shown) << example.what;
    EXPECT_EQ(read.entries[0].entry.regular, !example.folder) << example.what;
  }
}

}  // namespace
}  // namespace quarn

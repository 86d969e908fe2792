// How names are stored in a FAT folder: which are short names as they stand, the aliases
// and long-name entries of the others, and DOS times both ways.
#include "containers/fat/fat_names.h"

#include <gtest/gtest.h>

#include <set>

#include "containers/fat/fat_directory.h"
#include "containers/fat/fat_file.h"

namespace quarn {
namespace {

TEST(FatNamesTest, OnlyUpperCaseEightThreeNamesStandAsShortNames) {
  const std::pair<std::string, bool> cases[] = {
      {"VIRUS.COM", true},
      {"README", true},
      {"A-B_C~1.$$$", true},
      {"virus.com", false},
      {"TOOLONGNAME.TXT", false},
      {"A.B.C", false},
      {"A+B.TXT", false},
      {".COM", false},
      {"A.", false},
      {"NAME.TEXT", false},
      {"SP ACE.TXT", false},
      {"", false},
  };
  for (const auto& [name, exact] : cases) {
    EXPECT_EQ(ExactShortName(name).has_value(), exact) << name;
  }
  EXPECT_EQ(ShortNameText(*ExactShortName("VIRUS.COM")), "VIRUS.COM");
  EXPECT_EQ(ShortNameText(*ExactShortName("README")), "README");
}

TEST(FatNamesTest, OtherNamesGetTheLowestFreeAliasAndWholeLongNameEntries) {
  struct Case {
    std::string name;
    std::set<std::string> taken;
    std::string alias;
    size_t long_slots;
  };
  const Case cases[] = {
      {"A much longer name.com", {}, "AMUCHL~1.COM", 2},
      {"A much longer name.com", {"AMUCHL~1.COM", "AMUCHL~2.COM"}, "AMUCHL~3.COM", 2},
      {"lower.txt", {}, "LOWER~1.TXT", 1},
      {"R\xC3\xA9sum\xC3\xA9.doc", {}, "R_SUM_~1.DOC", 1},
      {"...dots.tar.gz", {}, "DOTSTA~1.GZ", 2},
      {"a+b=c", {}, "A_B_C~1", 1},
      {"exactly thirteen", {}, "EXACTL~1", 2},
      {"twelve chars", {}, "TWELVE~1", 1},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    std::optional<StoredName> stored =
        StoreName(row.name, [&](const std::string& name) { return row.taken.count(name) > 0; });
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(ShortNameText(stored->short_name), row.alias);
    ASSERT_EQ(stored->long_name_slots.size(), row.long_slots);
    const uint8_t checksum = ShortNameChecksum(stored->short_name.data());
    for (size_t i = 0; i < stored->long_name_slots.size(); ++i) {
      const auto& slot = stored->long_name_slots[i];
      const size_t ordinal = row.long_slots - i;
      EXPECT_EQ(slot[0], ordinal | (i == 0 ? 0x40 : 0)) << i;
      EXPECT_EQ(slot[fat_entry::kLongNameAttributesOffset], fat_entry::kLongNameAttributes);
      EXPECT_EQ(slot[fat_entry::kLongNameChecksumOffset], checksum);
    }
  }
}

TEST(FatNamesTest, DosTimesGoBothWaysWithinTheirRange) {
  const std::pair<FileTime, bool> cases[] = {
      {315532800LL * 1000000000, true},    // 1980-01-01 00:00:00
      {1700000000LL * 1000000000, true},   // 2023-11-14 22:13:20
      {4354819198LL * 1000000000, true},   // 2107-12-31 23:59:58
      {315532799LL * 1000000000, false},   // one second before 1980
      {4354819200LL * 1000000000, false},  // 2108
      {-1, false},
  };
  for (const auto& [time, fits] : cases) {
    std::optional<DosTime> dos = FileTimeToDosTime(time);
    ASSERT_EQ(dos.has_value(), fits) << time;
    if (fits) EXPECT_EQ(DosTimeToFileTime(dos->date, dos->time), time / 2000000000 * 2000000000);
  }
}

}  // namespace
}  // namespace quarn

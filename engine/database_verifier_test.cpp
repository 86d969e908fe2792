#include "engine/database_verifier.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/database_builder.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

DatabaseContent SoundContent() {
  DatabaseContent content;
  content.month = 12;
  content.year = 2026;
  for (uint32_t id : kFixedVirusIds) content.names[id] = "Fixed" + std::to_string(id);
  content.names[1] = "One";
  std::vector<uint8_t> entry(16, 0);
  entry[8] = 1;  // VirusId 1
  content.sections[kComEntrySection].records.push_back(entry);
  return content;
}

std::vector<std::string> Verify(const DatabaseContent& content) {
  return VerifyDatabase(DatabaseImage(*BuildSignatureImage(content)),
                        DatabaseImage(*BuildNameImage(content)));
}

std::vector<std::string> VerifyPatched(const DatabaseContent& content, int section, uint32_t offset,
                                       uint16_t count, uint8_t size) {
  std::vector<uint8_t> image = *BuildSignatureImage(content);
  uint8_t* descriptor = &image[DirectoryOffset(section)];
  WriteU32(descriptor, offset);
  WriteU16(descriptor + 4, count);
  descriptor[8] = size;
  return VerifyDatabase(DatabaseImage(image), DatabaseImage(*BuildNameImage(content)));
}

TEST(VerifyDatabase, CatchesRecordSizesOtherThanTheReaders) {
  EXPECT_THAT(VerifyPatched(SoundContent(), kComEntrySection, 400, 1, 20),
              ElementsAre("section 8 (com-entry): record size 20, but its reader steps by 16"));
  EXPECT_THAT(VerifyPatched(SoundContent(), kComEntrySection, 400, 1, 0),
              ElementsAre("section 8 (com-entry): record size 0"));
}

TEST(VerifyDatabase, CatchesSectionsOutOfTheImage) {
  EXPECT_THAT(VerifyPatched(SoundContent(), kExeEntrySection, 0xFFFFFF00u, 2, 16),
              ElementsAre(HasSubstr("section 0 (exe-entry): 2 records from offset 4294967040 run "
                                    "past the end of the image")));
  EXPECT_THAT(VerifyPatched(SoundContent(), kVersionSection, 0xFFFFFF00u, 1, 7),
              ElementsAre("section 34 (version): the version bytes lie beyond the image"));
}

TEST(VerifyDatabase, CatchesIdsWithoutNames) {
  DatabaseContent content = SoundContent();
  std::vector<uint8_t> clean(14, 0);
  clean[0] = 44;
  content.sections[kExeCleanSection].records.push_back(clean);
  content.sections[kMacroCleanSection].records.push_back({0, 0});
  std::vector<uint8_t> memory(20, 0);
  memory[14] = 1;  // named in the name table, but memory names come from section 30
  content.sections[kMemoryPatternSection].records.push_back(memory);
  EXPECT_THAT(Verify(content),
              ElementsAre("section 20 (exe-clean) record 1: VirusId 44 has no name",
                          "section 26 (macro-clean) record 1: VirusId 0, which means \"nothing "
                          "found\"",
                          "section 28 (memory-pattern) record 1: VirusId 1 has no name in section "
                          "30 (memory-name)"));
  std::vector<uint8_t> memory_name(30, 0);
  memory_name[0] = 1;
  memory_name[2] = 'M';
  content.sections[kMemoryNameSection].records.push_back(memory_name);
  EXPECT_EQ(Verify(content).size(), 2u);
}

TEST(VerifyDatabase, CatchesUnnamedFixedIdsAndABadDate) {
  DatabaseContent content = SoundContent();
  content.names.erase(846);
  content.month = 13;
  EXPECT_THAT(Verify(content), ElementsAre("section 34 (version): month 13 is not 1 to 12",
                                           "fixed VirusId 846 has no name"));
}

TEST(VerifyDatabase, CatchesImagesTooShortForTheirLayout) {
  auto problems = VerifyDatabase(DatabaseImage(std::vector<uint8_t>(100, 0)),
                                 DatabaseImage(std::vector<uint8_t>(5, 0)));
  EXPECT_THAT(problems[0], HasSubstr("the signature image holds 100 bytes"));
  EXPECT_THAT(problems[1], HasSubstr("the name image holds 5 bytes"));
}

}  // namespace
}  // namespace quarn

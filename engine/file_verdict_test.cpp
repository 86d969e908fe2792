#include "engine/file_verdict.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/executable_builder.h"
#include "engine/test_support/signature_record_bytes.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"

namespace quarn {
namespace {

using testing::ComBuilder;
using testing::MzBuilder;

// Opens for read and write, moves the file pointer, finds first and next: a mask of 0x0DF,
// which only the set for files without an "MZ" header holds.
const std::vector<uint8_t> kNonExecutableSuspect = {
    0xB4, 0x4E, 0xCD, 0x21, 0xB4, 0x4F, 0xCD, 0x21, 0xB8, 0x02, 0x3D, 0xCD, 0x21, 0xB4, 0x3F,
    0xCD, 0x21, 0xB4, 0x42, 0xCD, 0x21, 0xB4, 0x40, 0xCD, 0x21, 0xB4, 0x3E, 0xCD, 0x21, 0xC3};

class FileVerdictTest : public ::testing::Test {
 protected:
  FileVerdictTest() {
    DatabaseContent content;
    // An entry record for the first eight bytes of kNonExecutableSuspect, confirmed at 16.
    const auto& suspect = kNonExecutableSuspect;
    content.sections[kComEntrySection].records = {
        testing::EntryRecord(7, {suspect.begin(), suspect.begin() + 8}, 0, 16,
                             {suspect.begin() + 16, suspect.begin() + 20})};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
  }

  FileVerdict Detect(const std::vector<uint8_t>& bytes, bool heuristics) {
    return DetectFile(signatures_, *testing::OpenBytes(files_, bytes), heuristics);
  }

  MemoryFileSystem files_;
  DatabaseImage signatures_;
};

TEST_F(FileVerdictTest, OnlyAnMzStartMakesAFileExecutable) {
  EXPECT_TRUE(Detect({'M', 'Z'}, true).executable);
  EXPECT_TRUE(Detect(MzBuilder().Size(0x200).Build(), true).executable);
  EXPECT_FALSE(Detect({'Z', 'M', 0, 0}, true).executable);
  EXPECT_FALSE(Detect({'M'}, true).executable);
  EXPECT_FALSE(Detect({}, true).executable);
}

TEST_F(FileVerdictTest, SignatureMatchSkipsTheHeuristics) {
  std::vector<uint8_t> infected = kNonExecutableSuspect;
  FileVerdict verdict = Detect(infected, true);
  EXPECT_EQ(verdict.virus, 7u);
  EXPECT_EQ(verdict.variant, 0);
  EXPECT_EQ(verdict.suspicious, 0u);
  EXPECT_FALSE(verdict.executable);
}

TEST_F(FileVerdictTest, HeuristicsRunOnlyWhenEnabledAndNothingMatched) {
  const std::vector<uint8_t> suspect =
      ComBuilder().JumpNear(0x100).Code(0x100, {0x90}).Code(0x101, kNonExecutableSuspect).Build();
  // A leading NOP keeps the signature from matching at the entry.
  FileVerdict on = Detect(suspect, true);
  EXPECT_EQ(on.virus, 0u);
  EXPECT_NE(on.suspicious, 0u);
  EXPECT_EQ(Detect(suspect, false).suspicious, 0u);
  // The executable chain's heuristics use the executable set, where 0x0DF is not a member.
  EXPECT_EQ(Detect(MzBuilder().EntryAt(0x100).Code(0x100, kNonExecutableSuspect).Build(), true)
                .suspicious,
            0u);
}

}  // namespace
}  // namespace quarn

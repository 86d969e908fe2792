#include "clean/appended_exe_cleaner.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"
#include "engine/test_support/executable_builder.h"
#include "samplegen/exe_cleaning_samples.h"

namespace quarn {
namespace {

using samples::AppendedInfection;
using samples::DosHost;
using samples::ReadHeaderWords;
using testing::Bytes;
using testing::CleaningTest;
using testing::ExeRecordBytes;
using testing::GetU16;
using testing::RecordOf;

constexpr uint32_t kHostSize = 0x260;
constexpr uint16_t kDistance = 0x30;

// A host with a plain appender whose saved words lie at `words_at` in a body of `length`.
AppendedInfection PlainInfection(uint16_t length, uint16_t words_at) {
  AppendedInfection infection(DosHost(kHostSize), length, kDistance);
  infection.Body(0, Bytes(length, 0xCC));
  for (int field = 0; field < 4; ++field) {
    const uint16_t word = infection.host_words()[field];
    infection.Body(static_cast<uint16_t>(words_at + 2 * field),
                   {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
  }
  return infection;
}

class CleanAppendedExeTest : public CleaningTest {
 protected:
  uint32_t Clean(const Bytes& infected, const Bytes& record, uint32_t entry) {
    auto copy = Open(infected);
    return CleanAppendedExe(Context(entry), RecordOf(record), *copy);
  }
};

TEST_F(CleanAppendedExeTest, GivesTheHostBackWhateverTheVirusLength) {
  // Shorter than the wipe block, so the file ends at size − virus length and not 4096 on;
  // and longer, so the wipe block stays inside the body.
  for (uint16_t length : {uint16_t{0x100}, uint16_t{0x1400}}) {
    SCOPED_TRACE(length);
    AppendedInfection infection = PlainInfection(length, 0x40);
    Bytes record = ExeRecordBytes(0x40, 0x42, 0x44, 0x46, length, kDistance);
    EXPECT_EQ(Clean(infection.Build(), record, kHostSize + kDistance), 1u);
    EXPECT_EQ(Contents(), infection.host());
    EXPECT_TRUE(ui_.messages.empty());
  }
}

TEST_F(CleanAppendedExeTest, WordsLeftAloneKeepTheInfectedValues) {
  AppendedInfection infection = PlainInfection(0x200, 0x40);
  Bytes record = ExeRecordBytes(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x200, kDistance);
  ASSERT_EQ(Clean(infection.Build(), record, kHostSize + kDistance), 1u);
  Bytes cleaned = Contents();
  EXPECT_EQ(ReadHeaderWords(cleaned), infection.infected_words());
  // Apart from CS, IP, SS and SP the result is the host: length fields and all.
  Bytes host = infection.host();
  for (size_t offset : {14u, 16u, 20u, 22u}) testing::PutU16(host, offset, GetU16(cleaned, offset));
  EXPECT_EQ(cleaned, host);
}

TEST_F(CleanAppendedExeTest, DeclinesWithoutWritingWhenTheRecordDoesNotFit) {
  AppendedInfection infection = PlainInfection(0x200, 0x40);
  const Bytes infected = infection.Build();
  const uint32_t entry = kHostSize + kDistance;
  const uint16_t past_end = 0x200 - 1;  // a word whose second byte lies past the end
  Bytes cut_short = ExeRecordBytes(0x40, 0x42, 0x44, 0x46, 0x200, kDistance);
  cut_short.resize(12);
  struct Case {
    const char* what;
    Bytes record;
    uint32_t entry;
  };
  const Case cases[] = {
      {"virus longer than the file", ExeRecordBytes(0x40, 0x42, 0x44, 0x46, 0xFFF0, kDistance),
       entry},
      {"virus start before the file", ExeRecordBytes(0x40, 0x42, 0x44, 0x46, 0x200, kDistance),
       kDistance - 1},
      {"saved SP past the end", ExeRecordBytes(0x40, 0x42, 0x44, past_end, 0x200, kDistance),
       entry},
      {"a record cut short", cut_short, entry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int writes = files_.CallCount(FileOperation::kWrite);
    EXPECT_EQ(Clean(infected, c.record, c.entry), 0u);
    EXPECT_EQ(Contents(), infected);
    EXPECT_EQ(files_.CallCount(FileOperation::kWrite), writes);
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CleanAppendedExeTest, AFileThatCannotBeCutIsNotCleaned) {
  AppendedInfection infection = PlainInfection(0x200, 0x40);
  files_.FailCall(FileOperation::kSetEndOfFile, 1);
  EXPECT_EQ(Clean(infection.Build(), ExeRecordBytes(0x40, 0x42, 0x44, 0x46, 0x200, kDistance),
                  kHostSize + kDistance),
            0u);
  EXPECT_NE(Contents().size(), kHostSize);
}

}  // namespace
}  // namespace quarn

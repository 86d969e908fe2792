#include "clean/appended_com_cleaner.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"
#include "platform/byte_reader.h"
#include "samplegen/com_cleaning_samples.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleanRun;
using testing::Ramp;
using testing::RunOnCopy;

// Record field offsets, as the database lays them out.
constexpr size_t kSavedOffsetAt = 2;
constexpr size_t kSavedLengthAt = 4;
constexpr size_t kVirusLengthAt = 6;
constexpr size_t kEntryDistanceAt = 8;
constexpr size_t kEndDistanceAt = 10;

samples::InfectedCom Infect(const Bytes& host, uint16_t virus_length, uint16_t saved_length) {
  samples::ComInfection how;
  how.saved_offset = 0x20;
  how.saved_length = saved_length;
  how.virus_length = virus_length;
  how.entry_distance = 0x10;
  how.code = {0xB8, 0x00, 0x4C, 0xCD, 0x21};
  return samples::InfectCom(host, how, 950);
}

TEST(CleanAppendedCom, RestoresAsManyBytesAsWereSaved) {
  for (uint16_t n : {3, 0x200, 4096}) {
    const Bytes host = Ramp(4100, 1);
    const samples::InfectedCom infected = Infect(host, 0x1100, n);
    CleanRun run = RunOnCopy(CleanAppendedCom, infected.file, infected.record);
    EXPECT_EQ(run.result, 1u) << n;
    EXPECT_EQ(run.file, host) << n;
    EXPECT_TRUE(run.messages.empty()) << n;
  }
}

// The virus left the first bytes alone, say behind a short jump: measured from the end.
TEST(CleanAppendedCom, FindsTheVirusFromTheEndWhenTheFileDoesNotStartWithANearJump) {
  const Bytes host = Ramp(0x150, 9);
  Bytes file = host;
  file.resize(0x150 + 0x80, 0xCC);
  file[0] = 0xEB;
  std::copy_n(host.begin(), 6, file.begin() + 0x150 + 0x08);
  Bytes record = Infect(host, 0x80, 6).record;
  WriteU16(&record[kSavedOffsetAt], 0x08);
  WriteU16(&record[kEntryDistanceAt], 0xFFFF);  // no jump to measure from
  WriteU16(&record[kEndDistanceAt], 0x80);
  CleanRun run = RunOnCopy(CleanAppendedCom, file, record);
  EXPECT_EQ(run.result, 1u);
  EXPECT_EQ(run.file, host);
}

TEST(CleanAppendedCom, DeclinesRecordsNoInfectionOfThisFileHas) {
  const Bytes host = Ramp(0x180, 3);
  const samples::InfectedCom infected = Infect(host, 0x100, 8);
  const uint16_t file_size = static_cast<uint16_t>(infected.file.size());
  const struct {
    size_t field;
    uint16_t value;
  } cases[] = {
      {kSavedLengthAt, 2},
      {kSavedLengthAt, 4097},
      {kVirusLengthAt, static_cast<uint16_t>(file_size + 1)},
      {kEntryDistanceAt, 0x191},  // jump target 0x190, start 0x180
      {kSavedOffsetAt, 0xF9},     // the last saved byte past the end
      {kSavedLengthAt, 0xE1},     // the same, counted by length
  };
  for (const auto& change : cases) {
    Bytes record = infected.record;
    WriteU16(&record[change.field], change.value);
    CleanRun run = RunOnCopy(CleanAppendedCom, infected.file, record);
    EXPECT_EQ(run.result, 0u) << change.field << " " << change.value;
    EXPECT_EQ(run.writes, 0) << change.field << " " << change.value;
    EXPECT_EQ(run.file, infected.file);
  }
  Bytes short_record(infected.record.begin(), infected.record.end() - 1);
  EXPECT_EQ(RunOnCopy(CleanAppendedCom, infected.file, short_record).writes, 0);

  Bytes no_jump = infected.file;
  no_jump[0] = 0x90;
  Bytes record = infected.record;
  WriteU16(&record[kEndDistanceAt], file_size + 1);
  EXPECT_EQ(RunOnCopy(CleanAppendedCom, no_jump, record).writes, 0);
}

}  // namespace
}  // namespace quarn

#include "clean/com_virus_start.h"

#include <gtest/gtest.h>

#include "clean/test_support/com_clean_test_support.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

using com_clean_test::Bytes;
using com_clean_test::Ramp;

ComCleanFields Distances(uint16_t entry_distance, uint16_t end_distance) {
  ComCleanFields fields;
  fields.saved_length = 3;
  fields.entry_distance = entry_distance;
  fields.end_distance = end_distance;
  return fields;
}

std::optional<uint64_t> StartOf(const Bytes& bytes, const ComCleanFields& fields) {
  MemoryFileSystem files;
  files.AddFile("/f.com", bytes);
  auto file = (*files.OpenFolder("/"))->OpenFile("f.com", OpenMode::kRead);
  return LocateComVirusStart(**file, fields, bytes.size());
}

Bytes StartingWith(Bytes first, size_t size = 0x40) {
  Bytes bytes = Ramp(size, 0x10);
  std::copy(first.begin(), first.end(), bytes.begin());
  return bytes;
}

TEST(ComVirusStart, ANearJumpLeadsToTheEntryAndTheEntryDistanceBackFromIt) {
  EXPECT_EQ(StartOf(StartingWith({0xE9, 0x34, 0x12}), Distances(0x200, 0x30)), 0x1037u);
  EXPECT_EQ(StartOf(StartingWith({0xE9, 0x34, 0x12}), Distances(0x1237, 0)), 0u);
  // The displacement is never negative: FFFD leads 0x10000 bytes on, not back to 0.
  EXPECT_EQ(StartOf(StartingWith({0xE9, 0xFD, 0xFF}), Distances(0x10, 0)), 0xFFF0u);
}

TEST(ComVirusStart, AnyOtherFileIsMeasuredBackFromItsEnd) {
  EXPECT_EQ(StartOf(StartingWith({0xE8, 0x34, 0x12}, 0x300), Distances(0x200, 0x120)), 0x1E0u);
  EXPECT_EQ(StartOf(StartingWith({0x90}, 0x300), Distances(0, 0x300)), 0u);
}

TEST(ComVirusStart, NothingWhenTheDistanceReachesBeforeTheFile) {
  EXPECT_FALSE(StartOf(StartingWith({0xE9, 0x34, 0x12}), Distances(0x1238, 0)));
  EXPECT_FALSE(StartOf(StartingWith({0x90}, 0x300), Distances(0, 0x301)));
  // Without its displacement a jump leads nowhere.
  EXPECT_FALSE(StartOf({0xE9, 0x34}, Distances(0, 0)));
}

TEST(ComCleanFields, SavedLengthMustFitTheJumpAndTheBuffer) {
  Bytes record = {0x96, 0x03, 0x10, 0x00, 0, 0, 0x00, 0x01, 0x20, 0x00, 0x30, 0x00};
  for (uint16_t n : {3, 100, 4096}) {
    WriteU16(&record[4], n);
    std::optional<ComCleanFields> fields = ReadComCleanFields(record);
    ASSERT_TRUE(fields) << n;
    EXPECT_EQ(fields->saved_length, n);
    EXPECT_EQ(fields->saved_offset, 0x10);
    EXPECT_EQ(fields->virus_length, 0x100);
    EXPECT_EQ(fields->entry_distance, 0x20);
    EXPECT_EQ(fields->end_distance, 0x30);
  }
  for (uint16_t n : {0, 2, 4097, 0xFFFF}) {
    WriteU16(&record[4], n);
    EXPECT_FALSE(ReadComCleanFields(record)) << n;
  }
  WriteU16(&record[4], 8);
  EXPECT_FALSE(ReadComCleanFields(std::span<const uint8_t>(record).first(11)));
}

}  // namespace
}  // namespace quarn

#include "clean/com_virus_start.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::Ramp;

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

}  // namespace
}  // namespace quarn

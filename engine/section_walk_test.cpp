#include "engine/section_walk.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/section_directory.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint16_t kDirectory = DirectoryOffset(3);

// An image with one section at `offset` whose records hold their own number in bytes 0–1.
DatabaseImage ImageWithSection(uint16_t count, uint8_t size, uint32_t offset = 512,
                               size_t extra_image_bytes = 0) {
  std::vector<uint8_t> bytes(offset + static_cast<size_t>(count) * size + extra_image_bytes, 0);
  WriteU32(&bytes[kDirectory], offset);
  WriteU16(&bytes[kDirectory + 4], count);
  bytes[kDirectory + 8] = size;
  for (uint32_t i = 0; size > 0 && i < count; ++i) {
    uint8_t* record = &bytes[offset + i * size];
    record[0] = static_cast<uint8_t>(i);
    if (size > 1) record[1] = static_cast<uint8_t>(i >> 8);
  }
  return DatabaseImage(bytes);
}

struct Visit {
  std::vector<uint16_t> numbers;
  std::vector<NextRecordResult> results;
  std::vector<uint32_t> block_offsets;
};

Visit WalkAll(const DatabaseImage& image, uint8_t reader_size) {
  Visit visit;
  SectionWalk walk(image, kDirectory, reader_size);
  while (!walk.AtEnd()) {
    visit.numbers.push_back(reader_size > 1 ? ReadU16(walk.Record(), 0) : walk.Record()[0]);
    NextRecordResult result = walk.Next();
    visit.results.push_back(result);
    if (result == kNewBlock) visit.block_offsets.push_back(walk.cursor().block_offset);
  }
  return visit;
}

std::vector<uint16_t> Sequence(int count) {
  std::vector<uint16_t> numbers;
  for (int i = 0; i < count; ++i) numbers.push_back(static_cast<uint16_t>(i));
  return numbers;
}

// Every record once, in order; a new block fetched exactly where the last one filled, and
// never an empty one after the last record.
TEST(SectionWalk, VisitsEveryRecordAndFetchesBlocksWhereTheyStart) {
  struct Case {
    uint16_t count;
    uint8_t size;
    std::vector<uint32_t> block_offsets;
  };
  const Case cases[] = {
      {1, 16, {}},
      {256, 16, {}},
      {257, 16, {512 + 4096}},
      {456, 9, {512 + 4095}},  // 455 records fill 4095 bytes
      {768, 16, {512 + 4096, 512 + 8192}},
      {1000, 7, {512 + 585 * 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.count << " records of " << int{c.size});
    Visit visit = WalkAll(ImageWithSection(c.count, c.size), c.size);
    EXPECT_EQ(visit.numbers, Sequence(c.count));
    EXPECT_EQ(visit.block_offsets, c.block_offsets);
    ASSERT_EQ(visit.results.size(), c.count);
    EXPECT_EQ(visit.results.back(), kSectionEnd);
    for (size_t i = 0; i + 1 < visit.results.size(); ++i) {
      EXPECT_NE(visit.results[i], kSectionEnd) << i;
    }
  }
}

TEST(SectionWalk, EmptyAndUnwalkableSectionsYieldNoRecord) {
  EXPECT_TRUE(WalkAll(ImageWithSection(0, 16), 16).numbers.empty());
  EXPECT_TRUE(WalkAll(ImageWithSection(5, 0), 16).numbers.empty());   // record size 0
  EXPECT_TRUE(WalkAll(ImageWithSection(5, 20), 16).numbers.empty());  // not the reader's size
  // A section that starts beyond the image, and one whose last record would run past it.
  DatabaseImage past = ImageWithSection(3, 16);
  std::vector<uint8_t> bytes(past.bytes().begin(), past.bytes().end());
  WriteU32(&bytes[kDirectory], 0xFFFFFFF0u);
  EXPECT_TRUE(WalkAll(DatabaseImage(bytes), 16).numbers.empty());
  WriteU32(&bytes[kDirectory], static_cast<uint32_t>(bytes.size() - 20));
  EXPECT_TRUE(WalkAll(DatabaseImage(bytes), 16).numbers.empty());
  WriteU32(&bytes[kDirectory], static_cast<uint32_t>(bytes.size() - 48));
  EXPECT_EQ(WalkAll(DatabaseImage(bytes), 16).numbers.size(), 3u);
  // The cursor alone, given records of no size, steps to none rather than divide by 0.
  SectionDescriptor sizeless;
  sizeless.record_count = 5;
  RecordCursor cursor;
  InitRecordCursor(sizeless, &cursor);
  EXPECT_EQ(cursor.records_left_in_block, 0);
}

TEST(SectionWalk, ImageShorterThanItsDirectoryHasNoSections) {
  std::vector<uint8_t> bytes = {1, 2, 3};
  EXPECT_TRUE(WalkAll(DatabaseImage(bytes), 16).numbers.empty());
}

TEST(CopyImageBytes, BeyondTheBufferReadsZeros) {
  std::vector<uint8_t> bytes(100, 0xAA);
  DatabaseImage image(bytes);
  WorkBlock block;
  block.fill(0x55);
  CopyImageBytes(block.data(), image, 90, kWorkBlockSize);
  EXPECT_EQ(block[9], 0xAA);
  EXPECT_EQ(block[10], 0);  // slack
  EXPECT_EQ(block[4095], 0);
  block.fill(0x55);
  CopyImageBytes(block.data(), image, 0xFFFFFFFFu, kWorkBlockSize);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(block[4095], 0);
}

}  // namespace
}  // namespace quarn

#include "clean/dos_entry.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"
#include "engine/test_support/executable_builder.h"

namespace quarn {
namespace {

using testing::CleaningTest;
using testing::MzBuilder;

class LocateDosEntryTest : public CleaningTest {
 protected:
  uint32_t EntryOf(const testing::Bytes& bytes, uint32_t previous = 0xDEADBEEF) {
    uint32_t entry = previous;
    LocateDosEntry(*Open(bytes), &entry);
    return entry;
  }
};

// IP + header + CS × 16 in full 32 bits, the jump at the entry not followed, and the fields
// a ten-byte header lacks counted as zero.
TEST_F(LocateDosEntryTest, AddsIpHeaderAndCodeSegment) {
  EXPECT_EQ(EntryOf(MzBuilder().HeaderParagraphs(2).InitialCs(0x24).InitialIp(0x13).Build()),
            0x13u + 0x20 + 0x240);
  EXPECT_EQ(EntryOf(MzBuilder().HeaderParagraphs(0).InitialCs(0).InitialIp(0).Build()), 0u);
  EXPECT_EQ(EntryOf(MzBuilder()
                        .HeaderParagraphs(0xFFFF)
                        .InitialCs(0xFFFF)
                        .InitialIp(0xFFFF)
                        .Size(0x40)
                        .Build()),
            0xFFFFu + 0xFFFF0u + 0xFFFF0u);
  EXPECT_EQ(EntryOf(MzBuilder().EntryAt(0x40).Code(0x40, {0xEB, 0x10}).Size(0x80).Build()), 0x40u);
  testing::Bytes short_header = MzBuilder().HeaderParagraphs(3).InitialCs(5).InitialIp(7).Build();
  short_header.resize(10);
  EXPECT_EQ(EntryOf(short_header), 0x30u);
}

TEST_F(LocateDosEntryTest, NothingReadKeepsThePreviousEntry) {
  EXPECT_EQ(EntryOf({}, 0x1234), 0x1234u);
}

}  // namespace
}  // namespace quarn

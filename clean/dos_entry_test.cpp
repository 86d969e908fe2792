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

TEST_F(LocateDosEntryTest, AddsIpHeaderAndCodeSegment) {
  EXPECT_EQ(EntryOf(MzBuilder().HeaderParagraphs(2).InitialCs(0x24).InitialIp(0x13).Build()),
            0x13u + 0x20 + 0x240);
  EXPECT_EQ(EntryOf(MzBuilder().HeaderParagraphs(0).InitialCs(0).InitialIp(0).Build()), 0u);
}

TEST_F(LocateDosEntryTest, LargeFieldsDoNotWrapAtOneMegabyte) {
  testing::Bytes exe =
      MzBuilder().HeaderParagraphs(0xFFFF).InitialCs(0xFFFF).InitialIp(0xFFFF).Size(0x40).Build();
  EXPECT_EQ(EntryOf(exe), 0xFFFFu + 0xFFFF0u + 0xFFFF0u);
}

TEST_F(LocateDosEntryTest, JumpsAtTheEntryAreNotFollowed) {
  testing::Bytes exe = MzBuilder().EntryAt(0x40).Code(0x40, {0xEB, 0x10}).Size(0x80).Build();
  EXPECT_EQ(EntryOf(exe), 0x40u);
}

TEST_F(LocateDosEntryTest, NothingReadKeepsThePreviousEntry) {
  EXPECT_EQ(EntryOf({}, 0x1234), 0x1234u);
}

TEST_F(LocateDosEntryTest, FieldsAShortHeaderLacksCountAsZero) {
  // Ten bytes: the header size is there, IP and CS are not.
  testing::Bytes exe = MzBuilder().HeaderParagraphs(3).InitialCs(5).InitialIp(7).Build();
  exe.resize(10);
  EXPECT_EQ(EntryOf(exe), 0x30u);
}

}  // namespace
}  // namespace quarn

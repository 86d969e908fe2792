#include "clean/pe_cleaner.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"
#include "engine/detector_state.h"
#include "engine/entry_locator.h"
#include "engine/test_support/executable_builder.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleaningTest;
using testing::GetU32;
using testing::PeBuilder;
using testing::RecordOf;

constexpr uint32_t kPeOffset = 0x80;
constexpr uint32_t kSectionHeader = kPeOffset + 24 + 0xE0;
constexpr uint32_t kEntryPointAt = kPeOffset + 0x28;
constexpr uint32_t kVirtualSizeAt = kSectionHeader + 8;

// A PeCleanRecord's 14 bytes.
Bytes PeRecord(uint16_t entry_offset, uint16_t entry_distance, uint8_t adjust,
               uint16_t delta_offset, uint16_t delta_distance, uint16_t wipe, uint8_t width) {
  Bytes record(14, 0);
  testing::PutU16(record, 0, 940);
  testing::PutU16(record, 2, entry_offset);
  testing::PutU16(record, 4, entry_distance);
  record[6] = adjust;
  testing::PutU16(record, 7, delta_offset);
  testing::PutU16(record, 9, delta_distance);
  testing::PutU16(record, 11, wipe);
  record[13] = width;
  return record;
}

// A host whose section has 0x300 bytes of padding behind 0x100 bytes of code; the virus
// fills 0x100 bytes of the padding from 0x300.
PeBuilder Host() {
  PeBuilder builder;
  builder.SectionVirtualSize(0x100)
      .SectionRawSize(0x400)
      .Code(0x200, {0x33, 0xC0, 0xC3})
      .Size(0x600);
  return builder;
}

Bytes U32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
          static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

class CleanPeFileTest : public CleaningTest {
 protected:
  // Cleans with the context LocatePeEntry gives for the file, as the dispatcher does.
  uint32_t Clean(const Bytes& infected, const Bytes& record) {
    auto copy = Open(infected);
    DetectorState state;
    CleaningContext context = Context(0);
    EXPECT_EQ(
        LocatePeEntry(*copy, state, &context.pe_header_offset, &context.section_header_offset), 0);
    context.entry_offset = state.entry_position;
    return CleanPeFile(context, RecordOf(record), *copy);
  }
  uint32_t CleanAt(const Bytes& file, uint32_t entry, const Bytes& record) {
    auto copy = Open(file);
    CleaningContext context = Context(entry);
    context.pe_header_offset = kPeOffset;
    context.section_header_offset = kSectionHeader;
    return CleanPeFile(context, RecordOf(record), *copy);
  }
};

TEST_F(CleanPeFileTest, GivesTheHostBack) {
  // The virus grew VirtualSize (subtract on cleaning) or shrank it (add), and saved the
  // entry point and the delta before and after its entry.
  struct Case {
    uint8_t adjust;
    uint32_t infected_size;
  };
  for (Case c : {Case{1, 0x100 + 0x280}, Case{2, 0x100u - 0x280u}}) {
    SCOPED_TRACE(c.adjust);
    Bytes infected = Host()
                         .EntryPoint(0x1000 + 0x140)
                         .SectionVirtualSize(c.infected_size)
                         .Code(0x300, Bytes(0x40, 0xEE))
                         .Code(0x310, U32(0x1000))
                         .Code(0x340, {0x33, 0xC0, 0xC3})
                         .Code(0x360, U32(0x280))
                         .Build();
    Bytes host = Host().Build();
    // Everything from the entry that the virus wrote goes; what lies before it stays.
    std::fill(host.begin() + 0x300, host.begin() + 0x340, 0xEE);
    std::copy_n(U32(0x1000).begin(), 4, host.begin() + 0x310);
    ASSERT_EQ(Clean(infected, PeRecord(0x10, 0x40, c.adjust, 0x60, 0x40, 0x40, 4)), 1u);
    EXPECT_EQ(Contents(), host);
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CleanPeFileTest, AThreeByteEntryPointHasTwentyBits) {
  Bytes infected = Host().EntryPoint(0x1100).Code(0x300, {0x34, 0x12, 0xF5, 0x77}).Build();
  ASSERT_EQ(Clean(infected, PeRecord(0, 0, 0, 0, 0, 4, 1)), 1u);
  Bytes cleaned = Contents();
  EXPECT_EQ(GetU32(cleaned, kEntryPointAt), 0x00051234u);
  EXPECT_EQ(GetU32(cleaned, kVirtualSizeAt), 0x100u);  // no adjustment asked
  EXPECT_EQ(GetU32(cleaned, 0x300), 0u);
}

TEST_F(CleanPeFileTest, ZerosUpToTheBoundaryTwoHundredFiftySevenToFiveHundredTwelveOn) {
  const Bytes record = PeRecord(0, 0, 0, 0, 0, 0xFFFF, 4);
  struct Case {
    uint32_t entry;
    uint32_t zeros;
  };
  for (Case c : {Case{0x1234, 460}, Case{0x1200, 512}, Case{0x12FF, 257}}) {
    SCOPED_TRACE(c.entry);
    Bytes file = Host().Size(0x2000).Build();
    std::fill(file.begin() + 0x1000, file.end(), 0xFF);
    ASSERT_EQ(CleanAt(file, c.entry, record), 1u);
    Bytes cleaned = Contents();
    ASSERT_EQ(cleaned.size(), file.size());
    EXPECT_EQ(cleaned[c.entry - 1], 0xFF);
    EXPECT_EQ(std::count(cleaned.begin() + c.entry, cleaned.end(), 0), c.zeros);
    EXPECT_EQ(cleaned[c.entry + c.zeros], 0xFF);
  }
}

TEST_F(CleanPeFileTest, TheFileNeverGrows) {
  // Zeros that would run past the end stop there.
  Bytes file = Host().Size(0x1100).Build();
  ASSERT_EQ(CleanAt(file, 0x1090, PeRecord(0, 0, 0, 0, 0, 0xFFFF, 4)), 1u);
  EXPECT_EQ(Contents().size(), file.size());
  ASSERT_EQ(CleanAt(file, 0x1090, PeRecord(0, 0, 0, 0, 0, 0x1000, 4)), 1u);
  EXPECT_EQ(Contents().size(), file.size());
  // A PE header near the end goes back with only the bytes that were there.
  Bytes near_end = PeBuilder().PeOffset(0x100).SizeOfOptionalHeader(0).Size(0x200).Build();
  near_end.resize(0x100 + 0x60);
  auto copy = Open(near_end);
  CleaningContext context = Context(0x150);
  context.pe_header_offset = 0x100;
  context.section_header_offset = 0x100 + 24;
  ASSERT_EQ(CleanPeFile(context, RecordOf(PeRecord(0, 0, 1, 4, 0, 0x10, 4)), *copy), 1u);
  EXPECT_EQ(Contents().size(), near_end.size());
}

TEST_F(CleanPeFileTest, DeclinesWithoutWritingWhenTheRecordDoesNotFit) {
  const Bytes file = Host().Size(0x1000).Build();
  const uint32_t entry = 0x800;
  struct Case {
    const char* what;
    uint32_t entry;
    Bytes record;
  };
  const Case cases[] = {
      {"zero count above the wipe block", entry, PeRecord(0, 0, 0, 0, 0, 4097, 4)},
      {"saved entry point past the end", entry, PeRecord(0x7FD, 0, 0, 0, 0, 4, 4)},
      {"three saved bytes past the end", entry, PeRecord(0x7FE, 0, 0, 0, 0, 4, 1)},
      {"saved entry point before the file", entry, PeRecord(0, 0x801, 0, 0, 0, 4, 4)},
      {"delta past the end", entry, PeRecord(0, 0, 2, 0x7FD, 0, 4, 4)},
      {"delta before the file", entry, PeRecord(0, 0, 1, 0, 0x801, 4, 4)},
      {"entry past the end", 0x1000, PeRecord(0, 0x100, 0, 0, 0, 4, 4)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int writes = files_.CallCount(FileOperation::kWrite);
    EXPECT_EQ(CleanAt(file, c.entry, c.record), 0u);
    EXPECT_EQ(Contents(), file);
    EXPECT_EQ(files_.CallCount(FileOperation::kWrite), writes);
  }
  // Without a size adjustment the delta is never read, wherever it points.
  EXPECT_EQ(CleanAt(file, entry, PeRecord(0, 0, 3, 0xFFFF, 0, 4, 4)), 1u);
  EXPECT_EQ(GetU32(Contents(), kVirtualSizeAt), 0x100u);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CleanPeFileTest, EveryFailedWriteAnswersZeroWithOneMessage) {
  const Bytes file = Host().Size(0x1000).Build();
  const Bytes record = PeRecord(0, 0, 1, 4, 0, 0x10, 4);
  for (int nth : {1, 2, 3}) {
    SCOPED_TRACE(nth);
    ui_.messages.clear();
    files_.ClearFaults();
    files_.FailCall(FileOperation::kWrite, nth);
    EXPECT_EQ(CleanAt(file, 0x800, record), 0u);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{testing::kWriteFailureMessage});
  }
  ui_.messages.clear();
  files_.ClearFaults();
  files_.SetShortWrites(8);
  EXPECT_EQ(CleanAt(file, 0x800, record), 0u);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

}  // namespace
}  // namespace quarn

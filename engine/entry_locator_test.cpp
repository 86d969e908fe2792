#include "engine/entry_locator.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/test_support/executable_builder.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"

namespace quarn {
namespace {

using testing::MzBuilder;
using testing::PeBuilder;

constexpr uint8_t kMark = 0x5C;  // placed where the entry code is expected to be read

class EntryLocatorTest : public ::testing::Test {
 protected:
  File& Open(const std::vector<uint8_t>& bytes) {
    file_ = testing::OpenBytes(files_, bytes);
    return *file_;
  }

  MemoryFileSystem files_;
  std::unique_ptr<File> file_;
  DetectorState state_;
};

struct JumpCase {
  const char* name;
  std::vector<uint8_t> code;  // at the entry, 0x40
  uint32_t read_at;           // where the mark is placed and must be read from
  uint32_t entry_position;
};

// Entry at 0x40 behind the default 2-paragraph header; IP is 0x20.
TEST_F(EntryLocatorTest, FirstJumpIsFollowedByItsOwnRules) {
  const JumpCase cases[] = {
      {"no jump", {0x90, 0x90}, 0x40, 0x40},
      {"EB 0E moves a full 16", {0xEB, 0x0E}, 0x40 + 32, 0x40 + 16},
      {"EB 0F moves by 1", {0xEB, 0x0F}, 0x40 + 17, 0x40 + 1},
      {"EB F0 moves by 226", {0xEB, 0xF0}, 0x40 + 16 + 226, 0x40 + 226},
      {"EB FF wraps to a small target", {0xEB, 0xFF}, 0x40 + 16 + 257, 0x40 + 257},
      {"E9 with a negative move", {0xE9, 0x05, 0x00}, 0x40 + 8, 0x40 - 8},
      {"E9 far ahead, no sign extension",
       {0xE9, 0x00, 0x90},
       0x40 + 16 + 0x9003 - 16,
       0x40 + 0x9003 - 16},
      {"9A relative to IP", {0x9A, 0x20, 0x01, 0x00, 0x00}, 0x40 + 0x120 - 0x20, 0x120 + 0x20},
      {"9A with a zero second byte", {0x9A, 0x00, 0x01, 0x00, 0x00}, 0x40, 0x40},
  };
  for (const JumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    const bool moves = c.read_at != 0x40;
    MzBuilder builder;
    builder.InitialIp(0x20).Code(0x40, c.code).Size(0x9100);
    if (moves) builder.Code(c.read_at, {kMark, 0x77});
    std::vector<uint8_t> image = builder.Build();
    state_ = DetectorState();
    LocateEntryCode(Open(image), state_);
    EXPECT_EQ(state_.entry_position, c.entry_position);
    EXPECT_EQ(state_.entry_code_buffer[0], moves ? kMark : c.code[0]);
    EXPECT_EQ(state_.entry_code_buffer[1], image[c.read_at + 1]);
    EXPECT_EQ(ReadU16(state_.header_buffer, 24), 32);
  }
}

TEST_F(EntryLocatorTest, HeaderSizeAndCsAreNotWrapped) {
  // 0x1000 paragraphs and CS 0xFFFF: the entry lies beyond 1 MiB.
  const uint32_t entry = 0x10000 + 0x10 + 0xFFFF0;
  std::vector<uint8_t> image = MzBuilder()
                                   .HeaderParagraphs(0x1000)
                                   .InitialCs(0xFFFF)
                                   .InitialIp(0x10)
                                   .Code(entry, {kMark})
                                   .Build();
  LocateEntryCode(Open(image), state_);
  EXPECT_EQ(state_.entry_position, entry);
  EXPECT_EQ(state_.entry_code_buffer[0], kMark);
  EXPECT_EQ(ReadU16(state_.header_buffer, 24), 0);  // 0x10000 kept in 16 bits
}

TEST_F(EntryLocatorTest, EntryPastTheEndFallsBackToTheHeaderEnd) {
  std::vector<uint8_t> image =
      MzBuilder().HeaderParagraphs(4).InitialIp(0x8000).Code(64, {kMark}).Size(0x100).Build();
  LocateEntryCode(Open(image), state_);
  EXPECT_EQ(state_.entry_position, 64u);
  EXPECT_EQ(state_.entry_code_buffer[0], kMark);

  // The header end lies past the end too: the entry code is not touched.
  std::vector<uint8_t> short_image = MzBuilder().HeaderParagraphs(4).InitialIp(0x8000).Build();
  short_image.resize(40);
  state_ = DetectorState();
  state_.entry_code_buffer[0] = 0xAA;
  LocateEntryCode(Open(short_image), state_);
  EXPECT_EQ(state_.entry_position, 64u);
  EXPECT_EQ(state_.entry_code_buffer[0], 0xAA);
}

TEST_F(EntryLocatorTest, MovesBeforeTheFileStartReadNothing) {
  // Five bytes: the header reads as zeros beyond them, so the entry is 0, where an E9 with a
  // displacement of 0 moves by -13 from the fifth byte.
  state_.entry_code_buffer[5] = 0xAA;
  LocateEntryCode(Open({0xE9, 0x00, 0x00, 0x11, 0x22}), state_);
  EXPECT_EQ(state_.entry_position, 0xFFFFFFF3u);
  EXPECT_EQ(state_.entry_code_buffer[0], 0xE9);
  EXPECT_EQ(state_.entry_code_buffer[4], 0x22);
  EXPECT_EQ(state_.entry_code_buffer[5], 0xAA);

  // An empty file changes nothing.
  state_ = DetectorState();
  state_.entry_position = 0x1234;
  LocateEntryCode(Open({}), state_);
  EXPECT_EQ(state_.entry_position, 0x1234u);
  EXPECT_EQ(ReadU16(state_.header_buffer, 24), 0);
}

// Entry code cut short by the end of the file: the move counts from where the read ended.
TEST_F(EntryLocatorTest, JumpFromShortEntryCodeCountsFromTheReadEnd) {
  std::vector<uint8_t> image =
      MzBuilder().InitialIp(0x20).Code(0x3C, {kMark}).Code(0x40, {0xE9, 0x05, 0x00, 0x77}).Build();
  ASSERT_EQ(image.size(), 0x44u);
  LocateEntryCode(Open(image), state_);
  EXPECT_EQ(state_.entry_code_buffer[0], kMark);  // read at 0x44 - 8
  EXPECT_EQ(state_.entry_position, 0x38u);
}

struct PeCase {
  const char* name;
  PeBuilder builder;
  uint32_t entry;
};

TEST_F(EntryLocatorTest, PeEntryThroughTheFirstSection) {
  const PeCase cases[] = {
      {"entry at the base of code", PeBuilder(), 0x200},
      {"entry inside the section", PeBuilder().EntryPoint(0x1010), 0x210},
      {"entry below the base of code", PeBuilder().EntryPoint(0x300), 0x300},
      {"other raw pointer", PeBuilder().EntryPoint(0x1004).SectionRawPointer(0x400), 0x404},
      {"moved header", PeBuilder().PeOffset(0x100).SizeOfOptionalHeader(0x60), 0x200},
  };
  for (const PeCase& c : cases) {
    SCOPED_TRACE(c.name);
    PeBuilder builder = c.builder;
    std::vector<uint8_t> image = builder.Code(c.entry, {kMark}).Build();
    state_ = DetectorState();
    uint32_t pe_offset = 0;
    uint64_t section_header = 0;
    EXPECT_EQ(LocatePeEntry(Open(image), state_, &pe_offset, &section_header), 0);
    EXPECT_EQ(state_.entry_position, c.entry);
    EXPECT_EQ(state_.entry_code_buffer[0], kMark);
    EXPECT_EQ(pe_offset, ReadU32(image, 0x3C));
    EXPECT_EQ(section_header, builder.SectionHeaderOffset());
  }
}

TEST_F(EntryLocatorTest, SectionHeaderPastTheEndMeasuresFromThePeHeaderBytes) {
  std::vector<uint8_t> image = PeBuilder().SizeOfOptionalHeader(0xFFFF).Build();
  image.resize(0x400);  // the builder placed the section header far out; cut it off
  uint32_t pe_offset = 0;
  uint64_t section_header = 0;
  EXPECT_EQ(LocatePeEntry(Open(image), state_, &pe_offset, &section_header), 0);
  EXPECT_EQ(section_header, 0x80u + 0xFFFF + 24);
  EXPECT_EQ(state_.entry_position, ReadU32(image, 0x80 + 0x14));
}

TEST_F(EntryLocatorTest, FilesThatAreNotPeImages) {
  uint32_t pe_offset = 7;
  uint64_t section_header = 7;
  std::vector<uint8_t> ne = MzBuilder().PeOffset(0x100).Code(0x100, {'N', 'E', kMark}).Build();
  EXPECT_EQ(LocatePeEntry(Open(ne), state_, &pe_offset, &section_header), 1);
  EXPECT_EQ(pe_offset, 0x100u);
  EXPECT_EQ(section_header, 0u);
  EXPECT_EQ(state_.entry_position, 0x100u);
  EXPECT_EQ(state_.entry_code_buffer[2], kMark);

  // e_lfanew 0xFFFFFFFF reads nothing; the "MZ" left in the buffer is not "PE".
  state_ = DetectorState();
  state_.entry_code_buffer[0] = 0xAA;
  std::vector<uint8_t> far = MzBuilder().PeOffset(0xFFFFFFFF).Size(0x200).Build();
  EXPECT_EQ(LocatePeEntry(Open(far), state_, &pe_offset, &section_header), 1);
  EXPECT_EQ(pe_offset, 0xFFFFFFFFu);
  EXPECT_EQ(state_.entry_position, 0xFFFFFFFFu);
  EXPECT_EQ(state_.entry_code_buffer[0], 0xAA);

  // An empty file answers 0 and hands nothing back.
  pe_offset = 7;
  section_header = 7;
  state_.entry_position = 0x55;
  EXPECT_EQ(LocatePeEntry(Open({}), state_, &pe_offset, &section_header), 0);
  EXPECT_EQ(pe_offset, 7u);
  EXPECT_EQ(section_header, 7u);
  EXPECT_EQ(state_.entry_position, 0x55u);
}

}  // namespace
}  // namespace quarn

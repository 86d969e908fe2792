#include "engine/test_support/executable_builder.h"

#include <gtest/gtest.h>

#include "platform/test_support/test_bytes.h"

#include <vector>

namespace quarn::testing {
namespace {

// Tests compute entries from EntryOffset() and EntryAt(); a wrong answer would put their
// code where no detector looks, and "nothing found" would pass for the wrong reason.
TEST(MzBuilder, HeaderFieldsAndTheEntryTheyGive) {
  MzBuilder builder = MzBuilder()
                          .HeaderParagraphs(4)
                          .InitialCs(0x10)
                          .InitialIp(0x5678)
                          .InitialSs(0x9ABC)
                          .InitialSp(0xDEF0)
                          .PeOffset(0x11223344);
  std::vector<uint8_t> image = builder.Build();
  EXPECT_EQ(builder.EntryOffset(), 0x40u + 0x100u + 0x5678u);
  EXPECT_EQ(CheckedU16(image, 0), 0x5A4D);
  EXPECT_EQ(CheckedU16(image, 8), 4);
  EXPECT_EQ(CheckedU16(image, 14), 0x9ABC);
  EXPECT_EQ(CheckedU16(image, 16), 0xDEF0);
  EXPECT_EQ(CheckedU16(image, 20), 0x5678);
  EXPECT_EQ(CheckedU16(image, 22), 0x10);
  EXPECT_EQ(CheckedU32(image, 0x3C), 0x11223344u);

  // EntryAt counts from the header size in force at Build(), not at the call.
  MzBuilder near_entry = MzBuilder().EntryAt(0x230).HeaderParagraphs(0x20);
  image = near_entry.Build();
  EXPECT_EQ(CheckedU16(image, 22), 0);
  EXPECT_EQ(CheckedU16(image, 20), 0x30);
  EXPECT_EQ(near_entry.EntryOffset(), 0x230u);
  // Beyond 64 KB from the header the distance needs CS.
  image = MzBuilder().HeaderParagraphs(2).EntryAt(0x20 + 0x12345).Build();
  EXPECT_EQ(CheckedU16(image, 22), 0x1234);
  EXPECT_EQ(CheckedU16(image, 20), 0x5);
}

TEST(MzBuilder, PageFieldsDescribeTheFinalSize) {
  struct Case {
    MzBuilder builder;
    size_t size;
    uint16_t last_page_bytes;
    uint16_t pages;
  };
  const Case cases[] = {
      {MzBuilder().Size(0x20), 0x20, 0x20, 1},
      {MzBuilder().Size(511), 511, 511, 1},
      {MzBuilder().Size(512), 512, 0, 1},
      {MzBuilder().Size(513), 513, 1, 2},
      {MzBuilder().Size(1024), 1024, 0, 2},
      {MzBuilder().Size(4097), 4097, 1, 9},
      {MzBuilder().Size(70000), 70000, 368, 137},
      // Code past the requested size grows the image and its pages.
      {MzBuilder().Size(0x200).Code(0x200, {0xE9, 0x34, 0x12}), 0x203, 3, 2},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> image = c.builder.Build();
    ASSERT_EQ(image.size(), c.size);
    EXPECT_EQ(CheckedU16(image, 2), c.last_page_bytes) << "size " << c.size;
    EXPECT_EQ(CheckedU16(image, 4), c.pages) << "size " << c.size;
  }
}

// Hostile images are made by writing over header fields: Code() must come last.
TEST(MzBuilder, CodeLandsAfterTheHeaderFieldsAndPaddingIsZero) {
  std::vector<uint8_t> image = MzBuilder()
                                   .InitialIp(0x100)
                                   .Code(0, {'Z', 'M'})
                                   .Code(20, {7, 0})
                                   .Code(0x40, {0xAA, 0xBB})
                                   .Size(0x80)
                                   .Build();
  ASSERT_EQ(image.size(), 0x80u);
  EXPECT_EQ(CheckedU16(image, 0), 0x4D5A);
  EXPECT_EQ(CheckedU16(image, 20), 7);
  EXPECT_EQ(image[0x3F], 0);
  EXPECT_EQ(CheckedU16(image, 0x40), 0xBBAA);
  EXPECT_EQ(image[0x42], 0);
  EXPECT_EQ(image[0x7F], 0);
}

TEST(PeBuilder, WritesTheHeadersAtTheirOffsets) {
  PeBuilder builder = PeBuilder()
                          .PeOffset(0xC0)
                          .EntryPoint(0x1234)
                          .BaseOfCode(0x1100)
                          .SectionVirtualAddress(0x1000)
                          .SectionVirtualSize(0x345)
                          .SectionRawPointer(0x400)
                          .SectionRawSize(0x600);
  std::vector<uint8_t> image = builder.Build();
  ASSERT_EQ(image.size(), 0xA00u);
  EXPECT_EQ(CheckedU32(image, 0x3C), 0xC0u);
  EXPECT_EQ(CheckedU32(image, 0xC0), 0x00004550u);  // "PE\0\0"
  EXPECT_EQ(CheckedU16(image, 0xC0 + 4), 0x14C);
  EXPECT_EQ(CheckedU16(image, 0xC0 + 6), 1);
  EXPECT_EQ(CheckedU32(image, 0xC0 + 0x28), 0x1234u);
  EXPECT_EQ(CheckedU32(image, 0xC0 + 0x2C), 0x1100u);
  size_t section = 0xC0 + 24 + 0xE0;
  EXPECT_EQ(builder.SectionHeaderOffset(), section);
  EXPECT_EQ(CheckedU32(image, section + 8), 0x345u);
  EXPECT_EQ(CheckedU32(image, section + 12), 0x1000u);
  EXPECT_EQ(CheckedU32(image, section + 16), 0x600u);
  EXPECT_EQ(CheckedU32(image, section + 20), 0x400u);
  EXPECT_EQ(builder.EntryFileOffset(), 0x634u);
  // The DOS header's pages cover the whole file: 0xA00 bytes are five full pages.
  EXPECT_EQ(CheckedU16(image, 2), 0);
  EXPECT_EQ(CheckedU16(image, 4), 5);
}

TEST(PeBuilder, SectionHeaderFollowsTheDeclaredOptionalHeaderSize) {
  for (uint16_t optional_size : {uint16_t{0xE0}, uint16_t{0x10}, uint16_t{0x1F0}}) {
    std::vector<uint8_t> image =
        PeBuilder().SizeOfOptionalHeader(optional_size).SectionRawPointer(0x800).Build();
    size_t section = 0x80 + 24 + optional_size;
    EXPECT_EQ(CheckedU16(image, 0x80 + 20), optional_size);
    EXPECT_EQ(CheckedU32(image, section + 20), 0x800u) << "optional header " << optional_size;
    EXPECT_EQ(image[section], '.') << "optional header " << optional_size;
  }
}

TEST(PeBuilder, SizeCutsTheSectionShortAndCodeOverwritesTheHeaders) {
  std::vector<uint8_t> image = PeBuilder()
                                   .SectionRawPointer(0x200)
                                   .SectionRawSize(0x1000)
                                   .Size(0x300)
                                   .Code(0x200, {0xCC})
                                   .Code(0x80, {'N', 'E'})
                                   .Build();
  ASSERT_EQ(image.size(), 0x300u);
  EXPECT_EQ(image[0x200], 0xCC);
  EXPECT_EQ(CheckedU16(image, 2), 0x100);
  EXPECT_EQ(CheckedU16(image, 4), 2);
  EXPECT_EQ(CheckedU16(image, 0x80), 0x454E);
  EXPECT_EQ(CheckedU16(image, 0x80 + 4), 0x14C);
}

TEST(PeBuilder, AddedSectionsFollowTheFirstAndTheFileHoldsTheirData) {
  PeBuilder builder =
      PeBuilder().AddSection(0x2000, 0x80, 0x400, 0x100).AddSection(0x3000, 0x10, 0x900, 0x40);
  std::vector<uint8_t> image = builder.Build();
  ASSERT_EQ(image.size(), 0x940u);
  EXPECT_EQ(CheckedU16(image, 0x80 + 6), 3);
  const size_t second = builder.SectionHeaderOffset() + 40;
  const size_t third = second + 40;
  EXPECT_EQ(CheckedU32(image, second + 12), 0x2000u);
  EXPECT_EQ(CheckedU32(image, second + 20), 0x400u);
  EXPECT_EQ(CheckedU32(image, third + 8), 0x10u);
  EXPECT_EQ(CheckedU32(image, third + 16), 0x40u);
  EXPECT_EQ(CheckedU32(image, third + 20), 0x900u);
}

TEST(ComBuilder, JumpsReachTheirTargetsAndCodeGrowsTheImage) {
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
    std::vector<uint8_t> expected_start;
  };
  const Case cases[] = {
      {"short forward", ComBuilder().JumpShort(0x50).Build(), {0xEB, 0x4E}},
      {"short to itself", ComBuilder().JumpShort(0).Build(), {0xEB, 0xFE}},
      {"near forward", ComBuilder().JumpNear(0x1000).Build(), {0xE9, 0xFD, 0x0F}},
      {"near wraps backwards", ComBuilder().JumpNear(0).Build(), {0xE9, 0xFD, 0xFF}},
      {"call", ComBuilder().CallNear(0x203).Build(), {0xE8, 0x00, 0x02}},
  };
  for (const Case& c : cases) {
    ASSERT_GE(c.image.size(), c.expected_start.size()) << c.name;
    EXPECT_EQ(std::vector<uint8_t>(c.image.begin(), c.image.begin() + c.expected_start.size()),
              c.expected_start)
        << c.name;
  }
  std::vector<uint8_t> padded = ComBuilder().Code(0x100, {0x90, 0xC3}).Size(0x180).Build();
  ASSERT_EQ(padded.size(), 0x180u);
  EXPECT_EQ(padded[0x101], 0xC3);
  EXPECT_EQ(padded[0x17F], 0);
  EXPECT_EQ(ComBuilder().Size(4).Code(6, {0x90}).Build().size(), 7u);
}

}  // namespace
}  // namespace quarn::testing

#include "testing/executable_builder.h"

#include <gtest/gtest.h>

#include "testing/test_bytes.h"

#include <vector>

namespace quarn::testing {
namespace {

TEST(MzBuilder, WritesEachFieldAtItsOffset) {
  std::vector<uint8_t> image = MzBuilder()
                                   .HeaderParagraphs(0x20)
                                   .InitialCs(0x1234)
                                   .InitialIp(0x5678)
                                   .InitialSs(0x9ABC)
                                   .InitialSp(0xDEF0)
                                   .PeOffset(0x11223344)
                                   .Build();
  ASSERT_GE(image.size(), 0x200u);  // the header itself is 0x20 paragraphs
  EXPECT_EQ(image[0], 'M');
  EXPECT_EQ(image[1], 'Z');
  EXPECT_EQ(CheckedU16(image, 8), 0x20);
  EXPECT_EQ(CheckedU16(image, 14), 0x9ABC);
  EXPECT_EQ(CheckedU16(image, 16), 0xDEF0);
  EXPECT_EQ(CheckedU16(image, 20), 0x5678);
  EXPECT_EQ(CheckedU16(image, 22), 0x1234);
  EXPECT_EQ(CheckedU32(image, 0x3C), 0x11223344u);
}

TEST(MzBuilder, PageFieldsDescribeTheFinalSize) {
  struct Case {
    size_t size;
    uint16_t last_page_bytes;
    uint16_t pages;
  };
  const Case cases[] = {{0x20, 0x20, 1}, {511, 511, 1},    {512, 0, 1},  {513, 1, 2},
                        {1023, 511, 2},  {1024, 0, 2},     {1025, 1, 3}, {4096, 0, 8},
                        {4097, 1, 9},    {70000, 368, 137}};
  for (const Case& c : cases) {
    std::vector<uint8_t> image = MzBuilder().Size(c.size).Build();
    ASSERT_EQ(image.size(), c.size);
    EXPECT_EQ(CheckedU16(image, 2), c.last_page_bytes) << "size " << c.size;
    EXPECT_EQ(CheckedU16(image, 4), c.pages) << "size " << c.size;
  }
}

TEST(MzBuilder, CodePastTheRequestedSizeGrowsTheImageAndItsPages) {
  std::vector<uint8_t> image = MzBuilder().Size(0x200).Code(0x200, {0xE9, 0x34, 0x12}).Build();
  ASSERT_EQ(image.size(), 0x203u);
  EXPECT_EQ(image[0x200], 0xE9);
  EXPECT_EQ(image[0x202], 0x12);
  EXPECT_EQ(CheckedU16(image, 2), 3);
  EXPECT_EQ(CheckedU16(image, 4), 2);
}

TEST(MzBuilder, PaddingIsZeroAndCodeLandsAtItsOffset) {
  std::vector<uint8_t> image = MzBuilder().Code(0x40, {0xAA, 0xBB}).Size(0x80).Build();
  ASSERT_EQ(image.size(), 0x80u);
  EXPECT_EQ(image[0x3F], 0);
  EXPECT_EQ(image[0x40], 0xAA);
  EXPECT_EQ(image[0x41], 0xBB);
  EXPECT_EQ(image[0x42], 0);
  EXPECT_EQ(image[0x7F], 0);
}

TEST(MzBuilder, CodeOverwritesHeaderFieldsForHostileImages) {
  std::vector<uint8_t> image =
      MzBuilder().InitialIp(0x100).Code(0, {'Z', 'M'}).Code(20, {7, 0}).Build();
  EXPECT_EQ(image[0], 'Z');
  EXPECT_EQ(image[1], 'M');
  EXPECT_EQ(CheckedU16(image, 20), 7);
}

TEST(MzBuilder, EntryAtSetsCsIpRelativeToTheHeaderInForceAtBuild) {
  MzBuilder near_entry = MzBuilder().EntryAt(0x230).HeaderParagraphs(0x20);
  std::vector<uint8_t> image = near_entry.Build();
  EXPECT_EQ(CheckedU16(image, 22), 0);
  EXPECT_EQ(CheckedU16(image, 20), 0x30);
  EXPECT_EQ(near_entry.EntryOffset(), 0x230u);

  // Beyond 64 KB from the header the distance needs CS.
  std::vector<uint8_t> far = MzBuilder().HeaderParagraphs(2).EntryAt(0x20 + 0x12345).Build();
  EXPECT_EQ(CheckedU16(far, 22), 0x1234);
  EXPECT_EQ(CheckedU16(far, 20), 0x5);
}

TEST(MzBuilder, EntryOffsetFollowsExplicitCsIp) {
  MzBuilder builder = MzBuilder().HeaderParagraphs(4).InitialCs(0x10).InitialIp(0x8);
  EXPECT_EQ(builder.EntryOffset(), 0x40u + 0x100u + 0x8u);
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
  EXPECT_EQ(image[0], 'M');
  EXPECT_EQ(CheckedU32(image, 0x3C), 0xC0u);
  EXPECT_EQ(CheckedU32(image, 0xC0), 0x00004550u);  // "PE\0\0"
  EXPECT_EQ(CheckedU16(image, 0xC0 + 4), 0x14C);
  EXPECT_EQ(CheckedU16(image, 0xC0 + 6), 1);
  EXPECT_EQ(CheckedU16(image, 0xC0 + 20), 0xE0);
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
  for (uint16_t optional_size : {uint16_t{0xE0}, uint16_t{0x60}, uint16_t{0x10}, uint16_t{0x1F0}}) {
    std::vector<uint8_t> image =
        PeBuilder().SizeOfOptionalHeader(optional_size).SectionRawPointer(0x800).Build();
    size_t section = 0x80 + 24 + optional_size;
    EXPECT_EQ(CheckedU16(image, 0x80 + 20), optional_size);
    EXPECT_EQ(CheckedU32(image, section + 20), 0x800u) << "optional header " << optional_size;
    EXPECT_EQ(image[section], '.') << "optional header " << optional_size;
  }
}

TEST(PeBuilder, SizeCanCutTheSectionShortAndCodeLandsAfterTheHeaders) {
  std::vector<uint8_t> image = PeBuilder()
                                   .SectionRawPointer(0x200)
                                   .SectionRawSize(0x1000)
                                   .Size(0x300)
                                   .Code(0x200, {0xCC})
                                   .Build();
  ASSERT_EQ(image.size(), 0x300u);
  EXPECT_EQ(image[0x200], 0xCC);
  EXPECT_EQ(CheckedU16(image, 2), 0x100);
  EXPECT_EQ(CheckedU16(image, 4), 2);
}

TEST(PeBuilder, AddedSectionsFollowTheFirstAndTheFileHoldsTheirData) {
  PeBuilder builder = PeBuilder().AddSection(0x2000, 0x80, 0x400, 0x100).AddSection(
      0x3000, 0x10, 0x900, 0x40);
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

TEST(PeBuilder, CodeMayOverwriteTheSignature) {
  std::vector<uint8_t> image = PeBuilder().Code(0x80, {'N', 'E'}).Build();
  EXPECT_EQ(image[0x80], 'N');
  EXPECT_EQ(image[0x81], 'E');
  EXPECT_EQ(CheckedU16(image, 0x80 + 4), 0x14C);
}

TEST(ComBuilder, JumpsReachTheirTargets) {
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
}

TEST(ComBuilder, SizePadsAndCodeGrowsTheImage) {
  std::vector<uint8_t> padded =
      ComBuilder().JumpNear(0x100).Code(0x100, {0x90, 0xC3}).Size(0x180).Build();
  ASSERT_EQ(padded.size(), 0x180u);
  EXPECT_EQ(padded[0x100], 0x90);
  EXPECT_EQ(padded[0x101], 0xC3);
  EXPECT_EQ(padded[0x17F], 0);

  std::vector<uint8_t> grown = ComBuilder().Size(4).Code(6, {0x90}).Build();
  ASSERT_EQ(grown.size(), 7u);
  EXPECT_EQ(grown[6], 0x90);
}

}  // namespace
}  // namespace quarn::testing

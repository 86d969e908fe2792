// The layout a rule needs, read from PE images built in code as the loader of signature
// offsets maps them: the entry point in the headers or through the section that holds it,
// sections aligned and cut to the file, and headers it refuses giving an empty layout.
#include "imported/matching/pe_layout.h"

#include <gtest/gtest.h>

#include "engine/test_support/executable_builder.h"
#include "imported/test_support/matcher_test_support.h"

namespace quarn {
namespace {

using testing::PeBuilder;

std::optional<PeLayout> LayoutOf(const std::vector<uint8_t>& bytes) {
  return ReadPeLayout(*testing::WatchedFile::Of(bytes));
}

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t size) {
  bytes.resize(size);
  return bytes;
}

// Three sections: .text at 0x1000 (raw 0x200, 0x200 bytes), 0x2000 (raw 0x400, 0x100 bytes
// of 0x800 virtual), 0x3000 (raw 0x600, 0x80 bytes, where the file ends).
PeBuilder ThreeSections() {
  return PeBuilder().AddSection(0x2000, 0x800, 0x400, 0x100).AddSection(0x3000, 0x80, 0x600, 0x80);
}

// Raw sizes are rounded up to the file alignment of 0x200, then cut to the file.
const std::vector<PeSection> kThreeSections = {{0x200, 0x200}, {0x400, 0x200}, {0x600, 0x80}};

TEST(PeLayout, EntryPointMapsAsTheLoaderMapsIt) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::optional<uint64_t> entry;
  };
  const Case cases[] = {
      {"first section", ThreeSections().EntryPoint(0x1010).Build(), 0x210},
      {"second section", ThreeSections().EntryPoint(0x2034).Build(), 0x434},
      {"last byte of the last", ThreeSections().EntryPoint(0x307F).Build(), 0x67F},
      {"past SizeOfRawData, inside its rounding", ThreeSections().EntryPoint(0x2100).Build(),
       0x500},
      {"in the headers", ThreeSections().SizeOfHeaders(0x400).EntryPoint(0x40).Build(), 0x40},
  };
  for (const Case& c : cases) {
    std::optional<PeLayout> layout = LayoutOf(c.bytes);
    ASSERT_TRUE(layout) << c.name;
    EXPECT_EQ(layout->entry_point, c.entry) << c.name;
    EXPECT_EQ(layout->sections, kThreeSections) << c.name;
  }
  // Sections that overlap in memory: the last in the table holds the entry.
  std::optional<PeLayout> overlapping =
      LayoutOf(PeBuilder().EntryPoint(0x1010).AddSection(0x1000, 0x80, 0x600, 0x80).Build());
  ASSERT_TRUE(overlapping);
  EXPECT_EQ(overlapping->entry_point, 0x610u);
}

TEST(PeLayout, RawPointersAreRoundedDownToTheFileAlignment) {
  std::optional<PeLayout> layout =
      LayoutOf(PeBuilder().SectionRawPointer(0x210).SectionRawSize(0x1F0).Size(0x400).Build());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->sections, (std::vector<PeSection>{{0x200, 0x200}}));
  EXPECT_EQ(layout->entry_point, 0x200u);
  // A pointer aligned to 0x200 but not to the declared 0x1000 puts the table on 0x200.
  layout =
      LayoutOf(PeBuilder().FileAlignment(0x1000).AddSection(0x2000, 0x10, 0x1010, 0x10).Build());
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->sections, (std::vector<PeSection>{{0x200, 0x200}, {0x1000, 0x20}}));
}

TEST(PeLayout, SectionsAreCutToTheFile) {
  // The file ends 0x20 bytes into the second section's data.
  std::optional<PeLayout> layout = LayoutOf(Cut(ThreeSections().EntryPoint(0x2010).Build(), 0x420));
  ASSERT_TRUE(layout);
  const std::vector<PeSection> cut = {{0x200, 0x200}, {0x400, 0x20}, {0x600, 0}};
  EXPECT_EQ(layout->sections, cut);
  EXPECT_EQ(layout->entry_point, 0x410u);
}

TEST(PeLayout, OnlyMzFilesHaveOneAndHeadersTheLoaderRefusesGiveItEmpty) {
  const std::vector<uint8_t> good = ThreeSections().Build();
  const size_t table = PeBuilder().SectionHeaderOffset();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool is_mz;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"only MZ", {'M', 'Z'}, true},
      {"ZM", PeBuilder().Code(0, {'Z', 'M'}).Build(), false},
      {"e_lfanew past the end", PeBuilder().Code(0x3C, {0, 0, 1, 0}).Build(), true},
      {"e_lfanew wraps", PeBuilder().Code(0x3C, {0xFE, 0xFF, 0xFF, 0xFF}).Build(), true},
      {"PE\\0\\1", PeBuilder().Code(0x83, {1}).Build(), true},
      {"headers cut after the signature", Cut(good, 0x84), true},
      {"no sections", PeBuilder().Code(0x86, {0, 0}).Build(), true},
      {"97 sections", PeBuilder().Size(0x2000).Code(0x86, {97, 0}).Build(), true},
      {"table cut short", Cut(good, table + 2 * 40 + 39), true},
      {"optional header shorter than its fixed part",
       PeBuilder().SizeOfOptionalHeader(0x5F).Build(), true},
      {"a directory past the optional header",
       PeBuilder().SizeOfOptionalHeader(0x60).Code(0x80 + 24 + 92, {1}).Build(), true},
      {"a section's virtual size with its sign bit",
       PeBuilder().SectionVirtualSize(0x80000000).Build(), true},
      {"entry point past the section's raw data", ThreeSections().EntryPoint(0x2200).Build(), true},
      {"entry point in headers the loader does not count", ThreeSections().EntryPoint(0x40).Build(),
       true},
      {"entry point's byte past the end of the file",
       Cut(ThreeSections().EntryPoint(0x2030).Build(), 0x420), true},
  };
  for (const Case& c : cases) {
    std::optional<PeLayout> layout = LayoutOf(c.bytes);
    EXPECT_EQ(layout.has_value(), c.is_mz) << c.name;
    if (layout) {
      EXPECT_EQ(*layout, PeLayout()) << c.name;
    }
  }
  // 96 sections are still read (all beyond the file here, so of size 0).
  PeBuilder many;
  for (int index = 1; index < 96; ++index)
    many.AddSection(0x2000 + index * 0x1000, 0x10, 0x9000, 0x10);
  std::optional<PeLayout> layout = LayoutOf(Cut(many.Build(), 0x8000));
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->sections.size(), 96u);
  EXPECT_EQ(layout->sections.back(), (PeSection{0x9000, 0}));
}

}  // namespace
}  // namespace quarn

// The layout a rule needs, read from PE images built in code: the entry point through the
// section that holds it, the sections cut to the file, and hostile headers giving nothing.
#include "imported/pe_layout.h"

#include <gtest/gtest.h>

#include "imported/test_support/matcher_test_support.h"
#include "engine/test_support/executable_builder.h"

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
// of 0x800 virtual), 0x3000 (raw 0x600, 0x80 bytes).
PeBuilder ThreeSections() {
  return PeBuilder().AddSection(0x2000, 0x800, 0x400, 0x100).AddSection(0x3000, 0x80, 0x600, 0x80);
}

const std::vector<PeSection> kThreeSections = {{0x200, 0x200}, {0x400, 0x100}, {0x600, 0x80}};

TEST(PeLayout, EntryPointMapsThroughTheSectionWhoseRawDataHoldsIt) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::optional<uint64_t> entry;
  };
  const Case cases[] = {
      {"first section", ThreeSections().EntryPoint(0x1010).Build(), 0x210},
      {"second section", ThreeSections().EntryPoint(0x2034).Build(), 0x434},
      {"last byte of the last", ThreeSections().EntryPoint(0x307F).Build(), 0x67F},
      {"past the raw data, inside the virtual size",
       ThreeSections().EntryPoint(0x2100).Build(),
       {}},
      {"in the headers", ThreeSections().EntryPoint(0x40).Build(), {}},
      {"past every section", ThreeSections().EntryPoint(0x9000).Build(), {}},
  };
  for (const Case& c : cases) {
    std::optional<PeLayout> layout = LayoutOf(c.bytes);
    ASSERT_TRUE(layout) << c.name;
    EXPECT_EQ(layout->entry_point, c.entry) << c.name;
    EXPECT_EQ(layout->sections, kThreeSections) << c.name;
  }
  // Sections that overlap in memory: the first in the table holds the entry.
  std::optional<PeLayout> overlapping =
      LayoutOf(PeBuilder().EntryPoint(0x1010).AddSection(0x1000, 0x80, 0x600, 0x80).Build());
  ASSERT_TRUE(overlapping);
  EXPECT_EQ(overlapping->entry_point, 0x210u);
}

TEST(PeLayout, SectionsAreCutToTheFile) {
  // The file ends 0x20 bytes into the second section's data.
  std::optional<PeLayout> layout = LayoutOf(Cut(ThreeSections().EntryPoint(0x2030).Build(), 0x420));
  ASSERT_TRUE(layout);
  const std::vector<PeSection> cut = {{0x200, 0x200}, {0x400, 0x20}, {0x600, 0}};
  EXPECT_EQ(layout->sections, cut);
  EXPECT_FALSE(layout->entry_point) << "the entry's byte is not in the file";
}

TEST(PeLayout, HostileHeadersGiveNoLayoutOrNoSections) {
  const std::vector<uint8_t> good = ThreeSections().Build();
  const size_t table = PeBuilder().SectionHeaderOffset();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool is_pe;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"only MZ", {'M', 'Z'}, false},
      {"ZM", PeBuilder().Code(0, {'Z', 'M'}).Build(), false},
      {"e_lfanew past the end", PeBuilder().Code(0x3C, {0, 0, 1, 0}).Build(), false},
      {"e_lfanew wraps", PeBuilder().Code(0x3C, {0xFE, 0xFF, 0xFF, 0xFF}).Build(), false},
      {"PE\\0\\1", PeBuilder().Code(0x83, {1}).Build(), false},
      {"headers cut after the signature", Cut(good, 0x84), true},
      {"no sections", PeBuilder().Code(0x86, {0, 0}).Build(), true},
      {"97 sections", PeBuilder().Size(0x2000).Code(0x86, {97, 0}).Build(), true},
      {"table cut short", Cut(good, table + 2 * 40 + 39), true},
  };
  for (const Case& c : cases) {
    std::optional<PeLayout> layout = LayoutOf(c.bytes);
    EXPECT_EQ(layout.has_value(), c.is_pe) << c.name;
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

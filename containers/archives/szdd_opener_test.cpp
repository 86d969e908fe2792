// SzddOpener against the real COMPRESS.EXE format as Debian's mscompress writes it: one
// entry whose bytes equal the file that was squeezed, of sizes up to past the spool's
// megabyte; the stored last character of the name; data that ends early or runs on
// past the length the header gives is damaged; what only starts like SZDD is no container.
// mscompress belongs to the tests' setup: without it the test fails, it does not skip.
#include "containers/archives/szdd_opener.h"

#include <gtest/gtest.h>

#include <random>

#include "containers/test_support/archive_test_support.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

constexpr size_t kLastCharacterOffset = 9;

// `bytes` squeezed by mscompress.
std::vector<uint8_t> Squeezed(const std::vector<uint8_t>& bytes) {
  return testing::MadeByTool({{"FILE.BIN", bytes}}, "mscompress FILE.BIN", "FILE.BIN_");
}

std::vector<uint8_t> Mixed(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  // Runs and noise, so the LZSS both copies and stores.
  for (size_t i = 0; i < size; ++i) bytes[i] = (i / 64) % 2 == 0 ? 'A' + i % 7 : random() & 0xFF;
  return bytes;
}

std::optional<OpenedContainer> OpenSzdd(const std::vector<uint8_t>& bytes) {
  SzddOpener opener;
  return testing::OpenChecked(opener, ContainerKind::kSzdd, bytes);
}

TEST(SzddOpenerTest, TheOneEntryReadsAsTheFileThatWasSqueezed) {
  // mscompress squeezes files shorter than 16 bytes wrongly (its own msexpand gives other
  // bytes back), so the sizes start there.
  for (size_t size : {size_t{16}, size_t{4095}, size_t{4097}, size_t{100000}, size_t{1300000}}) {
    const std::vector<uint8_t> original = Mixed(size, static_cast<uint32_t>(size));
    std::optional<OpenedContainer> opened = OpenSzdd(Squeezed(original));
    ASSERT_TRUE(opened) << size;
    const testing::WholeArchive read = testing::ReadWhole(*opened->archive, 1000);
    ASSERT_EQ(read.entries.size(), 1u) << size;
    const testing::ReadEntry& entry = read.entries[0];
    EXPECT_EQ(entry.entry.path, "") << "the name comes from the file's own";
    EXPECT_EQ(entry.entry.size, size);
    EXPECT_EQ(entry.failure, std::nullopt) << size;
    EXPECT_EQ(entry.data, original) << size;
    EXPECT_FALSE(read.damaged);
  }
}

// The scan's own test names squeezed files by letters; here, the stored characters that are
// no letter of ASCII.
TEST(SzddOpenerTest, TheStoredLastCharacterIsGivenWhenItCanBeAName) {
  std::vector<uint8_t> bytes = Squeezed(Mixed(300, 1));
  for (const auto& [stored, shown] :
       std::vector<std::pair<uint8_t, std::string>>{{0x81, "ü"}, {0x07, ""}}) {
    bytes[kLastCharacterOffset] = stored;
    EXPECT_EQ(testing::ReadWhole(*OpenSzdd(bytes)->archive).entries[0].entry.last_name_character,
              shown);
  }
}

TEST(SzddOpenerTest, DataShortOfOrPastTheHeadersLengthIsDamaged) {
  const std::vector<uint8_t> whole = Squeezed(Mixed(20000, 2));
  for (size_t cut : {size_t{14}, size_t{15}, whole.size() / 2, whole.size() - 1}) {
    const std::vector<uint8_t> head(whole.begin(), whole.begin() + cut);
    std::optional<OpenedContainer> opened = OpenSzdd(head);
    ASSERT_TRUE(opened) << cut;
    EXPECT_EQ(testing::ReadWhole(*opened->archive).entries[0].failure, IncompleteReason::kDamaged)
        << cut;
  }
  std::vector<uint8_t> longer = whole;
  longer.insert(longer.end(), {0xFF, 'x', 'y', 'z', 'w', 'v', 'u', 't', 's'});
  EXPECT_EQ(testing::ReadWhole(*OpenSzdd(longer)->archive).entries[0].failure,
            IncompleteReason::kDamaged);
}

TEST(SzddOpenerTest, WhatOnlyStartsLikeSzddIsNoContainer) {
  const std::vector<uint8_t> whole = Squeezed(Mixed(500, 3));
  EXPECT_FALSE(OpenSzdd(std::vector<uint8_t>(whole.begin(), whole.begin() + 13)));
  std::vector<uint8_t> other_method = whole;
  other_method[8] = 'B';
  EXPECT_FALSE(OpenSzdd(other_method));
  std::vector<uint8_t> other_magic = whole;
  other_magic[3] = 'X';
  EXPECT_FALSE(OpenSzdd(other_magic));
}

}  // namespace
}  // namespace quarn

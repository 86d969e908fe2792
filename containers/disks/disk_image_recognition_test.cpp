// Which files the opener takes for disk images: sane parameter blocks and standard
// floppies without one are; anything that contradicts itself is an ordinary file.
#include <gtest/gtest.h>

#include <functional>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using testing::FatImageWriter;

std::vector<uint8_t> SmallFloppy() {
  FatImageWriter writer(testing::FloppyLayout(360));
  return writer.AddFile("IO.SYS", testing::PatternBytes(900, 5)).Build();
}

struct BootSectorEdit {
  std::string name;
  size_t offset;
  std::vector<uint8_t> bytes;
};

// Each edit alone makes the parameter block insane; a 360K floppy's FAT would still let
// the standard-size fallback in, so the image is first made one byte longer, and its 55 AA
// mark would make its first sector a master boot record, so it goes.
std::vector<BootSectorEdit> InsaneEdits() {
  return {{"bytes_per_sector_zero", 0x0B, {0x00, 0x00}},
          {"bytes_per_sector_256", 0x0B, {0x00, 0x01}},
          {"bytes_per_sector_not_a_power_of_two", 0x0B, {0x00, 0x03}},
          {"bytes_per_sector_8192", 0x0B, {0x00, 0x20}},
          {"sectors_per_cluster_zero", 0x0D, {0x00}},
          {"sectors_per_cluster_three", 0x0D, {0x03}},
          {"no_reserved_sector", 0x0E, {0x00, 0x00}},
          {"no_fat", 0x10, {0x00}},
          {"three_fats", 0x10, {0x03}},
          {"no_root_entries", 0x11, {0x00, 0x00}},
          {"no_sectors", 0x13, {0x00, 0x00}},
          {"media_byte_zero", 0x15, {0x00}},
          {"no_sectors_per_fat", 0x16, {0x00, 0x00}},
          {"fat_too_small_for_the_clusters", 0x16, {0x01, 0x00}},
          {"fat_past_the_volume", 0x0E, {0x00, 0x40}}};
}

class InsaneParameterBlockTest : public ::testing::TestWithParam<BootSectorEdit> {};

TEST_P(InsaneParameterBlockTest, IsAnOrdinaryFile) {
  std::vector<uint8_t> image = SmallFloppy();
  image.push_back(0);
  image[510] = image[511] = 0;
  ASSERT_TRUE(testing::OpenImage(image).has_value()) << "the unedited image must open";
  testing::PutBytes(image, GetParam().offset, GetParam().bytes);
  EXPECT_FALSE(testing::OpenImage(image).has_value());
}

INSTANTIATE_TEST_SUITE_P(Edits, InsaneParameterBlockTest, ::testing::ValuesIn(InsaneEdits()),
                         [](const auto& info) { return info.param.name; });

struct RecognitionCase {
  std::string name;
  std::function<std::vector<uint8_t>()> image;
  std::optional<ContainerKind> kind;
  // Taken for an image by its first sector alone: no volume, the sector judged on its own.
  bool boot_record_only = false;
};

void PrintTo(const RecognitionCase& row, std::ostream* out) {
  *out << row.name;
}

std::vector<uint8_t> WithoutParameterBlock(uint32_t kilobytes,
                                           std::function<void(std::vector<uint8_t>&)> edit) {
  testing::FatLayout layout = testing::FloppyLayout(kilobytes);
  layout.parameter_block = false;
  layout.boot_signature = false;
  FatImageWriter writer(layout);
  std::vector<uint8_t> image = writer.AddFile("README", testing::PatternBytes(700, 6)).Build();
  if (edit) edit(image);
  return image;
}

std::vector<RecognitionCase> RecognitionCases() {
  std::vector<RecognitionCase> cases;
  for (uint32_t kilobytes : {160, 180, 320, 360, 720, 1200, 1440, 1680, 2880}) {
    cases.push_back({"no_parameter_block_" + std::to_string(kilobytes),
                     [=] { return WithoutParameterBlock(kilobytes, nullptr); },
                     ContainerKind::kFat12});
  }
  cases.push_back({"no_parameter_block_and_a_size_of_no_floppy",
                   [] {
                     std::vector<uint8_t> image = WithoutParameterBlock(360, nullptr);
                     image.resize(image.size() + 512);
                     return image;
                   },
                   std::nullopt});
  cases.push_back(
      {"no_parameter_block_and_no_media_byte",
       [] { return WithoutParameterBlock(360, [](auto& image) { image[512] = 0x42; }); },
       std::nullopt});
  cases.push_back(
      {"no_parameter_block_and_fat1_not_all_ones",
       [] { return WithoutParameterBlock(360, [](auto& image) { image[514] = 0x0F; }); },
       std::nullopt});
  cases.push_back({"sane_parameter_block_and_a_zeroed_fat",
                   [] {
                     std::vector<uint8_t> image = SmallFloppy();
                     std::fill(image.begin() + 512, image.begin() + 1024, 0);
                     image.push_back(0);  // of no floppy's size: the block alone tells
                     return image;
                   },
                   ContainerKind::kFat12, true});
  cases.push_back({"no_parameter_block_and_a_zeroed_fat_but_the_mark",
                   [] {
                     return WithoutParameterBlock(360, [](auto& image) {
                       std::fill(image.begin() + 512, image.begin() + 1024, 0);
                       image[510] = 0x55;
                       image[511] = 0xAA;
                     });
                   },
                   ContainerKind::kFat12, true});
  cases.push_back(
      {"shorter_than_a_sector", [] { return std::vector<uint8_t>(300, 0xF0); }, std::nullopt});
  cases.push_back({"zeros", [] { return std::vector<uint8_t>(368640, 0); }, std::nullopt});
  cases.push_back({"fat16_by_cluster_count",
                   [] { return FatImageWriter(testing::HardDiskLayout(16, 8400, 1)).Build(); },
                   ContainerKind::kFat16});
  cases.push_back({"fat12_just_below_4085_clusters",
                   [] {
                     testing::FatLayout layout = testing::HardDiskLayout(16, 8400, 1);
                     layout.fat_bits = 12;
                     layout.total_sectors = 1 + 2 * layout.sectors_per_fat + 32 + 4084;
                     return FatImageWriter(layout).Build();
                   },
                   ContainerKind::kFat12});
  return cases;
}

class DiskImageRecognitionTest : public ::testing::TestWithParam<RecognitionCase> {};

TEST_P(DiskImageRecognitionTest, KindFollowsTheStructure) {
  const std::vector<uint8_t> image = GetParam().image();
  std::optional<OpenedContainer> opened = testing::OpenImage(image);
  ASSERT_EQ(opened.has_value(), GetParam().kind.has_value());
  if (!opened) return;
  EXPECT_EQ(opened->kind, *GetParam().kind);
  EXPECT_EQ(opened->BootRecordOnly(), GetParam().boot_record_only);
  if (GetParam().boot_record_only) {
    EXPECT_EQ(opened->boot_record, std::vector<uint8_t>(image.begin(), image.begin() + 512));
    return;
  }
  ASSERT_EQ(opened->volumes.size(), 1u);
  EXPECT_EQ(opened->volumes[0].letter, "A:");
  EXPECT_EQ(opened->volumes[0].partition_number, 0u);
  EXPECT_TRUE(opened->damage.empty());
  // A floppy without a parameter block reads with its size's standard geometry.
  if (GetParam().name.starts_with("no_parameter_block_")) {
    EXPECT_EQ(
        testing::WalkVolume(*opened->volumes[0].files).files,
        (std::map<std::string, std::vector<uint8_t>>{{"README", testing::PatternBytes(700, 6)}}));
  }
}

INSTANTIATE_TEST_SUITE_P(Images, DiskImageRecognitionTest, ::testing::ValuesIn(RecognitionCases()),
                         [](const auto& info) { return info.param.name; });

// What a scan of ordinary files relies on: the quick look turns them away unopened.
TEST(DiskImageRecognitionTest, OrdinaryFilesAreTurnedAwayByTheirFirstSector) {
  const std::string text(70000, 'a');
  const std::vector<std::vector<uint8_t>> ordinary = {
      testing::PatternBytes(4096, 3), std::vector<uint8_t>(text.begin(), text.end()),
      std::vector<uint8_t>(2048, 0), std::vector<uint8_t>(511, 0xF0)};
  for (const std::vector<uint8_t>& bytes : ordinary) {
    const size_t head = std::min(bytes.size(), kContainerHeadBytes);
    EXPECT_FALSE(DiskImageOpener().MayOpen(std::span(bytes.data(), head), bytes.size()))
        << bytes.size() << " bytes";
    EXPECT_FALSE(testing::OpenImage(bytes).has_value());
  }
}

}  // namespace
}  // namespace quarn

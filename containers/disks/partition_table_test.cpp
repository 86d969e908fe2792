// Partition tables: numbering, lettering as DOS gave it, and hostile chains of extended
// boot records that must end.
#include <gtest/gtest.h>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/disks/file_block_device.h"
#include "containers/disks/partition_table.h"
#include "containers/test_support/fat_image_writer.h"

namespace quarn {
namespace {

using testing::TableEntry;

std::vector<uint8_t> TinyFat12Volume() {
  testing::FatLayout layout;
  layout.total_sectors = 128;
  layout.root_entries = 32;
  layout.sectors_per_fat = 1;
  layout.media = 0xF8;
  testing::FatImageWriter writer(layout);
  return writer.AddFile("FILE.TXT", testing::PatternBytes(300, 7)).Build();
}

std::optional<PartitionTable> TableOf(const std::vector<uint8_t>& image) {
  std::shared_ptr<FileBlockDevice> device = FileBlockDevice::Open(testing::ImageFile(image));
  return ReadPartitionTable(*device);
}

struct LetteringCase {
  std::string name;
  std::vector<Partition> partitions;
  std::vector<std::string> letters;
};

void PrintTo(const LetteringCase& row, std::ostream* out) {
  *out << row.name;
}

std::vector<LetteringCase> LetteringCases() {
  return {
      {"one_primary", {{1, 0x06}}, {"C:"}},
      {"first_fat_primary_then_logicals_then_other_primaries",
       {{1, 0x06}, {2, 0x0B}, {5, 0x01}, {6, 0x0E}},
       {"C:", "F:", "D:", "E:"}},
      {"non_fat_primary_first", {{1, 0x83}, {2, 0x04}, {5, 0x06}}, {"", "C:", "D:"}},
      {"hidden_types_get_no_letter",
       {{1, 0x16}, {2, 0x0C}, {5, 0x1B}, {6, 0x0E}},
       {"", "C:", "", "D:"}},
      {"logicals_only", {{5, 0x06}, {6, 0x07}, {7, 0x0C}}, {"C:", "", "D:"}},
  };
}

class PartitionLetteringTest : public ::testing::TestWithParam<LetteringCase> {};

TEST_P(PartitionLetteringTest, LettersAsDosGaveThem) {
  EXPECT_EQ(LetterPartitions(GetParam().partitions), GetParam().letters);
}

INSTANTIATE_TEST_SUITE_P(Tables, PartitionLetteringTest, ::testing::ValuesIn(LetteringCases()),
                         [](const auto& info) { return info.param.name; });

TEST(PartitionLetteringTest, NoLetterPastZ) {
  std::vector<Partition> partitions;
  for (uint32_t number = 5; number < 40; ++number) partitions.push_back({number, 0x06});
  const std::vector<std::string> letters = LetterPartitions(partitions);
  EXPECT_EQ(letters[23], "Z:");
  EXPECT_EQ(letters[24], "");
}

struct HostileTableCase {
  std::string name;
  std::function<void(std::vector<uint8_t>&, const testing::PartitionedImageBuilder&)> edit;
  bool is_table;
  std::vector<uint32_t> numbers;
  std::vector<ContainerDamage> damage;
};

void PrintTo(const HostileTableCase& row, std::ostream* out) {
  *out << row.name;
}

std::vector<HostileTableCase> HostileTableCases() {
  constexpr size_t kLinkSlot = 0x1BE + 16;
  auto link_to = [](std::vector<uint8_t>& image, uint32_t record, uint32_t relative) {
    image[record * 512 + kLinkSlot + 4] = 0x05;
    for (int i = 0; i < 4; ++i)
      image[record * 512 + kLinkSlot + 8 + i] = static_cast<uint8_t>(relative >> (8 * i));
    image[record * 512 + kLinkSlot + 12] = 1;
  };
  return {
      {"sound", nullptr, true, {1, 2, 5, 6}, {}},
      {"chain_that_loops_to_its_start",
       [=](auto& image, const auto& builder) { link_to(image, builder.ExtendedRecords()[1], 0); },
       true,
       {1, 2, 5, 6},
       {{"", IncompleteReason::kDamaged}}},
      {"chain_that_leaves_the_image",
       [=](auto& image, const auto& builder) {
         link_to(image, builder.ExtendedRecords()[1], 0x7FFFFFF0);
       },
       true,
       {1, 2, 5, 6},
       {{"", IncompleteReason::kDamaged}}},
      {"logical_drive_past_the_image",
       [](auto& image, const auto& builder) {
         image[builder.ExtendedRecords()[1] * 512 + 0x1BE + 12 + 3] = 0x40;
       },
       true,
       {1, 2, 5, 6},
       {{"6", IncompleteReason::kDamaged}}},
      // An odd slot is left out and named; the others are read.
      {"boot_flag_neither_00_nor_80",
       [](auto& image, const auto&) { image[0x1BE] = 0x01; },
       true,
       {2, 5, 6},
       {{"1", IncompleteReason::kDamaged}}},
      {"slot_over_an_earlier_one",
       [](auto& image, const auto&) { image[0x1BE + 16 + 8] = 64; },
       true,
       {1, 5, 6},
       {{"2", IncompleteReason::kDamaged}}},
      {"used_slot_at_sector_0",
       [](auto& image, const auto&) {
         for (int i = 0; i < 4; ++i) image[0x1BE + 8 + i] = 0;
       },
       true,
       {2, 5, 6},
       {{"1", IncompleteReason::kDamaged}}},
      {"no_slot_sane",
       [](auto& image, const auto&) {
         for (int slot = 0; slot < 3; ++slot) image[0x1BE + 16 * slot] = 0x12;
       },
       false,
       {},
       {}},
  };
}

class HostilePartitionTableTest : public ::testing::TestWithParam<HostileTableCase> {};

TEST_P(HostilePartitionTableTest, ReadsWhatIsThereAndEnds) {
  testing::PartitionedImageBuilder builder;
  builder.Primary(0x01, TinyFat12Volume())
      .Primary(0x83, std::vector<uint8_t>(4096, 0))
      .Logical(0x01, TinyFat12Volume())
      .Logical(0x11, TinyFat12Volume());
  std::vector<uint8_t> image = builder.Build();
  if (GetParam().edit) GetParam().edit(image, builder);
  std::optional<PartitionTable> table = TableOf(image);
  ASSERT_EQ(table.has_value(), GetParam().is_table);
  if (!table) return;
  std::vector<uint32_t> numbers;
  for (const Partition& partition : table->partitions) numbers.push_back(partition.number);
  EXPECT_EQ(numbers, GetParam().numbers);
  EXPECT_EQ(table->damage, GetParam().damage);
}

INSTANTIATE_TEST_SUITE_P(Tables, HostilePartitionTableTest,
                         ::testing::ValuesIn(HostileTableCases()),
                         [](const auto& info) { return info.param.name; });

TEST(HostilePartitionTableTest, LongChainStopsAtTheLimit) {
  testing::PartitionedImageBuilder builder;
  builder.Primary(0x01, TinyFat12Volume());
  for (uint32_t i = 0; i < kMaxLogicalPartitions + 20; ++i)
    builder.Logical(0x83, std::vector<uint8_t>(512, 0));
  const std::optional<PartitionTable> table = TableOf(builder.Build());
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(table->partitions.size(), 1 + kMaxLogicalPartitions);
  EXPECT_EQ(table->damage, (std::vector<ContainerDamage>{{"", IncompleteReason::kEntries}}));
}

TEST(PartitionedImageTest, VolumesInLetterOrderWithTheirBootSectors) {
  testing::PartitionedImageBuilder builder;
  builder.Primary(0x01, TinyFat12Volume())
      .Primary(0x83, std::vector<uint8_t>(4096, 0))
      .Primary(0x04, std::vector<uint8_t>(4096, 0x5A))
      .Logical(0x11, TinyFat12Volume())
      .Logical(0x01, TinyFat12Volume());
  const std::vector<uint8_t> image = builder.Build();
  std::optional<OpenedContainer> opened = testing::OpenImage(image);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->kind, ContainerKind::kMbr);
  EXPECT_EQ(opened->boot_record, std::vector<uint8_t>(image.begin(), image.begin() + 512));
  // Slot 3 is typed FAT but holds no volume: it is reported, and takes no place.
  EXPECT_EQ(opened->damage, (std::vector<ContainerDamage>{{"3", IncompleteReason::kDamaged}}));
  EXPECT_FALSE(opened->BootRecordOnly());
  std::vector<std::pair<uint32_t, std::string>> seen;
  const std::vector<uint8_t> volume_bytes = TinyFat12Volume();
  for (ContainerVolume& volume : opened->volumes) {
    seen.emplace_back(volume.partition_number, volume.letter);
    EXPECT_EQ(volume.boot_sector,
              std::vector<uint8_t>(volume_bytes.begin(), volume_bytes.begin() + 512));
    EXPECT_EQ(testing::WalkVolume(*volume.files).files.at("FILE.TXT"),
              testing::PatternBytes(300, 7));
  }
  EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, std::string>>{{1, "C:"}, {6, "D:"}, {5, ""}}));
}

// A FAT partition that starts past the image's end is damage of the table, told once, not
// again for the volume it cannot hold.
TEST(PartitionedImageTest, APartitionPastTheEndIsReportedOnce) {
  testing::PartitionedImageBuilder builder;
  builder.Primary(0x01, TinyFat12Volume()).Primary(0x06, TinyFat12Volume());
  std::vector<uint8_t> image = builder.Build();
  image[0x1BE + 16 + 8 + 3] = 0x40;  // slot 2 starts 512 GiB in
  std::optional<OpenedContainer> opened = testing::OpenImage(image);
  ASSERT_TRUE(opened.has_value());
  EXPECT_EQ(opened->damage, (std::vector<ContainerDamage>{{"2", IncompleteReason::kDamaged}}));
  EXPECT_EQ(opened->volumes.size(), 1u);
}

}  // namespace
}  // namespace quarn

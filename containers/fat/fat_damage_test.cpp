// Hostile volumes built by the image writer and then damaged: each must still list and
// read what is sound, report each damaged path once, and end.
#include <gtest/gtest.h>

#include <functional>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"

namespace quarn {
namespace {

using testing::FatImageWriter;
using testing::PatternBytes;

constexpr uint32_t kFloppyClusterBytes = 512;

struct DamageCase {
  std::string name;
  testing::FatLayout layout;
  std::function<void(FatImageWriter&)> fill;
  std::function<void(const FatImageWriter&, std::vector<uint8_t>&)> damage;
  std::set<std::string> damaged_paths;
  // Files whose bytes must read back whole; the rest of the walk may end early.
  std::map<std::string, std::vector<uint8_t>> intact;
  std::set<std::string> absent;
};

void PrintTo(const DamageCase& row, std::ostream* out) {
  *out << row.name;
}

void FillTwoFiles(FatImageWriter& writer) {
  writer.AddFile("A.BIN", PatternBytes(3 * kFloppyClusterBytes, 1))
      .AddFile("B.BIN", PatternBytes(3 * kFloppyClusterBytes, 2))
      .AddFolder("DOS/SUB")
      .AddFile("DOS/KEEP.TXT", PatternBytes(100, 3));
}

std::vector<DamageCase> DamageCases() {
  const testing::FatLayout floppy = testing::FloppyLayout(1440);
  const auto keep =
      std::map<std::string, std::vector<uint8_t>>{{"DOS/KEEP.TXT", PatternBytes(100, 3)}};
  std::vector<DamageCase> cases;
  cases.push_back({"chain_that_loops",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetFatEntry(image, w.Chain("A.BIN")[2], w.Chain("A.BIN")[0]);
                     w.SetEntrySize(image, "A.BIN", 40 * kFloppyClusterBytes);
                   },
                   {"A.BIN"},
                   keep,
                   {}});
  cases.push_back({"chains_that_cross",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetFatEntry(image, w.Chain("B.BIN")[0], w.Chain("A.BIN")[1]);
                   },
                   {"B.BIN"},
                   {{"A.BIN", PatternBytes(3 * kFloppyClusterBytes, 1)}},
                   {}});
  cases.push_back({"size_beyond_chain",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetEntrySize(image, "B.BIN", 9 * kFloppyClusterBytes);
                   },
                   {"B.BIN"},
                   keep,
                   {}});
  cases.push_back({"first_cluster_out_of_range",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetEntryCluster(image, "A.BIN", w.ClusterCount() + 7);
                   },
                   {"A.BIN"},
                   keep,
                   {}});
  cases.push_back({"free_link_inside_chain",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetFatEntry(image, w.Chain("A.BIN")[1], 0);
                   },
                   {"A.BIN"},
                   keep,
                   {}});
  cases.push_back({"folder_that_holds_itself",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetEntryCluster(image, "DOS/SUB", w.FirstCluster("DOS"));
                   },
                   {"DOS\\SUB"},
                   keep,
                   {"DOS/SUB/"}});
  cases.push_back({"folder_that_names_the_root",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetEntryCluster(image, "DOS/SUB", 0);
                   },
                   {"DOS\\SUB"},
                   keep,
                   {"DOS/SUB/"}});
  cases.push_back({"folder_named_by_two_entries",
                   floppy,
                   [](FatImageWriter& w) {
                     FillTwoFiles(w);
                     w.AddFolder("OTHER");
                   },
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetEntryCluster(image, "OTHER", w.FirstCluster("DOS"));
                   },
                   {"OTHER"},
                   keep,
                   {"OTHER/"}});
  cases.push_back({"image_cut_inside_the_data",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     image.resize(w.ClusterOffset(w.Chain("B.BIN")[1]));
                   },
                   {"", "B.BIN", "DOS\\KEEP.TXT"},
                   {{"A.BIN", PatternBytes(3 * kFloppyClusterBytes, 1)}},
                   {}});
  cases.push_back({"image_cut_inside_the_fat",
                   floppy,
                   FillTwoFiles,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     image.resize(w.FatOffset() + 3);
                   },
                   {""},
                   {},
                   {"A.BIN", "DOS/"}});
  testing::FatLayout fat32 = testing::HardDiskLayout(32, 67000, 1);
  // Forty entries fill the root's first cluster and go on in its second.
  auto fill_root = [](FatImageWriter& w) {
    for (int i = 0; i < 40; ++i) w.AddFile("F" + std::to_string(i) + ".TXT", PatternBytes(10, i));
  };
  cases.push_back({"fat32_root_chain_broken",
                   fat32,
                   fill_root,
                   [](const FatImageWriter& w, std::vector<uint8_t>& image) {
                     w.SetFatEntry(image, w.Chain("")[0], 1);
                   },
                   {""},
                   {{"F0.TXT", PatternBytes(10, 0)}},
                   {"F39.TXT"}});
  cases.push_back({"fat32_root_cluster_out_of_range",
                   fat32,
                   fill_root,
                   [](const FatImageWriter&, std::vector<uint8_t>& image) {
                     image[0x2C] = 0xFF;
                     image[0x2D] = 0xFF;
                     image[0x2E] = 0x00;
                     image[0x2F] = 0x0F;
                   },
                   {},
                   {},
                   {}});
  return cases;
}

class FatDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(FatDamageTest, SoundPartsReadAndDamageIsReportedOnce) {
  const DamageCase& row = GetParam();
  FatImageWriter writer(row.layout);
  row.fill(writer);
  std::vector<uint8_t> image = writer.Build();
  row.damage(writer, image);
  std::optional<OpenedContainer> opened = testing::OpenImage(image);
  if (row.damaged_paths.empty()) {
    // A parameter block that contradicts itself is no volume at all (its sector, marked, may
    // still be judged as a master boot record).
    EXPECT_TRUE(!opened || opened->volumes.empty());
    return;
  }
  ASSERT_TRUE(opened.has_value());
  ASSERT_EQ(opened->volumes.size(), 1u);
  const testing::WalkedVolume walked = testing::WalkVolume(*opened->volumes[0].files);
  std::multiset<std::string> reported;
  for (const ContainerDamage& damage : walked.damage) {
    EXPECT_EQ(damage.reason, IncompleteReason::kDamaged);
    reported.insert(damage.inner_path);
  }
  EXPECT_EQ(std::set<std::string>(reported.begin(), reported.end()), row.damaged_paths);
  EXPECT_EQ(reported.size(), row.damaged_paths.size()) << "each damage once";
  for (const auto& [path, bytes] : row.intact) {
    ASSERT_EQ(walked.files.count(path), 1u) << path;
    EXPECT_EQ(walked.files.at(path), bytes) << path;
  }
  for (const std::string& path : row.absent) {
    EXPECT_EQ(walked.files.count(path) + walked.folders.count(path), 0u) << path;
  }
  // A program that scans the drive again starts over and meets the same damage.
  opened->volumes[0].files->StartOver();
  const testing::WalkedVolume again = testing::WalkVolume(*opened->volumes[0].files);
  std::multiset<std::string> reported_again;
  for (const ContainerDamage& damage : again.damage) reported_again.insert(damage.inner_path);
  EXPECT_EQ(reported_again, reported);
  EXPECT_EQ(again.files, walked.files);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatDamageTest, ::testing::ValuesIn(DamageCases()),
                         [](const auto& info) { return info.param.name; });

// An image cut short by someone else after it was opened: what lies past the new end is
// damage, what lies before it still reads, and nothing is read from beyond the file.
TEST(FatDamageBoundsTest, ImageThatShrinksAfterOpeningReportsWhatItLost) {
  FatImageWriter writer(testing::FloppyLayout(1440));
  FillTwoFiles(writer);
  const std::vector<uint8_t> image = writer.Build();
  MemoryFileSystem files;
  ASSERT_TRUE(files.AddFile("/disk.img", image).ok());
  auto root = files.OpenFolder("/");
  ASSERT_TRUE(root.ok());
  auto reader = (*root)->OpenFile("disk.img", OpenMode::kRead);
  ASSERT_TRUE(reader.ok());
  std::optional<OpenedContainer> opened =
      DiskImageOpener().Open(std::shared_ptr<File>(std::move(*reader)));
  ASSERT_TRUE(opened.has_value());

  const uint64_t cut = writer.ClusterOffset(writer.Chain("B.BIN")[0]);
  auto cutter = (*root)->OpenFile("disk.img", OpenMode::kReadWrite);
  ASSERT_TRUE(cutter.ok());
  ASSERT_TRUE((*cutter)->Seek(static_cast<int64_t>(cut), SeekOrigin::kBegin).has_value());
  ASSERT_TRUE((*cutter)->SetEndOfFile());

  const testing::WalkedVolume walked = testing::WalkVolume(*opened->volumes[0].files);
  EXPECT_EQ(walked.files.at("A.BIN"), PatternBytes(3 * kFloppyClusterBytes, 1));
  EXPECT_TRUE(walked.files.at("B.BIN").empty());
  std::set<std::string> damaged;
  for (const ContainerDamage& damage : walked.damage) damaged.insert(damage.inner_path);
  EXPECT_EQ(damaged.count("B.BIN"), 1u);
}

TEST(FatDamageBoundsTest, FolderOf65536EntriesIsOrdinary) {
  FatImageWriter writer(testing::HardDiskLayout(16, 32768, 4));
  constexpr int kFiles = 65534;  // with "." and "..": 65,536 entries
  for (int i = 0; i < kFiles; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "BIG/F%05d.TXT", i);
    writer.AddFile(name, {});
  }
  std::optional<OpenedContainer> opened = testing::OpenImage(writer.Build());
  ASSERT_TRUE(opened.has_value());
  auto folder = opened->volumes[0].files->OpenFolder("/BIG");
  ASSERT_TRUE(folder.ok()) << folder.message();
  auto listed = (*folder)->List();
  ASSERT_TRUE(listed.ok());
  EXPECT_EQ(listed->size(), static_cast<size_t>(kFiles));
  EXPECT_TRUE(opened->volumes[0].files->TakeDamage().empty());
  auto last = (*folder)->OpenListedFile("F65533.TXT");
  EXPECT_TRUE(last.ok()) << last.message();
}

}  // namespace
}  // namespace quarn

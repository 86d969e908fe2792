// The write side against the tools: each kind of volume gets a cleaner's cut, a delete and
// renames through the platform interfaces, then fsck.fat must find no error, mtools must
// read back the expected names and bytes, and no removed byte may be left in the image.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <unordered_set>

#include "containers/fat/fat_file_system.h"
#include "containers/fat/fat_geometry.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/memory_block_device_test_support.h"
#include "platform/posix_folder.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::AlignedPieces;
using testing::FatImageWriter;
using testing::PatternBytes;
using testing::PiecesFound;
using testing::RunIn;
using testing::WitnessFolder;

struct WriteCase {
  std::string name;
  testing::FatLayout layout;
  bool fragment = false;
  bool partitioned = false;
  // The folder the files lie in: "" for the root.
  std::string folder;
};

void PrintTo(const WriteCase& row, std::ostream* out) {
  *out << row.name;
}

std::vector<WriteCase> WriteCases() {
  return {
      {"floppy_1440", testing::FloppyLayout(1440), false, false, ""},
      {"dmf_1680", testing::FloppyLayout(1680), false, false, ""},
      {"fat16", testing::HardDiskLayout(16, 8400, 1), false, false, "DOS"},
      {"fat32", testing::HardDiskLayout(32, 67000, 1), false, false, ""},
      {"fat32_subfolder", testing::HardDiskLayout(32, 67000, 1), false, false, "DOS/UTIL"},
      {"partition_of_mbr_image", testing::HardDiskLayout(16, 32768, 4), false, true, "DOS"},
      {"fragmented", testing::FloppyLayout(1440), true, false, ""},
  };
}

// The files every case starts with, in its folder.
struct Files {
  uint32_t cluster_bytes;
  std::vector<uint8_t> victim;
  std::vector<uint8_t> doomed;
  std::vector<uint8_t> other;
};

Files FilesFor(const testing::FatLayout& layout) {
  const uint32_t cluster_bytes = layout.bytes_per_sector * layout.sectors_per_cluster;
  return {cluster_bytes, PatternBytes(5 * cluster_bytes + 300, 21),
          PatternBytes(3 * cluster_bytes + 77, 23), PatternBytes(900, 25)};
}

std::string In(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

// The image and where its volume starts.
std::pair<std::vector<uint8_t>, uint64_t> BuildImage(const WriteCase& row, const Files& files) {
  FatImageWriter writer(row.layout);
  const std::string& at = row.folder;
  writer.AddFile(In(at, "VICTIM.COM"), files.victim)
      .AddFile(In(at, "DELETE.ME"), files.doomed)
      .AddFile(In(at, "SHORT.COM"), files.other)
      .AddFile(In(at, "TOLONG.COM"), files.other)
      .AddFile(In(at, "Long File Name.exe"), files.other)
      .AddFile(In(at, "TAKEN.TXT"), files.other)
      .AddFile(In(at, "Another taken name.txt"), files.other);
  if (row.fragment) writer.Fragment();
  std::vector<uint8_t> volume = writer.Build();
  if (!row.partitioned) return {volume, 0};
  // The builder puts the first primary partition on the first track.
  return {testing::PartitionedImageBuilder().Primary(0x06, volume).Build(), 63 * 512};
}

// The cleaner's steps on a file: a few bytes rewritten near the start, the tail cut.
constexpr uint64_t kPatchAt = 10;
constexpr uint64_t kCutAt = 1000;

std::vector<uint8_t> Patch() {
  return PatternBytes(16, 22);
}

// Returns the file's modification time before the change.
FileTime Clean(Folder& folder) {
  auto file = folder.OpenFile("VICTIM.COM", OpenMode::kReadWrite);
  EXPECT_TRUE(file.ok()) << file.message();
  if (!file.ok()) return 0;
  const FileTimes before = *(*file)->GetTimes();
  const std::vector<uint8_t> patch = Patch();
  EXPECT_EQ((*file)->Seek(kPatchAt, SeekOrigin::kBegin), kPatchAt);
  EXPECT_EQ((*file)->Write(patch.data(), static_cast<uint32_t>(patch.size())), patch.size());
  EXPECT_EQ((*file)->Seek(kCutAt, SeekOrigin::kBegin), kCutAt);
  EXPECT_TRUE((*file)->SetEndOfFile());
  EXPECT_EQ((*file)->Size(), kCutAt);
  EXPECT_TRUE((*file)->Flush());
  return before.last_write;
}

// Past the end with a gap, so the file takes new clusters and reads zeros in between.
constexpr uint64_t kGrowGap = 100;

std::vector<uint8_t> Growth(uint32_t cluster_bytes) {
  return PatternBytes(3 * cluster_bytes, 24);
}

void Grow(Folder& folder, uint32_t cluster_bytes) {
  auto file = folder.OpenFile("TAKEN.TXT", OpenMode::kReadWrite);
  ASSERT_TRUE(file.ok()) << file.message();
  const std::vector<uint8_t> growth = Growth(cluster_bytes);
  ASSERT_TRUE((*file)->Seek(static_cast<int64_t>(kGrowGap), SeekOrigin::kEnd).has_value());
  ASSERT_EQ((*file)->Write(growth.data(), static_cast<uint32_t>(growth.size())), growth.size());
}

struct RenameStep {
  std::string from;
  std::string to;
  bool done;
};

const std::vector<RenameStep> kRenames = {
    {"SHORT.COM", "TAKEN.TXT", false},
    {"SHORT.COM", "taken.txt", false},
    {"SHORT.COM", "another TAKEN name.TXT", false},
    {"SHORT.COM", "bad:name", false},
    {"SHORT.COM", "RENAMED.COM", true},
    {"TOLONG.COM", "A much longer name than before.com", true},
    {"Long File Name.exe", "SHORTER.EXE", true},
};

class FatWriteTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(FatWriteTest, CutDeleteAndRenameLeaveAVolumeTheToolsAccept) {
  const WriteCase& row = GetParam();
  const Files files = FilesFor(row.layout);
  auto [image, volume_offset] = BuildImage(row, files);
  WitnessFolder witness;
  ASSERT_FALSE(witness.path().empty());
  FileTime victim_time = 0;
  witness.Write("disk.img", image);
  witness.Write("mtoolsrc", {});
  {
    auto host = OpenPosixFileSystem()->OpenFolder(witness.path());
    ASSERT_TRUE(host.ok()) << host.message();
    auto file = (*host)->OpenFile("disk.img", OpenMode::kReadWrite);
    ASSERT_TRUE(file.ok()) << file.message();
    std::optional<OpenedContainer> opened =
        DiskImageOpener(DiskImageAccess::kReadWrite).Open(std::shared_ptr<File>(std::move(*file)));
    ASSERT_TRUE(opened.has_value());
    ASSERT_EQ(opened->volumes.size(), 1u);
    ContainerFileSystem& volume = *opened->volumes[0].files;
    auto folder = volume.OpenFolder("/" + row.folder);
    ASSERT_TRUE(folder.ok()) << folder.message();

    for (const RenameStep& step : kRenames) {
      const Status renamed = (*folder)->Rename(step.from, step.to, RenameMode::kNoReplace);
      EXPECT_EQ(renamed.ok(), step.done)
          << step.from << " -> " << step.to << ": " << renamed.message();
      if (!renamed.ok()) {
        EXPECT_NE(renamed.message().find(step.from), std::string::npos) << renamed.message();
      }
    }
    victim_time = Clean(**folder);
    Grow(**folder, files.cluster_bytes);
    ASSERT_TRUE((*folder)->Delete("DELETE.ME").ok());
    ASSERT_TRUE((*folder)->Delete("another taken NAME.txt").ok());
    EXPECT_FALSE((*folder)->Examine("DELETE.ME")->has_value());
    EXPECT_TRUE(volume.TakeDamage().empty());
  }

  const std::vector<uint8_t> changed = witness.Read("disk.img");
  ASSERT_EQ(changed.size(), image.size());
  witness.Write(
      "volume.img",
      std::vector<uint8_t>(changed.begin() + static_cast<ptrdiff_t>(volume_offset), changed.end()));
  const testing::ToolRun fsck = RunIn(witness.path(), "fsck.fat -n volume.img");
  EXPECT_EQ(fsck.status, 0) << fsck.output;

  const testing::ToolRun listing =
      RunIn(witness.path(), "mdir -b -i volume.img " + testing::Quoted("::/" + row.folder));
  ASSERT_EQ(listing.status, 0) << listing.output;
  std::set<std::string> names;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);) {
    names.insert(line.substr(line.rfind('/') + 1));
  }
  EXPECT_EQ(names, (std::set<std::string>{"VICTIM.COM", "RENAMED.COM",
                                          "A much longer name than before.com", "SHORTER.EXE",
                                          "TAKEN.TXT"}))
      << listing.output;

  std::vector<uint8_t> expected(files.victim.begin(), files.victim.begin() + kCutAt);
  const std::vector<uint8_t> patch = Patch();
  std::copy(patch.begin(), patch.end(), expected.begin() + kPatchAt);
  const testing::ToolRun copy =
      RunIn(witness.path(), "mcopy -n -i volume.img " +
                                testing::Quoted("::/" + In(row.folder, "VICTIM.COM")) + " -");
  EXPECT_EQ(std::vector<uint8_t>(copy.output.begin(), copy.output.end()), expected);
  for (const std::string renamed :
       {"RENAMED.COM", "A much longer name than before.com", "SHORTER.EXE"}) {
    const testing::ToolRun read =
        RunIn(witness.path(),
              "mcopy -n -i volume.img " + testing::Quoted("::/" + In(row.folder, renamed)) + " -");
    EXPECT_EQ(std::vector<uint8_t>(read.output.begin(), read.output.end()), files.other) << renamed;
  }

  std::vector<uint8_t> grown = files.other;
  grown.resize(grown.size() + kGrowGap, 0);
  const std::vector<uint8_t> growth = Growth(files.cluster_bytes);
  grown.insert(grown.end(), growth.begin(), growth.end());
  const testing::ToolRun grown_copy =
      RunIn(witness.path(), "mcopy -n -i volume.img " +
                                testing::Quoted("::/" + In(row.folder, "TAKEN.TXT")) + " -");
  EXPECT_EQ(std::vector<uint8_t>(grown_copy.output.begin(), grown_copy.output.end()), grown);

  // This program's own reader, on the image opened afresh, agrees and sees no damage.
  std::optional<OpenedContainer> reread = testing::OpenImage(changed);
  ASSERT_TRUE(reread.has_value());
  const testing::WalkedVolume walked = testing::WalkVolume(*reread->volumes.at(0).files);
  EXPECT_TRUE(walked.damage.empty());
  const std::map<std::string, std::vector<uint8_t>> seen = {
      {In(row.folder, "VICTIM.COM"), expected},
      {In(row.folder, "TAKEN.TXT"), grown},
      {In(row.folder, "RENAMED.COM"), files.other},
      {In(row.folder, "A much longer name than before.com"), files.other},
      {In(row.folder, "SHORTER.EXE"), files.other},
  };
  EXPECT_TRUE(walked.files == seen);
  auto victim = (*reread->volumes.at(0).files->OpenFolder("/" + row.folder))
                    ->OpenFile("VICTIM.COM", OpenMode::kRead);
  ASSERT_TRUE(victim.ok());
  EXPECT_EQ((*victim)->GetTimes()->last_write, victim_time) << "the entry's time moved";

  EXPECT_EQ(PiecesFound(changed, AlignedPieces(files.victim, kCutAt)), 0u)
      << "the cut tail is left";
  EXPECT_EQ(PiecesFound(changed, AlignedPieces(files.doomed, 0)), 0u) << "the deleted file is left";
  // The search itself finds what is there.
  EXPECT_GT(PiecesFound(changed, AlignedPieces(expected, 32)), 0u);
}

// A reader may trust the FSInfo counts: once a change moves clusters they are unknown.
TEST(FatWriteFsInfoTest, AChangeMarksTheFreeCountAndHintUnknown) {
  FatImageWriter writer(testing::HardDiskLayout(32, 67000, 1));
  writer.AddFile("A.COM", PatternBytes(3000, 51));
  std::vector<uint8_t> image = writer.Build();
  constexpr size_t kFsInfo = 512;
  const uint8_t stale[8] = {0x39, 0x30, 0, 0, 3, 0, 0, 0};
  std::copy(std::begin(stale), std::end(stale), image.begin() + kFsInfo + 488);
  auto device = std::make_shared<testing::MemoryBlockDevice>(image);
  FatFileSystem volume(device, *RecognizeFat(*device));
  auto root = volume.OpenFolder("/");
  auto file = (*root)->OpenFile("A.COM", OpenMode::kReadWrite);
  ASSERT_TRUE(file.ok()) << file.message();
  // Bytes rewritten in place move no cluster: the counts stay.
  const uint8_t patch[2] = {0xEB, 0xFE};
  ASSERT_EQ((*file)->Write(patch, 2), 2u);
  EXPECT_TRUE(
      std::equal(std::begin(stale), std::end(stale), device->bytes().begin() + kFsInfo + 488));
  (*file)->Seek(100, SeekOrigin::kBegin);
  ASSERT_TRUE((*file)->SetEndOfFile());
  EXPECT_EQ(std::vector<uint8_t>(device->bytes().begin() + kFsInfo + 488,
                                 device->bytes().begin() + kFsInfo + 496),
            std::vector<uint8_t>(8, 0xFF));
}

// An entry tells the truth at both ends: a file cut to nothing points at no cluster (the freed
// one may go to another file), and a size past 64 KiB is written whole.
TEST(FatWriteEntryTest, AnEntryHoldsNoClusterAtNothingAndItsWholeSizePast64KiB) {
  FatImageWriter writer(testing::HardDiskLayout(16, 8400, 1));
  writer.AddFile("EMPTIED.COM", PatternBytes(3000, 52)).AddFile("GROWN.COM", PatternBytes(100, 53));
  auto device = std::make_shared<testing::MemoryBlockDevice>(writer.Build());
  FatFileSystem volume(device, *RecognizeFat(*device));
  auto root = volume.OpenFolder("/");
  ASSERT_TRUE(root.ok()) << root.message();
  auto emptied = (*root)->OpenFile("EMPTIED.COM", OpenMode::kReadWrite);
  ASSERT_TRUE(emptied.ok()) << emptied.message();
  ASSERT_TRUE((*emptied)->SetEndOfFile());
  auto grown = (*root)->OpenFile("GROWN.COM", OpenMode::kReadWrite);
  ASSERT_TRUE(grown.ok()) << grown.message();
  const uint8_t tail[2] = {0xCD, 0x20};
  ASSERT_TRUE((*grown)->Seek(0x10000, SeekOrigin::kBegin).has_value());
  ASSERT_EQ((*grown)->Write(tail, 2), 2u);
  WitnessFolder witness;
  ASSERT_FALSE(witness.path().empty());
  witness.Write("volume.img", device->bytes());
  witness.Write("mtoolsrc", {});
  const testing::ToolRun fsck = RunIn(witness.path(), "fsck.fat -n volume.img");
  EXPECT_EQ(fsck.status, 0) << fsck.output;
  EXPECT_EQ(RunIn(witness.path(), "mcopy -n -i volume.img ::/GROWN.COM - | wc -c").output,
            "65538\n");
}

INSTANTIATE_TEST_SUITE_P(Volumes, FatWriteTest, ::testing::ValuesIn(WriteCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quarn

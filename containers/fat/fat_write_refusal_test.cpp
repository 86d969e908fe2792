// What the write side refuses, and what it leaves when the device fails under it: a
// refusal names the path and leaves every byte of the image as it was; a write or flush
// that fails is reported, never ignored, whichever write it is.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/fat/fat_file_system.h"
#include "containers/fat/fat_geometry.h"
#include "containers/test_support/memory_block_device_test_support.h"
#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::FatImageWriter;
using testing::MemoryBlockDevice;
using testing::PatternBytes;

struct RefusalImage {
  FatImageWriter writer{testing::FloppyLayout(1440)};
  std::vector<uint8_t> image;
};

RefusalImage BuildRefusalImage() {
  RefusalImage floppy;
  floppy.writer.AddFile("A.COM", PatternBytes(3000, 31))
      .AddFile("B.COM", PatternBytes(2000, 32))
      .AddFile("KEEP.TXT", PatternBytes(700, 33))
      .AddFile("Long name.txt", PatternBytes(100, 34));
  floppy.image = floppy.writer.Build();
  return floppy;
}

std::unique_ptr<FatFileSystem> OpenVolume(const std::shared_ptr<MemoryBlockDevice>& device) {
  std::optional<FatGeometry> geometry = RecognizeFat(*device);
  EXPECT_TRUE(geometry.has_value());
  if (!geometry) return nullptr;
  return std::make_unique<FatFileSystem>(device, *geometry);
}

// Each change the write side offers, on `name`; the status of the attempt.
Status Attempt(Folder& folder, const std::string& action, const std::string& name) {
  if (action == "delete") return folder.Delete(name);
  if (action == "rename") return folder.Rename(name, "NEW.COM", RenameMode::kNoReplace);
  return folder.OpenFile(name, OpenMode::kReadWrite).status();
}

struct RefusalCase {
  std::string name;
  bool writable;
  std::function<void(const FatImageWriter&, std::vector<uint8_t>&)> damage;
  bool walk_first;
  std::string target;
  std::string cause;
};

TEST(FatWriteRefusalTest, RefusalsNameThePathAndLeaveTheImageAsItWas) {
  const RefusalCase cases[] = {
      {"read_only_device", false, nullptr, false, "KEEP.TXT", "read only"},
      {"fat_copies_differ", true,
       [](const FatImageWriter& w, std::vector<uint8_t>& image) {
         // An entry of a free cluster near the end, in the second copy only.
         image[w.FatOffset() + 2 * 9 * 512 - 10] ^= 0x01;
       },
       false, "KEEP.TXT", "FAT differ"},
      {"chain_runs_into_another", true,
       [](const FatImageWriter& w, std::vector<uint8_t>& image) {
         w.SetFatEntry(image, w.Chain("B.COM").back(), w.Chain("A.COM")[1]);
       },
       false, "A.COM", "cross-linked"},
      {"another_entry_starts_inside_the_chain", true,
       [](const FatImageWriter& w, std::vector<uint8_t>& image) {
         w.SetEntryCluster(image, "B.COM", w.Chain("A.COM")[2]);
       },
       false, "A.COM", "cross-linked"},
      {"chain_shorter_than_its_size", true,
       [](const FatImageWriter& w, std::vector<uint8_t>& image) {
         w.SetEntrySize(image, "A.COM", 9000);
       },
       false, "A.COM", "does not fit its size"},
      {"damage_seen_by_a_walk", true,
       [](const FatImageWriter& w, std::vector<uint8_t>& image) {
         w.SetFatEntry(image, w.Chain("B.COM")[1], w.Chain("B.COM")[0]);
       },
       true, "KEEP.TXT", "damage was seen"},
  };
  for (const RefusalCase& row : cases) {
    for (const std::string action : {"delete", "rename", "open"}) {
      SCOPED_TRACE(row.name + " " + action);
      RefusalImage floppy = BuildRefusalImage();
      if (row.damage) row.damage(floppy.writer, floppy.image);
      auto device = std::make_shared<MemoryBlockDevice>(floppy.image, row.writable);
      std::unique_ptr<FatFileSystem> volume = OpenVolume(device);
      ASSERT_NE(volume, nullptr);
      if (row.walk_first) {
        EXPECT_FALSE(testing::WalkVolume(*volume).damage.empty());
      }
      auto root = volume->OpenFolder("/");
      ASSERT_TRUE(root.ok());
      const Status status = Attempt(**root, action, row.target);
      EXPECT_FALSE(status.ok());
      EXPECT_NE(status.message().find("/" + row.target), std::string::npos) << status.message();
      EXPECT_NE(status.message().find(row.cause), std::string::npos) << status.message();
      EXPECT_EQ(device->writes(), 0u);
      EXPECT_TRUE(device->bytes() == floppy.image);
    }
  }
}

// The builder numbers aliases across the volume: "Long name.txt" is LONGNA~4.TXT.
TEST(FatWriteRefusalTest, ARenameNeverTakesAnotherEntrysNameOrABarredOne) {
  const std::pair<std::string, std::string> refused[] = {
      {"keep.txt", "exists already"},
      {"LONG NAME.TXT", "exists already"},
      {"longna~4.txt", "exists already"},
      {"a?b", "cannot hold"},
      {"trailing.", "cannot end"},
      {"", "not a file name"},
      {std::string(256, 'x'), "longer than"},
      {"bad\xFFutf8", "not valid UTF-8"},
  };
  for (const auto& [to, cause] : refused) {
    SCOPED_TRACE(to);
    RefusalImage floppy = BuildRefusalImage();
    auto device = std::make_shared<MemoryBlockDevice>(floppy.image);
    std::unique_ptr<FatFileSystem> volume = OpenVolume(device);
    auto root = volume->OpenFolder("/");
    const Status status = (*root)->Rename("A.COM", to, RenameMode::kNoReplace);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find(cause), std::string::npos) << status.message();
    EXPECT_TRUE(device->bytes() == floppy.image);
  }
}

TEST(FatWriteRefusalTest, AFullFixedRootRefusesALongerName) {
  testing::FatLayout layout = testing::FloppyLayout(1440);
  layout.root_entries = 16;
  FatImageWriter writer(layout);
  for (int i = 0; i < 16; ++i) writer.AddFile("F" + std::to_string(i) + ".TXT", {1, 2, 3});
  const std::vector<uint8_t> image = writer.Build();
  auto device = std::make_shared<MemoryBlockDevice>(image);
  std::unique_ptr<FatFileSystem> volume = OpenVolume(device);
  auto root = volume->OpenFolder("/");
  const Status longer = (*root)->Rename("F3.TXT", "A longer name.txt", RenameMode::kNoReplace);
  EXPECT_NE(longer.message().find("root folder is full"), std::string::npos) << longer.message();
  EXPECT_TRUE(device->bytes() == image);
  // A name that fits the entry it has needs no room.
  EXPECT_TRUE((*root)->Rename("F3.TXT", "G3.TXT", RenameMode::kNoReplace).ok());
  EXPECT_TRUE((*root)->Examine("G3.TXT")->has_value());
  EXPECT_FALSE((*root)->Examine("F3.TXT")->has_value());
}

// Every write a change makes, failed in turn: the change reports the failure, and what the
// volume holds then is counted against fsck.fat. The image's working copy, not this code,
// gives all or nothing; this shows a failure never passes unnoticed or crashes.
TEST(FatWriteRefusalTest, AChangeCutShortAtAnyWriteReportsTheFailure) {
  struct Change {
    std::string name;
    std::function<bool(Folder&)> run;
  };
  const Change changes[] = {
      {"cut",
       [](Folder& folder) {
         auto file = folder.OpenFile("A.COM", OpenMode::kReadWrite);
         if (!file.ok()) return false;
         const uint8_t patch[4] = {0xCD, 0x20, 0x90, 0x90};
         (*file)->Seek(2, SeekOrigin::kBegin);
         if ((*file)->Write(patch, sizeof patch) != sizeof patch) return false;
         (*file)->Seek(600, SeekOrigin::kBegin);
         return (*file)->SetEndOfFile() && (*file)->Flush();
       }},
      {"grow",
       [](Folder& folder) {
         auto file = folder.OpenFile("KEEP.TXT", OpenMode::kReadWrite);
         if (!file.ok()) return false;
         const std::vector<uint8_t> more = PatternBytes(1500, 35);
         (*file)->Seek(0, SeekOrigin::kEnd);
         return (*file)->Write(more.data(), static_cast<uint32_t>(more.size())) == more.size();
       }},
      {"delete", [](Folder& folder) { return folder.Delete("A.COM").ok(); }},
      {"rename_to_long",
       [](Folder& folder) {
         return folder.Rename("B.COM", "A name of three slots.com", RenameMode::kNoReplace).ok();
       }},
  };
  testing::WitnessFolder witness;
  ASSERT_FALSE(witness.path().empty());
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    int unclean = 0;
    uint64_t failing = 1;
    for (;; ++failing) {
      RefusalImage floppy = BuildRefusalImage();
      auto device = std::make_shared<MemoryBlockDevice>(floppy.image);
      device->FailWriteNumber(failing);
      std::unique_ptr<FatFileSystem> volume = OpenVolume(device);
      auto root = volume->OpenFolder("/");
      ASSERT_TRUE(root.ok());
      const bool done = change.run(**root);
      EXPECT_EQ(done, !device->failed()) << "write " << failing;
      witness.Write("volume.img", device->bytes());
      const testing::ToolRun fsck = testing::RunIn(witness.path(), "fsck.fat -n volume.img");
      if (done) {
        EXPECT_EQ(fsck.status, 0) << fsck.output;
        break;
      }
      if (fsck.status != 0) ++unclean;
      ASSERT_LT(failing, 1000u) << "the change never completes";
    }
    std::cout << change.name << ": " << failing - 1 << " writes; cut short at each, fsck.fat -n "
              << "found errors after " << unclean << std::endl;
  }
}

TEST(FatWriteRefusalTest, AFailedFlushIsReported) {
  RefusalImage floppy = BuildRefusalImage();
  auto device = std::make_shared<MemoryBlockDevice>(floppy.image);
  device->FailFlushNumber(1);
  std::unique_ptr<FatFileSystem> volume = OpenVolume(device);
  auto root = volume->OpenFolder("/");
  auto file = (*root)->OpenFile("KEEP.TXT", OpenMode::kReadWrite);
  ASSERT_TRUE(file.ok()) << file.message();
  EXPECT_FALSE((*file)->Flush());
}

}  // namespace
}  // namespace quarn

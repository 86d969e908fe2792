// Which letters the volumes of a run's disk images take, and where detected mounts go when
// an image wants their letter.
#include "shell/image_drives.h"

#include <gtest/gtest.h>

#include <fstream>

#include "containers/disks/disk_image_opener.h"
#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

std::string LettersOf(const DriveMap& drives) {
  std::string letters;
  for (const Drive& drive : drives.drives()) {
    letters += std::string(1, drive.letter) + (drive.HasFiles() ? "=" + drive.folder : "") + " ";
  }
  return letters;
}

std::string ImageLettersOf(const ImageDrives& images) {
  std::string letters;
  for (const ImageDrive& drive : images.drives()) letters += drive.letter;
  return letters;
}

class ImageDrivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    std::vector<uint8_t> volume = testing::FatImageWriter(testing::HardDiskLayout(16, 8400, 1))
                                      .AddFile("A.TXT", {1, 2, 3})
                                      .Build();
    Write(hard_disk_,
          testing::PartitionedImageBuilder().Primary(0x06, volume).Logical(0x06, volume).Build());
    Write(floppy_, testing::FatImageWriter(testing::FloppyLayout(1440)).Build());
  }

  static void Write(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  static DriveMap Detected(std::initializer_list<std::pair<char, const char*>> drives) {
    DriveMap map;
    for (const auto& [letter, folder] : drives) EXPECT_TRUE(map.Add({letter, folder}).ok());
    return map;
  }

  ScratchFolder scratch_;
  std::string hard_disk_ = scratch_.Child("hd.img");
  std::string floppy_ = scratch_.Child("floppy.img");
  DiskImageOpener opener_;
};

TEST_F(ImageDrivesTest, DetectedMountsMoveAfterTheImagesOnlyWhenOneWantsTheirLetter) {
  struct Case {
    std::vector<DiskMapping> disks;
    std::string letters;                  // the map after, "=FOLDER" for a folder
    std::string image_letters;            // the drives made of images
    std::vector<std::string> named = {};  // the run's targets
  };
  const std::vector<Case> cases = {
      // The partitions take C: and D:; the mounts follow in their order.
      {{{0x80, hard_disk_, std::nullopt}}, "C D E=/ F=/home ", "CD"},
      // A floppy takes A: and wants no mount's letter: the mounts stay.
      {{{0, floppy_, std::nullopt}}, "A C=/ D=/home ", "A"},
      {{{0, floppy_, std::nullopt}, {0x80, hard_disk_, std::nullopt}}, "A C D E=/ F=/home ", "ACD"},
      // A letter the run names beside a hard disk image is the image's, volume or not: a
      // scan meant for it never reaches a mount of the machine.
      {{{0x80, hard_disk_, std::nullopt}}, "C D E F=/ G=/home ", "CD", {"c:", "e:\\DOS", "D:"}},
      {{{0, floppy_, std::nullopt}}, "A C=/ D=/home ", "A", {"D:"}},
  };
  for (const Case& row : cases) {
    DriveMap drives = Detected({{'C', "/"}, {'D', "/home"}});
    ImageDrives images;
    EXPECT_TRUE(images
                    .Open(row.disks, opener_, /*drives_detected=*/true, &drives,
                          DriveLettersNamed(row.named))
                    .empty());
    EXPECT_EQ(LettersOf(drives), row.letters);
    EXPECT_EQ(ImageLettersOf(images), row.image_letters);
  }
}

}  // namespace
}  // namespace quarn

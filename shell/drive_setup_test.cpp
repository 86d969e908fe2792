#include "shell/drive_setup.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(DriveSetup, FloppiesWithoutAFolderBecomeDrivesWithoutFiles) {
  DriveMap drives;
  ASSERT_TRUE(drives.Add(Drive{'B', "/media/b", DriveType::kRemovable}));
  ASSERT_TRUE(drives.Add(Drive{'C', "/", DriveType::kFixed}));
  AddFloppiesWithoutFiles(
      {DiskMapping{0, "a.img", {}}, DiskMapping{1, "b.img", {}}, DiskMapping{0x80, "hd.img", {}}},
      &drives);
  ASSERT_EQ(drives.drives().size(), 3u) << "the hard disk adds no letter";
  EXPECT_EQ(drives.drives()[0], (Drive{'A', "", DriveType::kRemovable}));
  EXPECT_EQ(drives.Find('B')->folder, "/media/b") << "a mapped letter keeps its folder";
}

TEST(DriveSetup, BootTargetsAreTheDrivesOfRootsShownWithALetter) {
  DriveMap drives;
  ASSERT_TRUE(drives.Add(Drive{'A', "/floppy", DriveType::kRemovable}));
  ASSERT_TRUE(drives.Add(Drive{'E', "/cd", DriveType::kCdRom}));
  const BootTargetLookup lookup = BootTargetsOf(drives);
  auto target = [&](const std::string& shown) {
    ScanRoot root;
    root.display_path = shown;
    root.host_path = "/x";
    return lookup(root);
  };
  ASSERT_TRUE(target("e:\\DOS").has_value());
  EXPECT_EQ(target("e:\\DOS")->letter, 'E');
  EXPECT_EQ(target("e:\\DOS")->type, DriveType::kCdRom);
  EXPECT_EQ(target("A:")->type, DriveType::kRemovable);
  EXPECT_FALSE(target("C:").has_value()) << "an unmapped letter";
  EXPECT_FALSE(target("/srv/files").has_value());
  EXPECT_FALSE(target("A").has_value());
}

}  // namespace
}  // namespace quarn

namespace quarn {
namespace {

TEST(DriveSetup, TheHeaderIconFollowsTheDriveType) {
  const Drive floppy{'A', "/a", DriveType::kRemovable};
  const Drive cd{'E', "/e", DriveType::kCdRom};
  const Drive remote{'N', "/n", DriveType::kRemote};
  const Drive ram{'R', "/r", DriveType::kRamDisk};
  EXPECT_EQ(DriveIcon(&floppy), ResultIcon::kFloppy);
  EXPECT_EQ(DriveIcon(&cd), ResultIcon::kCdRom);
  EXPECT_EQ(DriveIcon(&remote), ResultIcon::kNetwork);
  EXPECT_EQ(DriveIcon(&ram), ResultIcon::kHardDisk);
  EXPECT_EQ(DriveIcon(nullptr), ResultIcon::kHardDisk);
}

}  // namespace
}  // namespace quarn

#include "platform/mount_table.h"

#include <algorithm>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

TEST(MountInfo, ReadsDeviceRootPointTypeAndSourceAroundOptionalFields) {
  std::vector<MountEntry> entries = ParseMountInfo(
      "26 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
      "40 26 8:17 /sub /mnt/usb rw - vfat /dev/sdb1 rw\n"
      "41 26 0:50 / /mnt/net rw - nfs4 server:/export rw,vers=4.2\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (MountEntry{254, 0, "/", "/", "ext4", "/dev/vda"}));
  EXPECT_EQ(entries[1], (MountEntry{8, 17, "/sub", "/mnt/usb", "vfat", "/dev/sdb1"}));
  EXPECT_EQ(entries[2], (MountEntry{0, 50, "/", "/mnt/net", "nfs4", "server:/export"}));
}

TEST(MountInfo, DecodesOctalEscapesInPaths) {
  std::vector<MountEntry> entries = ParseMountInfo(
      "50 26 8:33 /a\\134b /media/ann/MY\\040STICK\\011x rw - exfat /dev/my\\040disk rw\n"
      "50 26 8:33 / /m\\x\\49\\400\\12 rw - ext4 src rw\n");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].mount_point, "/m\\x\\49\\400\\12") << "backslashes that are no escape";
  EXPECT_EQ(entries[0].root, "/a\\b");
  EXPECT_EQ(entries[0].mount_point, "/media/ann/MY STICK\tx");
  EXPECT_EQ(entries[0].source, "/dev/my disk");
}

TEST(MountInfo, SkipsLinesWithoutTheShapeAndKeepsTheRest) {
  std::vector<MountEntry> entries = ParseMountInfo(
      "\n"
      "garbage\n"
      "1 2 3:4 / /no-separator rw ext4 src rw\n"
      "1 2 3:4 / /no-source rw - ext4\n"
      "x 2 3:4 / /bad-id rw - ext4 src rw\n"
      "1 2 34 / /bad-device rw - ext4 src rw\n"
      "1 2 3:-4 / /negative rw - ext4 src rw\n"
      "1 2 99999999999:4 / /too-big rw - ext4 src rw\n"
      "1 2 3:4 / /kept rw - ext4 src\n"
      "1 2 3:4 / /last-without-newline rw - xfs src rw");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].mount_point, "/kept");
  EXPECT_EQ(entries[1].mount_point, "/last-without-newline");
  EXPECT_EQ(entries[1].fs_type, "xfs");
}

TEST(MountInfo, ReadsAMountTableFileAndReportsAMissingOne) {
  ScratchFolder scratch;
  const std::string path = scratch.path() + "/mountinfo";
  std::ofstream(path) << "26 1 254:0 / / rw - ext4 /dev/vda rw\n";
  Result<std::string> text = ReadMountInfoText(path);
  ASSERT_TRUE(text.ok()) << text.message();
  EXPECT_EQ(*text, "26 1 254:0 / / rw - ext4 /dev/vda rw\n");

  Result<std::string> missing = ReadMountInfoText(scratch.path() + "/absent");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("absent"), std::string::npos) << missing.message();
}

TEST(MountInfo, ReadsOnlyWholeLinesUpToTheLimit) {
  ScratchFolder scratch;
  const std::string path = scratch.path() + "/mountinfo";
  const std::string line = "26 1 254:0 / / rw - ext4 /dev/vda rw\n";
  {
    std::ofstream file(path);
    for (size_t written = 0; written <= kMaxMountInfoBytes; written += line.size()) file << line;
  }
  Result<std::string> text = ReadMountInfoText(path);
  ASSERT_TRUE(text.ok()) << text.message();
  EXPECT_LE(text->size(), kMaxMountInfoBytes);
  EXPECT_GT(text->size(), kMaxMountInfoBytes - line.size());
  EXPECT_EQ(text->size() % line.size(), 0u);
}

}  // namespace
}  // namespace quarn

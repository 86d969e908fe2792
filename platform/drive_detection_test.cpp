#include "platform/drive_detection.h"

#include <set>
#include <string>
#include <utility>

#include <gtest/gtest.h>

namespace quarn {
namespace {

// Builds mountinfo text line by line, in mount order.
class MountTableBuilder {
 public:
  MountTableBuilder& Mount(const std::string& point, const std::string& type,
                           const std::string& device = "0:40", const std::string& source = "src") {
    text_ += std::to_string(next_id_++) + " 1 " + device + " / " + point + " rw shared:7 - " +
             type + " " + source + " rw\n";
    return *this;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int next_id_ = 20;
};

class DriveDetectionTest : public testing::Test {
 protected:
  DriveMap Detect(const MountTableBuilder& table) {
    return DrivesFromMounts(ParseMountInfo(table.text()), probes_);
  }
  void SetUp() override {
    probes_.is_removable = [this](unsigned major, unsigned minor) {
      asked_removable_.insert({major, minor});
      return removable_.count({major, minor}) > 0;
    };
    probes_.is_folder = [this](const std::string& point) {
      asked_folder_.insert(point);
      return files_.count(point) == 0;
    };
  }
  static std::string Describe(const DriveMap& map) {
    std::string text;
    for (const Drive& drive : map.drives()) {
      text += std::string(1, drive.letter) + "=" + drive.folder + "," +
              std::string(DriveTypeName(drive.type)) + " ";
    }
    return text;
  }

  MountProbes probes_;
  std::set<std::pair<unsigned, unsigned>> removable_;
  std::set<std::string> files_;
  std::set<std::pair<unsigned, unsigned>> asked_removable_;
  std::set<std::string> asked_folder_;
};

TEST_F(DriveDetectionTest, TellsRemovableCdRomRemoteAndRamDisks) {
  removable_ = {{8, 16}};
  MountTableBuilder table;
  table.Mount("/", "ext4", "8:1")
      .Mount("/media/ann/MY\\040STICK", "vfat", "8:16")
      .Mount("/media/cdrom", "iso9660", "11:0")
      .Mount("/media/dvd", "udf", "11:1")
      .Mount("/net/home", "nfs", "0:60", "server:/home")
      .Mount("/net/share", "cifs", "0:61", "//server/share")
      .Mount("/mnt/ssh", "fuse.sshfs", "0:62", "ann@host:")
      .Mount("/mnt/ram", "tmpfs", "0:63", "tmpfs");
  EXPECT_EQ(Describe(Detect(table)),
            "C=/,fixed D=/media/ann/MY STICK,removable E=/media/cdrom,cdrom F=/media/dvd,cdrom "
            "G=/net/home,remote H=/net/share,remote I=/mnt/ssh,remote J=/mnt/ram,ramdisk ");
}

TEST_F(DriveDetectionTest, NeverAsksAboutNetworkMountsOrDevicesWithoutANumber) {
  MountTableBuilder table;
  table.Mount("/", "overlay", "0:50")
      .Mount("/net/home", "nfs4", "0:60")
      .Mount("/data", "btrfs", "0:61");
  EXPECT_EQ(Describe(Detect(table)), "C=/,fixed D=/net/home,remote E=/data,fixed ");
  EXPECT_TRUE(asked_removable_.empty());
  EXPECT_EQ(asked_folder_.count("/net/home"), 0u);
  EXPECT_EQ(asked_folder_.count("/data"), 1u);
}

// Whole folders are left out by what they are (/proc, /sys, /dev, /run, /tmp), but real file
// systems mounted below /run and /tmp are drives.
TEST_F(DriveDetectionTest, LeavesOutPseudoAndSystemFileSystems) {
  removable_ = {{8, 17}};
  MountTableBuilder table;
  table.Mount("/", "ext4", "8:1")
      .Mount("/proc", "proc")
      .Mount("/sys", "sysfs")
      .Mount("/sys/fs/cgroup", "cgroup2")
      .Mount("/dev", "devtmpfs")
      .Mount("/dev/shm", "tmpfs")
      .Mount("/dev/pts", "devpts")
      .Mount("/proc/kcore", "tmpfs")
      .Mount("/run", "tmpfs")
      .Mount("/run/user/1000", "tmpfs")
      .Mount("/run/user/1000/doc", "fuse.portal")
      .Mount("/tmp", "tmpfs")
      .Mount("/proc/sys/fs/binfmt_misc", "binfmt_misc")
      .Mount("/misc", "autofs")
      .Mount("/snap/core/1234", "squashfs", "7:0")
      .Mount("/var/lib/docker/overlay2/x/merged", "overlay")
      .Mount("/sys/kernel/debug", "ext4", "8:9")
      .Mount("/tmpfiles", "tmpfs")
      .Mount("/run/media/ann/STICK", "vfat", "8:17")
      .Mount("/tmp/disk", "ext4", "7:3");
  EXPECT_EQ(Describe(Detect(table)),
            "C=/,fixed D=/tmpfiles,ramdisk E=/run/media/ann/STICK,removable F=/tmp/disk,fixed ");
}

TEST_F(DriveDetectionTest, LeavesOutFilesMountedOverFiles) {
  files_ = {"/etc/hosts", "/etc/resolv.conf"};
  MountTableBuilder table;
  table.Mount("/", "overlay")
      .Mount("/etc/hosts", "ext4", "254:0")
      .Mount("/work", "ext4", "254:0")
      .Mount("/etc/resolv.conf", "ext4", "254:0");
  EXPECT_EQ(Describe(Detect(table)), "C=/,fixed D=/work,fixed ");
}

TEST_F(DriveDetectionTest, CountsOnlyTheLastMountOnAPoint) {
  removable_ = {{8, 16}};
  MountTableBuilder table;
  table.Mount("/", "tmpfs", "0:2")
      .Mount("/misc/usb", "autofs")
      .Mount("/mnt/a", "ext4", "8:2")
      .Mount("/", "ext4", "8:16")
      .Mount("/misc/usb", "vfat", "8:17")
      .Mount("/mnt/a", "proc");
  EXPECT_EQ(Describe(Detect(table)), "C=/,removable D=/misc/usb,fixed ");
}

TEST_F(DriveDetectionTest, TakesTheRootTypeFromItsFileSystemButAlwaysMakesItC) {
  for (auto [type, shown] :
       {std::pair{"squashfs", "fixed"}, std::pair{"overlay", "fixed"},
        std::pair{"tmpfs", "ramdisk"}, std::pair{"nfs", "remote"}, std::pair{"iso9660", "cdrom"}}) {
    MountTableBuilder table;
    table.Mount("/", type, "0:9");
    EXPECT_EQ(Describe(Detect(table)), std::string("C=/,") + shown + " ") << type;
  }
  EXPECT_EQ(Describe(DrivesFromMounts({}, probes_)), "C=/,fixed ");
}

TEST_F(DriveDetectionTest, StopsAtZ) {
  MountTableBuilder table;
  table.Mount("/", "ext4", "8:1");
  for (int i = 0; i < 30; ++i) table.Mount("/mnt/d" + std::to_string(i), "ext4", "8:20");
  DriveMap map = Detect(table);
  ASSERT_EQ(map.drives().size(), 24u);
  EXPECT_EQ(map.drives().back(), (Drive{'Z', "/mnt/d22", DriveType::kFixed}));
  EXPECT_EQ(map.Find('A'), nullptr);
  EXPECT_EQ(map.Find('B'), nullptr);
}

TEST(SystemDriveDetection, MakesTheRootCOnThisMachine) {
  DriveMap map = DetectMountedDrives();
  ASSERT_FALSE(map.empty());
  EXPECT_EQ(map.drives()[0].letter, 'C');
  EXPECT_EQ(map.drives()[0].folder, "/");
  for (const Drive& drive : map.drives()) {
    EXPECT_NE(drive.folder.rfind("/proc", 0), 0u) << drive.folder;
    EXPECT_NE(drive.folder.rfind("/sys", 0), 0u) << drive.folder;
  }
  MountProbes probes = SystemMountProbes();
  EXPECT_TRUE(probes.is_folder("/"));
  EXPECT_FALSE(probes.is_folder("/proc/self/mountinfo"));
  EXPECT_FALSE(probes.is_removable(0, 0));
}

}  // namespace
}  // namespace quarn

#include "platform/drive_map.h"

#include <string>

#include <gtest/gtest.h>

namespace quarn {
namespace {

class DriveMapTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(map_.Add({'c', "/srv/files/", DriveType::kFixed}).ok());
    ASSERT_TRUE(map_.Add({'E', "/srv/files/cd", DriveType::kCdRom}).ok());
    ASSERT_TRUE(map_.Add({'D', "/", DriveType::kFixed}).ok());
    ASSERT_TRUE(map_.AddDriveWithoutFiles('a', DriveType::kRemovable).ok());
  }

  std::string HostPath(const std::string& target) {
    Result<std::string> path = map_.HostPathOf(target);
    EXPECT_TRUE(path.ok()) << target << ": " << path.message();
    return path ? *path : "(failed)";
  }

  DriveMap map_;
};

TEST_F(DriveMapTest, RefusesBadAndRepeatedLetters) {
  Status repeated = map_.Add({'C', "/elsewhere", DriveType::kFixed});
  ASSERT_FALSE(repeated.ok());
  EXPECT_NE(repeated.message().find("C:"), std::string::npos) << repeated.message();
  EXPECT_FALSE(map_.AddDriveWithoutFiles('a', DriveType::kRemovable).ok());
  for (char bad : {'1', ':', '[', '@', '\0', '\xC3'}) {
    EXPECT_FALSE(map_.Add({bad, "/x", DriveType::kFixed}).ok()) << int(bad);
  }
  EXPECT_EQ(map_.drives().size(), 4u);
}

TEST_F(DriveMapTest, ShowsPathsWithTheLetterOfTheLongestMatchingFolder) {
  EXPECT_EQ(map_.DisplayPath("/srv/files/DOS/UTIL"), "C:\\DOS\\UTIL");
  EXPECT_EQ(map_.DisplayPath("/srv/files/cd/SETUP.EXE"), "E:\\SETUP.EXE");
  EXPECT_EQ(map_.DisplayPath("/srv/files/cdx/SETUP.EXE"), "C:\\cdx\\SETUP.EXE");
  EXPECT_EQ(map_.DisplayPath("/etc/passwd"), "D:\\etc\\passwd");
  EXPECT_EQ(map_.DriveOf("/srv/files/cd/x")->letter, 'E');
  EXPECT_EQ(map_.DriveOf("/srv/files2")->letter, 'D');
  // A drive's own folder shows as the bare letter.
  EXPECT_EQ(map_.DisplayPath("/srv/files"), "C:");
  EXPECT_EQ(map_.DisplayPath("/srv/files/"), "C:");
  EXPECT_EQ(map_.DisplayPath("/"), "D:");
  EXPECT_EQ(map_.DisplayPath("/srv/files//DOS/"), "C:\\DOS");
}

TEST_F(DriveMapTest, ResolvesDriveTargetsWithEitherSeparatorAndLetterCase) {
  EXPECT_EQ(HostPath("C:"), "/srv/files");
  EXPECT_EQ(HostPath("c:\\"), "/srv/files");
  EXPECT_EQ(HostPath("C:\\DOS\\UTIL"), "/srv/files/DOS/UTIL");
  EXPECT_EQ(HostPath("c:/dos/util/"), "/srv/files/dos/util");
  EXPECT_EQ(HostPath("C:\\DOS/./UTIL\\\\X.COM"), "/srv/files/DOS/UTIL/X.COM");
  EXPECT_EQ(HostPath("d:\\etc"), "/etc");
  EXPECT_EQ(HostPath("D:"), "/");
}

TEST_F(DriveMapTest, ResolvesDotDotWithinTheDriveOnly) {
  EXPECT_EQ(HostPath("C:\\DOS\\..\\GAMES"), "/srv/files/GAMES");
  EXPECT_EQ(HostPath("C:\\DOS\\.."), "/srv/files");
  for (const char* climbing : {"C:\\..", "C:\\DOS\\..\\..\\etc", "c:/../files/x", "D:/.."}) {
    Result<std::string> path = map_.HostPathOf(climbing);
    ASSERT_FALSE(path.ok()) << climbing << " gave " << *path;
    EXPECT_NE(path.message().find(climbing), std::string::npos) << path.message();
    EXPECT_NE(path.message().find(".."), std::string::npos) << path.message();
  }
}

TEST_F(DriveMapTest, RefusesUnmappedLettersAndDrivesWithoutFiles) {
  Result<std::string> unmapped = map_.HostPathOf("q:\\X");
  ASSERT_FALSE(unmapped.ok());
  EXPECT_NE(unmapped.message().find("Q: is not mapped"), std::string::npos) << unmapped.message();
  Result<std::string> floppy = map_.HostPathOf("A:");
  ASSERT_FALSE(floppy.ok());
  EXPECT_NE(floppy.message().find("A: has no files"), std::string::npos) << floppy.message();
}

TEST_F(DriveMapTest, PassesHostPathsThroughUnchanged) {
  for (const char* host :
       {"/srv/files", "./samples", "samples/../x", "c:name", "C", "1:\\x", "", "relative/C:\\x"}) {
    EXPECT_EQ(HostPath(host), host);
  }
}

}  // namespace
}  // namespace quarn

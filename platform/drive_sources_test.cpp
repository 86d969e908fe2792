#include "platform/drive_sources.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quarn {
namespace {

Drive ParsedArgument(const std::string& argument) {
  Result<Drive> drive = ParseDriveArgument(argument);
  EXPECT_TRUE(drive.ok()) << argument << ": " << drive.message();
  return drive ? *drive : Drive{'?', "(failed)", DriveType::kFixed};
}

void ExpectArgumentError(const std::string& argument, const std::string& cause) {
  Result<Drive> drive = ParseDriveArgument(argument);
  ASSERT_FALSE(drive.ok()) << argument << " gave folder " << drive->folder;
  EXPECT_NE(drive.message().find("--drive \"" + argument + "\""), std::string::npos)
      << drive.message();
  EXPECT_NE(drive.message().find(cause), std::string::npos) << drive.message();
}

// The type is the word after the last comma when it names one; any other word stays part
// of the folder.
TEST(DriveArgument, ReadsTheLetterTheFolderAndTheTypeAfterTheLastComma) {
  const std::vector<std::pair<std::string, Drive>> cases = {
      {"c:=/srv/files", {'C', "/srv/files", DriveType::kFixed}},
      {"A:=/mnt/floppy,removable", {'A', "/mnt/floppy", DriveType::kRemovable}},
      {"E:=/media/cd,CDROM", {'E', "/media/cd", DriveType::kCdRom}},
      {"N:=/net/share,remote", {'N', "/net/share", DriveType::kRemote}},
      {"R:=/mnt/ram,ramdisk", {'R', "/mnt/ram", DriveType::kRamDisk}},
      {"D:=/srv/a,b,c,cdrom", {'D', "/srv/a,b,c", DriveType::kCdRom}},
      {"D:=/srv/x=y", {'D', "/srv/x=y", DriveType::kFixed}},
      {"D:=/srv/a,floppy", {'D', "/srv/a,floppy", DriveType::kFixed}},
      {"D:=/srv/a,", {'D', "/srv/a,", DriveType::kFixed}},
      {"D:=/srv/cdrom,x", {'D', "/srv/cdrom,x", DriveType::kFixed}},
  };
  for (const auto& [argument, drive] : cases) EXPECT_EQ(ParsedArgument(argument), drive);
}

TEST(DriveArgument, NamesTheArgumentAndTheFault) {
  ExpectArgumentError("C/srv", "missing '='");
  ExpectArgumentError("", "missing '='");
  ExpectArgumentError("1:=/srv", "\"1:\" is not a drive letter");
  ExpectArgumentError("CD:=/srv", "\"CD:\" is not a drive letter");
  ExpectArgumentError("C=/srv", "\"C\" is not a drive letter");
  ExpectArgumentError("=/srv", "\"\" is not a drive letter");
  ExpectArgumentError("C:=", "no folder");
  ExpectArgumentError("C:=,cdrom", "no folder");
}

TEST(DriveArguments, MakeTheWholeMapAndRefuseALetterGivenTwice) {
  Result<DriveMap> map = DriveMapFromArguments({"d:=/srv/d", "C:=/srv/c,remote"}, "/w");
  ASSERT_TRUE(map.ok()) << map.message();
  ASSERT_EQ(map->drives().size(), 2u);
  EXPECT_EQ(map->drives()[0], (Drive{'C', "/srv/c", DriveType::kRemote}));
  EXPECT_EQ(map->drives()[1], (Drive{'D', "/srv/d", DriveType::kFixed}));

  Result<DriveMap> twice = DriveMapFromArguments({"C:=/srv/c", "c:=/srv/other"}, "/w");
  ASSERT_FALSE(twice.ok());
  EXPECT_NE(twice.message().find("c:=/srv/other"), std::string::npos) << twice.message();
  EXPECT_NE(twice.message().find("C: is mapped twice"), std::string::npos) << twice.message();

  Result<DriveMap> bad = DriveMapFromArguments({"C:=/srv/c", "Z/x"}, "/w");
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.message().find("Z/x"), std::string::npos) << bad.message();
}

// A drive folder is compared in the text with the paths under it: however it is written, it
// must come out absolute and normalised, from the arguments and the settings alike.
TEST(DriveFolders, AreMadeAbsoluteAndNormalised) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"./emptyA", "/w/emptyA"}, {"x/../y", "/w/y"}, {"//srv//d/", "/srv/d"},
      {"/srv/d/.", "/srv/d"},    {"..", "/"},        {"/srv/a,b/,cdrom", "/srv/a,b"},
  };
  for (const auto& [folder, expected] : cases) {
    Result<DriveMap> from_arguments = DriveMapFromArguments({"A:=" + folder}, "/w");
    ASSERT_TRUE(from_arguments.ok()) << from_arguments.message();
    EXPECT_EQ(from_arguments->drives()[0].folder, expected) << folder;
    RegistryDocument settings;
    settings.SetValue(kDrivesKey, "A:", RegistryValue::Text(folder));
    Result<DriveMap> from_settings = DriveMapFromSettings(settings, "/w");
    ASSERT_TRUE(from_settings.ok()) << from_settings.message();
    EXPECT_EQ(from_settings->drives()[0].folder, expected) << folder;
  }
  // Without a working folder a relative folder would name something else: refused.
  Result<DriveMap> unknown = DriveMapFromArguments({"A:=./emptyA"}, "");
  ASSERT_FALSE(unknown.ok());
  EXPECT_NE(unknown.message().find("working folder"), std::string::npos) << unknown.message();
  EXPECT_TRUE(DriveMapFromArguments({"A:=/srv/a"}, "").ok());
}

class DriveSettingsTest : public testing::Test {
 protected:
  void SetDrive(const std::string& name, const std::string& text) {
    settings_.SetValue(kDrivesKey, name, RegistryValue::Text(text));
  }
  RegistryDocument settings_;
};

TEST_F(DriveSettingsTest, NamesTheValueThatCannotBeRead) {
  struct Case {
    std::string name;
    RegistryValue value;
    std::string cause;
  };
  for (const Case& bad : {Case{"C", RegistryValue::Text("/srv"), "not a drive letter"},
                          Case{"", RegistryValue::Text("/srv"), "not a drive letter"},
                          Case{"C:", RegistryValue::Number(1), "not a text value"},
                          Case{"C:", RegistryValue::Text(",fixed"), "no folder"}}) {
    RegistryDocument settings;
    settings.SetValue(kDrivesKey, bad.name, bad.value);
    Result<DriveMap> map = DriveMapFromSettings(settings, "/w");
    ASSERT_FALSE(map.ok()) << bad.name;
    EXPECT_NE(map.message().find("Drives, value \"" + bad.name + "\""), std::string::npos)
        << map.message();
    EXPECT_NE(map.message().find(bad.cause), std::string::npos) << map.message();
  }
}

TEST_F(DriveSettingsTest, WritesValuesThatReadBackAsTheSameDrive) {
  for (const Drive& drive :
       {Drive{'C', "/srv/c", DriveType::kFixed}, Drive{'D', "/srv/a,cdrom", DriveType::kFixed},
        Drive{'E', "/srv/b,", DriveType::kRamDisk}}) {
    SetDrive(std::string(1, drive.letter) + ":", FormatDriveValue(drive));
  }
  EXPECT_EQ(settings_.ReadText(kDrivesKey, "D:"), "/srv/a,cdrom,fixed");
  Result<DriveMap> map = DriveMapFromSettings(settings_, "/w");
  ASSERT_TRUE(map.ok()) << map.message();
  ASSERT_EQ(map->drives().size(), 3u);
  EXPECT_EQ(map->drives()[1], (Drive{'D', "/srv/a,cdrom", DriveType::kFixed}));
  EXPECT_EQ(map->drives()[2], (Drive{'E', "/srv/b,", DriveType::kRamDisk}));
}

class DrivePrecedenceTest : public testing::Test {
 protected:
  Result<DriveMap> Choose(const std::vector<std::string>& arguments) {
    return ChooseDriveMap(
        arguments, settings_,
        [this] {
          ++detections_;
          DriveMap detected;
          EXPECT_TRUE(detected.Add({'C', "/", DriveType::kFixed}).ok());
          EXPECT_TRUE(detected.Add({'D', "/mnt/usb", DriveType::kRemovable}).ok());
          return detected;
        },
        "/w");
  }
  static std::string Letters(const DriveMap& map) {
    std::string letters;
    for (const Drive& drive : map.drives()) letters += drive.letter;
    return letters;
  }
  RegistryDocument settings_;
  int detections_ = 0;
};

// Each source replaces the next one whole: arguments the settings, settings detection.
TEST_F(DrivePrecedenceTest, TheFirstSourceThatNamesDrivesIsTakenWhole) {
  settings_.CreateKey(kDrivesKey);
  Result<DriveMap> detected = Choose({});
  ASSERT_TRUE(detected.ok()) << detected.message();
  EXPECT_EQ(Letters(*detected), "CD");
  EXPECT_EQ(detections_, 1);

  settings_.SetValue(kDrivesKey, "F:", RegistryValue::Text("/srv/f"));
  settings_.SetValue(kDrivesKey, "G:", RegistryValue::Text("/srv/g"));
  Result<DriveMap> from_settings = Choose({});
  ASSERT_TRUE(from_settings.ok()) << from_settings.message();
  EXPECT_EQ(Letters(*from_settings), "FG");
  Result<DriveMap> from_arguments = Choose({"E:=/srv/e"});
  ASSERT_TRUE(from_arguments.ok()) << from_arguments.message();
  EXPECT_EQ(Letters(*from_arguments), "E");
  EXPECT_EQ(detections_, 1);
}

TEST_F(DrivePrecedenceTest, ReportsFaultsOfTheChosenSourceInsteadOfFallingBack) {
  settings_.SetValue(kDrivesKey, "C", RegistryValue::Text("/srv/c"));
  EXPECT_FALSE(Choose({}).ok());
  EXPECT_FALSE(Choose({"C:="}).ok());
  EXPECT_TRUE(Choose({"C:=/srv"}).ok());
  EXPECT_EQ(detections_, 0);
}

}  // namespace
}  // namespace quarn

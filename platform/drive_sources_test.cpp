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

TEST(DriveArgument, ReadsTheLetterTheFolderAndTheTypeAfterTheLastComma) {
  EXPECT_EQ(ParsedArgument("c:=/srv/files"), (Drive{'C', "/srv/files", DriveType::kFixed}));
  EXPECT_EQ(ParsedArgument("A:=/mnt/floppy,removable").type, DriveType::kRemovable);
  EXPECT_EQ(ParsedArgument("E:=/media/cd,CDROM").type, DriveType::kCdRom);
  EXPECT_EQ(ParsedArgument("N:=/net/share,remote").type, DriveType::kRemote);
  EXPECT_EQ(ParsedArgument("R:=/mnt/ram,ramdisk").type, DriveType::kRamDisk);
  EXPECT_EQ(ParsedArgument("D:=/srv/a,b,c,cdrom"), (Drive{'D', "/srv/a,b,c", DriveType::kCdRom}));
  EXPECT_EQ(ParsedArgument("D:=/srv/x=y"), (Drive{'D', "/srv/x=y", DriveType::kFixed}));
}

TEST(DriveArgument, KeepsAnUnknownLastWordAsPartOfTheFolder) {
  EXPECT_EQ(ParsedArgument("D:=/srv/a,floppy"), (Drive{'D', "/srv/a,floppy", DriveType::kFixed}));
  EXPECT_EQ(ParsedArgument("D:=/srv/a,"), (Drive{'D', "/srv/a,", DriveType::kFixed}));
  EXPECT_EQ(ParsedArgument("D:=/srv/cdrom,x"), (Drive{'D', "/srv/cdrom,x", DriveType::kFixed}));
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

TEST_F(DriveSettingsTest, ReadsEveryValueOfTheDrivesKey) {
  SetDrive("c:", "/srv/c");
  SetDrive("E:", "/media/cd,with,commas,cdrom");
  SetDrive("N:", "/net/share,remote");
  Result<DriveMap> map = DriveMapFromSettings(settings_, "/w");
  ASSERT_TRUE(map.ok()) << map.message();
  ASSERT_EQ(map->drives().size(), 3u);
  EXPECT_EQ(map->drives()[0], (Drive{'C', "/srv/c", DriveType::kFixed}));
  EXPECT_EQ(map->drives()[1], (Drive{'E', "/media/cd,with,commas", DriveType::kCdRom}));
  EXPECT_EQ(map->drives()[2], (Drive{'N', "/net/share", DriveType::kRemote}));
}

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

TEST_F(DrivePrecedenceTest, ArgumentsReplaceTheSettingsWhole) {
  settings_.SetValue(kDrivesKey, "C:", RegistryValue::Text("/srv/c"));
  settings_.SetValue(kDrivesKey, "D:", RegistryValue::Text("/srv/d"));
  Result<DriveMap> map = Choose({"E:=/srv/e"});
  ASSERT_TRUE(map.ok()) << map.message();
  EXPECT_EQ(Letters(*map), "E");
  EXPECT_EQ(detections_, 0);
}

TEST_F(DrivePrecedenceTest, SettingsReplaceDetectionWhole) {
  settings_.SetValue(kDrivesKey, "F:", RegistryValue::Text("/srv/f"));
  Result<DriveMap> map = Choose({});
  ASSERT_TRUE(map.ok()) << map.message();
  EXPECT_EQ(Letters(*map), "F");
  EXPECT_EQ(detections_, 0);
}

TEST_F(DrivePrecedenceTest, DetectsWhenNeitherArgumentsNorDriveValuesExist) {
  settings_.CreateKey(kDrivesKey);
  Result<DriveMap> map = Choose({});
  ASSERT_TRUE(map.ok()) << map.message();
  EXPECT_EQ(Letters(*map), "CD");
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

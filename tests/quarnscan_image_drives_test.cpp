// quarnscan over disk images: drives made of images (--disk, --drive L:=IMAGE) and images
// met in a walk, as a user runs it. What is checked is what scripts rely on: the names of
// the files found inside, their host path and layers, which letters the volumes take, and
// that an image read as a drive is not scanned again when the walk meets it.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "samplegen/system_area_samples.h"
#include "containers/test_support/fat_image_writer.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::FatImageWriter;

// Where each detection was found: its path, host path and layers as one line of text.
std::set<std::string> DetectionPlaces(const Outcome& outcome) {
  std::set<std::string> places;
  for (const json& event : outcome.EventsOf("detection")) {
    std::string place = event.value("path", "") + " @ " + event.value("host_path", "");
    for (const json& layer : event.value("layers", json::array())) {
      place += " / " + layer.value("kind", "") + ":" + layer.value("name", "");
    }
    places.insert(place);
  }
  return places;
}

class QuarnscanImageDrives : public QuarnscanCli {
 protected:
  static std::vector<uint8_t> Sample(const std::string& name) { return SampleNamed(name).bytes; }

  // A 1.44 MB floppy: the test file in DOS\, an infected program under a long name, and a
  // clean text.
  static std::vector<uint8_t> Floppy() {
    return FatImageWriter(testing::FloppyLayout(1440))
        .AddFolder("DOS")
        .AddFile("DOS/EICAR.COM", Sample("eicar.com"))
        .AddFile("Long Name Entry.exe", Sample("exe_entry.exe"))
        .AddFile("README.TXT", std::vector<uint8_t>(300, 'a'))
        .Build();
  }

  // A hard disk: a FAT16 primary holding the test file, and a logical drive in the extended
  // partition holding an infected program, whose boot code is the boot family's.
  static std::vector<uint8_t> HardDisk() {
    std::vector<uint8_t> first = FatImageWriter(testing::HardDiskLayout(16, 8400, 1))
                                     .AddFolder("DOS")
                                     .AddFile("DOS/EICAR.COM", Sample("eicar.com"))
                                     .Build();
    std::vector<uint8_t> logical = FatImageWriter(testing::HardDiskLayout(16, 8400, 1))
                                       .AddFolder("GAMES")
                                       .AddFile("GAMES/PLAY.EXE", Sample("exe_entry.exe"))
                                       .Build();
    // The jump and the boot code, not the parameter block, so the volume still opens.
    const std::vector<uint8_t>& infected = BootFamilyFloppy();
    std::copy(infected.begin(), infected.begin() + kParameterBlockStart, logical.begin());
    std::copy(infected.begin() + kBootCodeStart, infected.begin() + 510,
              logical.begin() + kBootCodeStart);
    return testing::PartitionedImageBuilder().Primary(0x06, first).Logical(0x06, logical).Build();
  }

  static constexpr size_t kParameterBlockStart = 0x03;
  static constexpr size_t kBootCodeStart = 0x3E;

  static const std::vector<uint8_t>& BootFamilyFloppy() {
    static const std::vector<uint8_t> bytes = [] {
      for (const samples::SystemAreaSample& sample : samples::BuildSystemAreaSamples()) {
        if (sample.virus == samples::kBootFamily) return sample.bytes;
      }
      ADD_FAILURE() << "no boot family sample";
      return std::vector<uint8_t>(512);
    }();
    return bytes;
  }

  std::string WriteImage(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFile(path, Text(bytes));
    return path;
  }

  // A run without the fixture's drive C:, so that the images' partitions take their letters.
  Outcome ScanWithoutDrives(std::vector<std::string> arguments) {
    std::vector<std::string> all = {"--settings", settings_,     "--data-dir", QUARN_DATA_DIR,
                                    "--no-log",   "--no-memory", "--json"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Quarnscan(all, {}, Quarnscan::Terminal::kNone, {}).Finish();
  }
};

// The whole drive's finds are the sample images' test; here, what a target on it may be.
TEST_F(QuarnscanImageDrives, TargetsOnADriveMadeOfAFloppyAreItsFoldersAndFiles) {
  const std::string image = WriteImage(scratch_.Child("floppy.img"), Floppy());
  // A folder and a file of the drive, named in any case and with either slash.
  Outcome folder = Scan({"--json", "--disk", "0=" + image, "a:/dos"});
  EXPECT_EQ(DetectionPlaces(folder),
            (std::set<std::string>{"A:\\dos\\EICAR.COM @ " + image + " / fat12:dos\\EICAR.COM"}));
  Outcome file = Scan({"--json", "--disk", "0=" + image, "A:\\long name entry.EXE"});
  EXPECT_EQ(file.EventsOf("detection").size(), 1u) << file.out;
  EXPECT_TRUE(file.EventsOf("boot").empty()) << "a file alone has no boot check";

  Outcome missing = Scan({"--disk", "0=" + image, "A:\\NOSUCH", "A:\\DOS"});
  EXPECT_NE(missing.err.find("Non trovato: A:\\NOSUCH"), std::string::npos) << missing.err;
  EXPECT_NE(missing.out.find("A:\\DOS\\EICAR.COM"), std::string::npos) << "the others go on";
}

TEST_F(QuarnscanImageDrives, PartitionsOfTheFirstHardDiskAreLetteredAndAMappedFolderWins) {
  const std::string image = WriteImage(scratch_.Child("hd.img"), HardDisk());
  Outcome lettered = ScanWithoutDrives({"--disk", "0x80=" + image, "C:", "D:"});
  EXPECT_EQ(lettered.exit_code, 1) << lettered.err;
  EXPECT_EQ(DetectionPlaces(lettered),
            (std::set<std::string>{
                "C:\\DOS\\EICAR.COM @ " + image + " / mbr:1 / fat16:DOS\\EICAR.COM",
                "D:\\GAMES\\PLAY.EXE @ " + image + " / mbr:5 / fat16:GAMES\\PLAY.EXE"}));
  // Each drive's boot check judges its own partition's boot sector.
  std::map<std::string, int> boot_sectors;
  for (const json& event : lettered.EventsOf("boot")) {
    if (event["area"] == "boot") boot_sectors[event["target"]] = event["virus_id"];
  }
  EXPECT_EQ(boot_sectors, (std::map<std::string, int>{{"C:", 0}, {"D:", samples::kBootFamily}}));

  // The fixture maps C: to a folder: that letter stays the folder's, the first partition
  // gets none, and the logical drive keeps D:.
  Put("HOST.COM", "eicar.com");
  Outcome mapped = Scan({"--json", "--disk", "0x80=" + image, "C:", "D:"});
  EXPECT_EQ(DetectionPlaces(mapped),
            (std::set<std::string>{
                "C:\\HOST.COM @ " + tree_ + "/HOST.COM",
                "D:\\GAMES\\PLAY.EXE @ " + image + " / mbr:5 / fat16:GAMES\\PLAY.EXE"}));
}

TEST_F(QuarnscanImageDrives, ALetterMappedToAnImageTakesItsFirstVolume) {
  const std::string image = WriteImage(scratch_.Child("floppy.img"), Floppy());
  Outcome outcome = Scan({"--json", "--drive", "E:=" + image + ",removable", "E:\\DOS"});
  EXPECT_EQ(DetectionPlaces(outcome),
            (std::set<std::string>{"E:\\DOS\\EICAR.COM @ " + image + " / fat12:DOS\\EICAR.COM"}));

  // A file that is no disk image cannot be a drive: said so, and the other targets still
  // scanned.
  const std::string text = scratch_.Child("notes.txt");
  WriteFile(text, "not a disk");
  Outcome refused = Scan({"--drive", "F:=" + text, "--drive", "E:=" + image, "F:", "E:"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_NE(refused.err.find(text), std::string::npos) << refused.err;
  EXPECT_NE(refused.out.find("E:\\DOS\\EICAR.COM"), std::string::npos) << refused.out;
}

TEST_F(QuarnscanImageDrives, AnImageReadAsADriveIsNotScannedAgainWhenTheWalkMeetsIt) {
  const std::string image = WriteImage(tree_ + "/FLOPPY.IMG", Floppy());
  Outcome walked = Scan({"--json", "C:"});
  EXPECT_EQ(DetectionPlaces(walked).size(), 2u);
  EXPECT_NE(walked.out.find("C:\\\\FLOPPY.IMG!A:\\\\DOS\\\\EICAR.COM"), std::string::npos)
      << "a walk opens the image it meets";

  Outcome both = Scan({"--json", "--disk", "0=" + image, "A:", "C:"});
  EXPECT_EQ(DetectionPlaces(both),
            (std::set<std::string>{
                "A:\\DOS\\EICAR.COM @ " + image + " / fat12:DOS\\EICAR.COM",
                "A:\\Long Name Entry.exe @ " + image + " / fat12:Long Name Entry.exe"}));
}

// Images the system's tools made, each holding the test file where the tools put it: a walk
// of the folder that holds the image finds it under the image's name, "!", the volume's
// letter and the path inside. The same images' listings and bytes are checked against the
// tools' own in the containers layer's witness test.
struct ToolImage {
  std::string name;
  std::string make;  // run in the folder: host/EICAR.COM is the test file; makes DISK.IMG
  std::set<std::string> found;
};

std::vector<ToolImage> ToolImages() {
  const std::string files =
      " && mmd -i DISK.IMG ::DOS && mcopy -i DISK.IMG host/EICAR.COM ::DOS/KEYB.COM";
  const std::string floppy = "C:\\DISK.IMG!A:\\DOS\\KEYB.COM";
  std::vector<ToolImage> images;
  for (const char* size : {"160", "360", "720", "1200", "1440", "2880"}) {
    images.push_back({std::string("floppy_") + size,
                      std::string("mformat -C -f ") + size + " -i DISK.IMG ::" + files,
                      {floppy}});
  }
  images.push_back({"dmf",
                    "mkfs.fat -C DISK.IMG 1680 -s 4 -r 16 -M 0xF0 -g 2/21 -F 12 >/dev/null" + files,
                    {floppy}});
  images.push_back({"fat16", "mkfs.fat -F 16 -C DISK.IMG 16384 >/dev/null" + files, {floppy}});
  images.push_back({"fat32", "mkfs.fat -F 32 -s 1 -C DISK.IMG 34816 >/dev/null" + files, {floppy}});
  images.push_back({"dos1_without_parameter_block",
                    "mformat -C -f 160 -i DISK.IMG ::" + files +
                        " && dd if=/dev/zero of=DISK.IMG bs=512 count=1 conv=notrunc 2>/dev/null",
                    {floppy}});
  images.push_back(
      {"long_name_in_code_page_437",
       "printf 'default_codepage=437\\n' > mtoolsrc && MTOOLSRC=mtoolsrc mformat -C -f 1440 -i "
       "DISK.IMG :: && MTOOLSRC=mtoolsrc mcopy -i DISK.IMG host/EICAR.COM '::Café résumé.com'",
       {"C:\\DISK.IMG!A:\\Café résumé.com"}});
  images.push_back(
      {"partitioned",
       "truncate -s 40M DISK.IMG && printf 'label: dos\\nstart=2048, size=20480, type=6\\n"
       "start=22528, type=5\\nstart=24576, size=20480, type=6\\n' | sfdisk -q DISK.IMG && "
       "mkfs.fat --offset 2048 -F 16 DISK.IMG 10240 >/dev/null && "
       "mkfs.fat --offset 24576 -F 16 DISK.IMG 10240 >/dev/null && "
       "mcopy -i DISK.IMG@@1048576 host/EICAR.COM ::FIRST.COM && "
       "mmd -i DISK.IMG@@12582912 ::GAMES && "
       "mcopy -i DISK.IMG@@12582912 host/EICAR.COM ::GAMES/LOGICAL.COM",
       {"C:\\DISK.IMG!C:\\FIRST.COM", "C:\\DISK.IMG!D:\\GAMES\\LOGICAL.COM"}});
  return images;
}

class QuarnscanToolImages : public QuarnscanCli, public ::testing::WithParamInterface<ToolImage> {};

TEST_P(QuarnscanToolImages, TheTestFileInsideIsFoundUnderItsName) {
  const std::string folder = scratch_.Child("make");
  fs::create_directories(folder + "/host");
  WriteFile(folder + "/host/EICAR.COM", Text(SampleNamed("eicar.com").bytes));
  const std::string make = "cd '" + folder + "' && " + GetParam().make;
  ASSERT_EQ(std::system(make.c_str()), 0) << GetParam().make;
  fs::rename(folder + "/DISK.IMG", tree_ + "/DISK.IMG");
  Outcome outcome = Scan({"--json", "C:"});
  std::set<std::string> found;
  for (const json& event : outcome.EventsOf("detection")) found.insert(event.value("path", ""));
  EXPECT_EQ(found, GetParam().found) << outcome.out;
}

INSTANTIATE_TEST_SUITE_P(Images, QuarnscanToolImages, ::testing::ValuesIn(ToolImages()),
                         [](const auto& info) { return info.param.name; });

// Images no one should trust, met in a walk among ordinary files: each gives a result or a
// "not scanned" line, and the walk goes on to the infected file after them. On two threads,
// so that images the program-files filter does not let through sit among files detected
// ahead.
TEST_F(QuarnscanImageDrives, HostileImagesInAWalkNeverStopIt) {
  WriteFile(tree_ + "/A0EMPTY.IMG", "");
  std::string noise(1474560, '\0');
  uint32_t state = 1;
  for (char& byte : noise) byte = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  WriteFile(tree_ + "/A1NOISE.IMG", noise);
  std::vector<uint8_t> cut = Floppy();
  cut.resize(cut.size() / 2);
  WriteFile(tree_ + "/A2CUT.IMG", Text(cut));
  FatImageWriter looping_writer(testing::FloppyLayout(1440));
  looping_writer.AddFile("LOOP.COM", std::vector<uint8_t>(2048, 'x'));
  std::vector<uint8_t> looping = looping_writer.Build();
  const std::vector<uint32_t> chain = looping_writer.Chain("LOOP.COM");
  looping_writer.SetFatEntry(looping, chain.back(), chain.front());
  looping_writer.SetEntrySize(looping, "LOOP.COM", 1 << 20);
  WriteFile(tree_ + "/A3LOOP.IMG", Text(looping));
  Put("Z.COM", "eicar.com");

  Outcome outcome = Scan({"--json", "--jobs", "2", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  const std::string cut_path = tree_ + "/A2CUT.IMG";
  EXPECT_EQ(
      DetectionPlaces(outcome),
      (std::set<std::string>{
          "C:\\A2CUT.IMG!A:\\DOS\\EICAR.COM @ " + cut_path + " / fat12:DOS\\EICAR.COM",
          "C:\\A2CUT.IMG!A:\\Long Name Entry.exe @ " + cut_path + " / fat12:Long Name Entry.exe",
          "C:\\Z.COM @ " + tree_ + "/Z.COM"}));
  std::set<std::string> incomplete;
  for (const json& event : outcome.EventsOf("incomplete")) {
    incomplete.insert(event.value("path", "") + " " + event.value("reason", ""));
  }
  EXPECT_EQ(incomplete, (std::set<std::string>{"C:\\A2CUT.IMG!A: damaged",
                                               "C:\\A3LOOP.IMG!A:\\LOOP.COM damaged"}));
  EXPECT_EQ(outcome.EventsOf("summary").at(0)["total"],
            9);  // 5 here, 3 in the cut floppy, 1 in the other
}

}  // namespace
}  // namespace quarn

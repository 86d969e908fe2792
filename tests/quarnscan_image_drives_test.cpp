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
#include <tuple>
#include <vector>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/floppy_image_writer.h"
#include "platform/test_support/tool_witness.h"
#include "samplegen/system_area_samples.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::FatImageWriter;

// Where each detection (or each event of `kind`, with its reason) was found: its path, host
// path and layers as one line of text.
std::set<std::string> DetectionPlaces(const Outcome& outcome,
                                      const std::string& kind = "detection") {
  std::set<std::string> places;
  for (const json& event : outcome.EventsOf(kind)) {
    std::string place =
        event.value("path", "") + event.value("reason", "") + " @ " + event.value("host_path", "");
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
    const std::vector<uint8_t>& infected = SystemAreaImage(samples::kBootFamily);
    std::copy(infected.begin(), infected.begin() + kParameterBlockStart, logical.begin());
    std::copy(infected.begin() + kBootCodeStart, infected.begin() + 510,
              logical.begin() + kBootCodeStart);
    return testing::PartitionedImageBuilder().Primary(0x06, first).Logical(0x06, logical).Build();
  }

  static constexpr size_t kParameterBlockStart = 0x03;
  static constexpr size_t kBootCodeStart = 0x3E;

  // The system-area sample disk infected by `virus`.
  static const std::vector<uint8_t>& SystemAreaImage(uint32_t virus) {
    static const std::vector<samples::SystemAreaSample> all = samples::BuildSystemAreaSamples();
    for (const samples::SystemAreaSample& sample : all) {
      if (sample.virus == virus) return sample.bytes;
    }
    ADD_FAILURE() << "no sample of " << virus;
    return all.front().bytes;
  }

  std::string WriteImage(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFile(path, Text(bytes));
    return path;
  }
};

// The whole drive's finds are the sample images' test; here, what a target on it may be.
TEST_F(QuarnscanImageDrives, TargetsOnADriveMadeOfAFloppyAreItsFoldersAndFiles) {
  const std::string image = WriteImage(scratch_.Child("floppy.img"), SampleFloppy());
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
  Outcome lettered = ScanWithoutDrives({"--json", "--disk", "0x80=" + image, "C:", "D:"});
  EXPECT_EQ(lettered.exit_code, 1) << lettered.err;
  // Which files each lettered partition holds is the sample images' test; here, that each
  // drive's boot check judges its own partition's boot sector.
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
  const std::string image = WriteImage(scratch_.Child("floppy.img"), SampleFloppy());
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

// How many actions were refused ("Non modificabile"), each with its line.
size_t Refused(const Outcome& outcome) {
  size_t refused = 0;
  for (const json& event : outcome.EventsOf("action")) {
    if (!event.value("ok", true)) ++refused;
  }
  return std::min(refused, CountOf(outcome.out, "Non modificabile: "));
}

// The same disk in each wrapper qemu-img writes, and in an E01 set of ewfacquire's: met in a
// walk and made a drive, its files are found under the wrapper's layer, and a delete is
// refused without a byte of the wrapper changed.
TEST_F(QuarnscanImageDrives, WrappedDisksAreReadAsTheirDisksAndNeverChanged) {
  const std::string raw = WriteImage(scratch_.Child("hd.img"), HardDisk());
  const std::pair<std::string, std::string> wrappers[] = {
      {"WIN98.VHD", "vpc"},     {"FIXED.VHD", "vpc -o subformat=fixed"},
      {"WIN98.VDI", "vdi"},     {"WIN98.VHDX", "vhdx"},
      {"WIN98.QCOW2", "qcow2"}, {"WIN98.VMDK", "vmdk"},
      {"WIN98.E01", "ewf"}};
  for (const auto& [name, format] : wrappers) {
    const std::string image = tree_ + "/" + name;
    const testing::ToolRun made = testing::RunIn(
        "/", format == "ewf"
                 ? "ewfacquire -u -q -S 1M -t " + tree_ + "/WIN98 " + raw + " > /dev/null"
                 : "qemu-img convert -O " + format + " " + raw + " " + image);
    ASSERT_EQ(made.status, 0) << made.output;
    const std::map<std::string, std::string> kinds = {{"VHD", "vhd"},   {"VDI", "vdi"},
                                                      {"VHDX", "vhdx"}, {"QCOW2", "qcow"},
                                                      {"VMDK", "vmdk"}, {"E01", "ewf"}};
    const std::string kind = kinds.at(name.substr(name.find('.') + 1));
    const std::string before = ReadFile(image);
    Outcome walked = Scan({"--json", "--action", "delete", "C:"});
    EXPECT_EQ(DetectionPlaces(walked),
              (std::set<std::string>{"C:\\" + name + "!C:\\DOS\\EICAR.COM @ " + image + " / " +
                                         kind + ": / mbr:1 / fat16:DOS\\EICAR.COM",
                                     "C:\\" + name + "!D:\\GAMES\\PLAY.EXE @ " + image + " / " +
                                         kind + ": / mbr:5 / fat16:GAMES\\PLAY.EXE"}))
        << walked.out;
    EXPECT_EQ(Refused(walked), 2u) << walked.out;
    Outcome drive = Scan({"--json", "--action", "delete", "--drive", "E:=" + image, "E:\\DOS"});
    EXPECT_EQ(DetectionPlaces(drive),
              (std::set<std::string>{"E:\\DOS\\EICAR.COM @ " + image + " / " + kind +
                                     ": / mbr:1 / fat16:DOS\\EICAR.COM"}))
        << drive.out;
    EXPECT_EQ(Refused(drive), 1u) << drive.out;
    EXPECT_TRUE(ReadFile(image) == before) << name;
    fs::remove(image);
  }
  // A VMDK descriptor, met in a walk or made a drive, opens its extent beside it.
  const testing::ToolRun split = testing::RunIn(
      tree_, "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse " + raw + " SPLIT.VMDK");
  ASSERT_EQ(split.status, 0) << split.output;
  const std::string eicar = "SPLIT.VMDK / vmdk: / mbr:1 / fat16:DOS\\EICAR.COM";
  Outcome walked = Scan({"--json", "C:\\SPLIT.VMDK"});
  EXPECT_EQ(DetectionPlaces(walked).size(), 2u) << walked.out;
  EXPECT_EQ(
      DetectionPlaces(walked).count("C:\\SPLIT.VMDK!C:\\DOS\\EICAR.COM @ " + tree_ + "/" + eicar),
      1u)
      << walked.out;
  Outcome drive = Scan({"--json", "--drive", "E:=" + tree_ + "/SPLIT.VMDK", "E:\\DOS"});
  EXPECT_EQ(DetectionPlaces(drive),
            (std::set<std::string>{"E:\\DOS\\EICAR.COM @ " + tree_ + "/" + eicar}))
      << drive.out;
}

// Reading a compressed QCOW, a stream-optimized VMDK or a compressed E01 is unpacking: the size and
// time limits stop it as they stop an archive, and the wrapper is what is reported. The same disk
// in a QCOW of plain clusters is only read.
TEST_F(QuarnscanImageDrives, WrappersThatDecompressStopAtTheSizeAndTimeLimits) {
  const std::string raw = WriteImage(scratch_.Child("hd.img"), HardDisk());
  const testing::ToolRun made = testing::RunIn(
      tree_, "qemu-img convert -c -O qcow2 " + raw + " PACKED.QCOW2 && qemu-img convert -O " +
                 "vmdk -o subformat=streamOptimized " + raw + " STREAM.VMDK && qemu-img convert " +
                 "-O qcow2 " + raw + " PLAIN.QCOW2 && ewfacquire -u -q -c best -t PACKED " + raw +
                 " > /dev/null");
  ASSERT_EQ(made.status, 0) << made.output;
  for (const auto& [option, value, reason] :
       {std::tuple{"--max-scan-size", "1K", "size"}, std::tuple{"--max-time", "0", "time"}}) {
    Outcome outcome = Scan({"--json", option, value, "C:"});
    EXPECT_EQ(
        DetectionPlaces(outcome, "incomplete"),
        (std::set<std::string>{
            "C:\\PACKED.QCOW2" + std::string(reason) + " @ " + tree_ + "/PACKED.QCOW2 / qcow:",
            "C:\\STREAM.VMDK" + std::string(reason) + " @ " + tree_ + "/STREAM.VMDK / vmdk:",
            "C:\\PACKED.E01" + std::string(reason) + " @ " + tree_ + "/PACKED.E01 / ewf:"}))
        << outcome.out;
    EXPECT_EQ(DetectionPlaces(outcome).size(), 2u) << outcome.out;
    EXPECT_EQ(DetectionPlaces(outcome).count("C:\\PLAIN.QCOW2!C:\\DOS\\EICAR.COM @ " + tree_ +
                                             "/PLAIN.QCOW2 / qcow: / mbr:1 / fat16:DOS\\EICAR.COM"),
              1u)
        << outcome.out;
  }
}

// A floppy in each preservation format, met in a walk: its files are found under the
// wrapper's layer and a delete is refused without a byte changed. A compressed one's disk
// counts against --max-scan-size; one made a drive is read as any floppy.
TEST_F(QuarnscanImageDrives, PreservedFloppiesAreReadAsTheirDisksAndNeverChanged) {
  const std::string raw = WriteImage(scratch_.Child("floppy.img"), SampleFloppy());
  for (const auto& [name, type, kind] : {std::tuple{"DISK.IMD", "imd", "imd"},
                                         {"DISK.TD0", "tele", "td0"},
                                         {"DISK.CQM", "copyqm", "cqm"}}) {
    const std::string image = tree_ + "/" + name;
    const testing::ToolRun made = testing::RunIn(
        "/", "dsktrans -itype raw " + raw + " " + image + " -otype " + type + " >/dev/null");
    ASSERT_EQ(made.status, 0) << made.output;
    if (std::string(kind) == "td0") {
      const std::string plain = ReadFile(image);
      WriteImage(image, testing::PackTeleDisk(std::vector<uint8_t>(plain.begin(), plain.end())));
    }
    const std::string before = ReadFile(image);
    Outcome walked = Scan({"--json", "--action", "delete", "C:"});
    const std::string place = " @ " + image + " / " + std::string(kind) + ": / fat12:";
    EXPECT_EQ(DetectionPlaces(walked),
              (std::set<std::string>{
                  "C:\\" + std::string(name) + "!A:\\DOS\\EICAR.COM" + place + "DOS\\EICAR.COM",
                  "C:\\" + std::string(name) + "!A:\\Long Name Entry.exe" + place +
                      "Long Name Entry.exe"}))
        << walked.out;
    EXPECT_EQ(Refused(walked), 2u) << walked.out;
    EXPECT_TRUE(ReadFile(image) == before) << name;
    fs::remove(image);
  }
  const std::string packed = WriteImage(
      tree_ + "/PACKED.TD0", testing::PackTeleDisk(testing::Td0Image(SampleFloppy(), {80, 2, 18})));
  Outcome limited = Scan({"--json", "--max-scan-size", "1M", "C:"});
  ASSERT_EQ(limited.EventsOf("incomplete").size(), 1u) << limited.out;
  EXPECT_EQ(limited.EventsOf("incomplete")[0]["reason"], "size");
  EXPECT_TRUE(limited.EventsOf("detection").empty()) << limited.out;
  Outcome drive = Scan({"--json", "--drive", "E:=" + packed, "E:\\DOS"});
  EXPECT_EQ(DetectionPlaces(drive), (std::set<std::string>{"E:\\DOS\\EICAR.COM @ " + packed +
                                                           " / td0: / fat12:DOS\\EICAR.COM"}))
      << drive.out;
}

// A BIOS disk made of a wrapper: its boot areas are read through the wrapper, and the
// removal and the floppy fix are refused without a byte of the wrapper changed.
TEST_F(QuarnscanImageDrives, ABiosDiskMadeOfAWrapperIsReadThroughItAndNeverWritten) {
  struct Row {
    std::string disk, name, format, target, area;
    uint32_t virus;
  };
  for (const Row& row : {Row{"0", "FLOPPY.VDI", "vdi", "A:", "boot", samples::kBootFamily},
                         Row{"0x80", "WIN98.VHD", "vpc", "C:", "mbr", samples::kMbrFamily}}) {
    const std::string raw = WriteImage(scratch_.Child("raw.img"), SystemAreaImage(row.virus));
    const std::string image = scratch_.Child(row.name);
    const testing::ToolRun made =
        testing::RunIn("/", "qemu-img convert -O " + row.format + " " + raw + " " + image);
    ASSERT_EQ(made.status, 0) << made.output;
    const std::string before = ReadFile(image);
    Outcome cleaned = ScanWithoutDrives(
        {"--json", "--action", "clean", "--disk", row.disk + "=" + image, row.target});
    std::vector<json> verdicts;
    for (const json& boot : cleaned.EventsOf("boot")) {
      if (boot["area"] == row.area) verdicts.push_back(boot);
    }
    ASSERT_EQ(verdicts.size(), 1u) << cleaned.out;
    EXPECT_EQ(verdicts[0]["virus_id"], row.virus) << row.name << cleaned.out;
    if (row.area == "boot") {
      EXPECT_EQ(verdicts[0].value("removed", true), false) << cleaned.out;
      EXPECT_EQ(CountOf(cleaned.out, "Non modificabile: A:"), 1u) << cleaned.out;
      Outcome fixed = Quarnscan({"--settings", settings_, "--disk", "0=" + image, "--floppy-fix",
                                 "a:", "--format", "360K"},
                                {})
                          .Finish();
      EXPECT_EQ(fixed.exit_code, 2);
      EXPECT_NE(fixed.err.find("Non modificabile: A:"), std::string::npos) << fixed.err;
    }
    EXPECT_TRUE(ReadFile(image) == before) << row.name;
  }
}

// A raw CD's ISO volume is read as an ISO file is, under the wrapper's layer.
TEST_F(QuarnscanImageDrives, FilesOfARawCdAreFoundUnderItsIsoVolume) {
  fs::create_directories(scratch_.Child("cd/DOS"));
  Put("../cd/DOS/EICAR.COM", "eicar.com");
  const testing::ToolRun made =
      testing::RunIn(scratch_.Child("cd"), "genisoimage -quiet -J -o ../cd.iso .");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::string raw = ReadFile(scratch_.Child("cd.iso"));
  WriteImage(tree_ + "/SHARE.BIN", testing::RawCd(std::vector<uint8_t>(raw.begin(), raw.end()), 2));
  Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(DetectionPlaces(outcome),
            (std::set<std::string>{"C:\\SHARE.BIN!DOS\\EICAR.COM @ " + tree_ +
                                   "/SHARE.BIN / cdraw: / iso9660:DOS\\EICAR.COM"}))
      << outcome.out;
}

TEST_F(QuarnscanImageDrives, AnImageReadAsADriveIsNotScannedAgainWhenTheWalkMeetsIt) {
  const std::string image = WriteImage(tree_ + "/FLOPPY.IMG", SampleFloppy());
  Outcome both = Scan({"--json", "--disk", "0=" + image, "A:", "C:"});
  EXPECT_EQ(DetectionPlaces(both),
            (std::set<std::string>{
                "A:\\DOS\\EICAR.COM @ " + image + " / fat12:DOS\\EICAR.COM",
                "A:\\Long Name Entry.exe @ " + image + " / fat12:Long Name Entry.exe"}));
}

}  // namespace
}  // namespace quarn

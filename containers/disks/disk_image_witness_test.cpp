// The opener against real tools: images made and read by mtools, mkfs.fat and sfdisk, and
// the same images walked through DiskImageOpener, and through WrapperOpener once qemu-img (or
// dsktrans, for a floppy) has put them in a wrapper. Every listing and every file's bytes must
// equal what mtools gives back from the raw image. The tools belong to the test's setup: without
// them the test fails, it does not skip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <span>
#include <sstream>
#include <tuple>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/floppy_image_writer.h"
#include "containers/wrappers/sibling_files.h"
#include "containers/wrappers/wrapper_opener.h"
#include "platform/posix_folder.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::PatternBytes;
using testing::WalkVolume;

using testing::Quoted;
using testing::RunIn;
using testing::ToolRun;
using testing::WitnessFolder;

// What mtools sees in the volume at byte `offset` of disk.img: folders end in "/".
testing::WalkedVolume Witness(const WitnessFolder& folder, uint64_t offset) {
  testing::WalkedVolume seen;
  const std::string image = "-i disk.img@@" + std::to_string(offset) + " ";
  const ToolRun listing = RunIn(folder.path(), "mdir -/ -b " + image + "::/");
  EXPECT_EQ(listing.status, 0) << listing.output;
  std::istringstream lines(listing.output);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("::/", 0) != 0) continue;
    const std::string path = line.substr(3);
    if (!path.empty() && path.back() == '/') {
      seen.folders.insert(path);
      continue;
    }
    const ToolRun copy = RunIn(folder.path(), "mcopy -n " + image + Quoted("::/" + path) + " -");
    EXPECT_EQ(copy.status, 0) << path << ": " << copy.output;
    seen.files[path] = std::vector<uint8_t>(copy.output.begin(), copy.output.end());
  }
  return seen;
}

// Where sfdisk says each partition starts, by number.
std::map<uint32_t, uint64_t> PartitionStarts(const WitnessFolder& folder) {
  const ToolRun dump = RunIn(folder.path(), "sfdisk -d disk.img");
  EXPECT_EQ(dump.status, 0) << dump.output;
  std::map<uint32_t, uint64_t> starts;
  const std::regex line_pattern(R"(disk\.img(\d+) : start=\s*(\d+))");
  std::istringstream lines(dump.output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch match;
    if (std::regex_search(line, match, line_pattern)) {
      starts[static_cast<uint32_t>(std::stoul(match[1]))] = std::stoull(match[2]) * 512;
    }
  }
  return starts;
}

void PatchShortNameByte(std::vector<uint8_t>& image, const std::string& padded, size_t index,
                        uint8_t value) {
  const auto found = std::search(image.begin(), image.end(), padded.begin(), padded.end());
  ASSERT_NE(found, image.end()) << padded;
  found[static_cast<ptrdiff_t>(index)] = value;
}

struct ExpectedVolume {
  uint32_t partition_number;
  std::string letter;
  ContainerKind kind;
};

struct WitnessCase {
  std::string name;
  // Run in the witness folder (host files in host/): makes disk.img.
  std::string make;
  ContainerKind kind;
  std::vector<ExpectedVolume> volumes;
  // Applied before mtools looks (a name mtools cannot make) or after (a boot sector
  // mtools could no longer read).
  std::function<void(std::vector<uint8_t>&)> before_witness;
  std::function<void(std::vector<uint8_t>&)> after_witness;
  std::vector<ContainerDamage> damage;
  // Run last: makes `wrapped_file` of disk.img, a wrapper of `wrapper`'s kind.
  std::string wrap;
  std::optional<ContainerKind> wrapper;
  // Applied to disk.wrapped once made (a compression its tool does not write).
  std::function<std::vector<uint8_t>(std::span<const uint8_t>)> rewrap;
  std::string wrapped_file = "disk.wrapped";
};

// The files the cases' commands copy into their images, in host/.
void WriteHostFiles(const WitnessFolder& folder) {
  ASSERT_FALSE(folder.path().empty());
  std::filesystem::create_directories(folder.path() + "/host");
  folder.Write("host/small.bin", PatternBytes(700, 1));
  folder.Write("host/empty.bin", {});
  folder.Write("host/big.bin", PatternBytes(40000, 2));
  folder.Write("host/huge.bin", PatternBytes(300000, 3));
  folder.Write("mtoolsrc", {});
}

void PrintTo(const WitnessCase& row, std::ostream* out) {
  *out << row.name;
}

const std::string kFloppyFiles =
    " && mmd -i disk.img ::DOS ::DOS/UTIL && mcopy -i disk.img host/small.bin ::DOS/KEYB.COM"
    " && mcopy -i disk.img host/empty.bin ::EMPTY.TXT && mcopy -i disk.img host/big.bin ::BIG.BIN"
    " && mcopy -i disk.img host/small.bin ::DOS/UTIL/LIST.COM";

std::string Floppy(uint32_t kilobytes) {
  return "mformat -C -f " + std::to_string(kilobytes) + " -i disk.img ::" + kFloppyFiles;
}

std::string Qemu(const std::string& format) {
  return "qemu-img convert -O " + format + " disk.img disk.wrapped";
}

// disk.E01 and the segments after it, if `options` asks for small ones.
std::string Ewf(const std::string& options) {
  return "ewfacquire -u -q " + options + " -t disk disk.img > /dev/null";
}

std::vector<WitnessCase> WitnessCases() {
  const ExpectedVolume floppy12{0, "A:", ContainerKind::kFat12};
  std::vector<WitnessCase> cases;
  for (uint32_t kilobytes : {160, 180, 320, 360, 720, 1200, 1440, 2880}) {
    cases.push_back({"floppy_" + std::to_string(kilobytes),
                     Floppy(kilobytes),
                     ContainerKind::kFat12,
                     {floppy12}});
  }
  cases.push_back({"dmf_1680",
                   "mkfs.fat -C disk.img 1680 -s 4 -r 16 -M 0xF0 -g 2/21 -F 12" + kFloppyFiles,
                   ContainerKind::kFat12,
                   {floppy12}});
  cases.push_back({"fat16",
                   "mkfs.fat -F 16 -C disk.img 16384" + kFloppyFiles +
                       " && mcopy -i disk.img host/huge.bin ::DOS/UTIL/HUGE.DAT",
                   ContainerKind::kFat16,
                   {{0, "A:", ContainerKind::kFat16}}});
  cases.push_back({"fat32",
                   "mkfs.fat -F 32 -s 1 -C disk.img 34816" + kFloppyFiles +
                       " && mcopy -i disk.img host/huge.bin ::DOS/UTIL/HUGE.DAT",
                   ContainerKind::kFat32,
                   {{0, "A:", ContainerKind::kFat32}}});
  cases.push_back(
      {"fragmented",
       "mformat -C -f 1440 -i disk.img :: && for n in 1 2 3 4 5 6; do mcopy -i disk.img "
       "host/small.bin ::S$n.BIN && mcopy -i disk.img host/big.bin ::B$n.BIN; done && "
       "mdel -i disk.img ::B2.BIN ::B4.BIN ::S5.BIN && mcopy -i disk.img host/huge.bin "
       "::HUGE.DAT",
       ContainerKind::kFat12,
       {floppy12}});
  cases.push_back(
      {"long_names_code_page_437",
       "printf 'default_codepage=437\\n' > mtoolsrc && mformat -C -f 1440 -i disk.img :: && "
       "mcopy -i disk.img host/small.bin \"::Résumé de l'année.txt\" && "
       "mcopy -i disk.img host/big.bin '::A name well past thirteen characters.text' && "
       "mmd -i disk.img '::Dossier été ☃' && "
       "mcopy -i disk.img host/small.bin '::Dossier été ☃/naïve café.doc' && "
       "mcopy -i disk.img host/small.bin ::CAFX.TXT",
       ContainerKind::kFat12,
       {floppy12},
       [](std::vector<uint8_t>& image) { PatchShortNameByte(image, "CAFX    TXT", 3, 0x9D); }});
  cases.push_back({"dos1_floppy_without_parameter_block",
                   Floppy(160),
                   ContainerKind::kFat12,
                   {floppy12},
                   nullptr,
                   [](std::vector<uint8_t>& image) { std::fill_n(image.begin(), 512, 0); }});
  cases.push_back({"boot_sector_without_55aa",
                   Floppy(1440),
                   ContainerKind::kFat12,
                   {floppy12},
                   nullptr,
                   [](std::vector<uint8_t>& image) {
                     image[510] = 0;
                     image[511] = 0;
                   }});
  const std::string table =
      "label: dos\\nstart=2048, size=20480, type=6\\nstart=22528, size=8192, type=83\\n"
      "start=30720, size=69632, type=c\\nstart=100352, type=5\\n"
      "start=102400, size=20480, type=6\\nstart=124928, size=8192, type=1\\n"
      "start=135168, size=4096, type=16\\n";
  std::string partitioned = "truncate -s 70M disk.img && printf '" + table +
                            "' | sfdisk -q disk.img && "
                            "mkfs.fat --offset 2048 -F 16 disk.img 10240 && "
                            "mkfs.fat --offset 30720 -F 32 -s 1 disk.img 34816 && "
                            "mkfs.fat --offset 102400 -F 16 disk.img 10240 && "
                            "mkfs.fat --offset 124928 -F 12 disk.img 4096 && "
                            "mkfs.fat --offset 135168 -F 12 disk.img 2048";
  for (const auto& [sector, name] : std::vector<std::pair<int, std::string>>{
           {2048, "C"}, {30720, "F"}, {102400, "D"}, {124928, "E"}, {135168, "HIDDEN"}}) {
    const std::string image = " -i disk.img@@" + std::to_string(sector * 512);
    partitioned += " && mmd" + image + " ::DOS && mcopy" + image + " host/small.bin ::DOS/" + name +
                   ".COM && mcopy" + image + " host/big.bin ::" + name + ".BIN";
  }
  // Taken for images by the first sector alone: no volume, the sector judged on its own.
  cases.push_back({"floppy_whose_fats_are_zeroed",
                   Floppy(360),
                   ContainerKind::kFat12,
                   {},
                   nullptr,
                   [](std::vector<uint8_t>& image) { std::fill_n(image.begin() + 512, 2048, 0); }});
  cases.push_back({"table_without_partitions",
                   "truncate -s 1M disk.img && printf 'label: dos\\n' | sfdisk -q disk.img",
                   ContainerKind::kMbr,
                   {}});
  // An odd slot is left out alone: a boot flag of 01 in slot 2, slot 3 moved over slot 1.
  cases.push_back({"partitioned_with_odd_slots",
                   "truncate -s 16M disk.img && printf 'label: dos\\nstart=2048, size=10240, "
                   "type=6\\nstart=12288, size=4096, type=83\\nstart=16384, size=4096, "
                   "type=83\\n' | sfdisk -q disk.img && mkfs.fat --offset 2048 -F 16 -s 1 disk.img "
                   "5120 && mmd -i disk.img@@1048576 ::DOS && mcopy -i disk.img@@1048576 "
                   "host/small.bin ::DOS/C.COM",
                   ContainerKind::kMbr,
                   {{1, "C:", ContainerKind::kFat16}},
                   nullptr,
                   [](std::vector<uint8_t>& image) {
                     image[0x1BE + 16] = 0x01;
                     image[0x1BE + 32 + 8] = 0x00;
                     image[0x1BE + 32 + 9] = 0x10;
                   },
                   {{"2", IncompleteReason::kDamaged}, {"3", IncompleteReason::kDamaged}}});
  cases.push_back({"partitioned_primaries_and_logical_drives",
                   partitioned,
                   ContainerKind::kMbr,
                   {{1, "C:", ContainerKind::kFat16},
                    {5, "D:", ContainerKind::kFat16},
                    {6, "E:", ContainerKind::kFat12},
                    {3, "F:", ContainerKind::kFat32},
                    {7, "", ContainerKind::kFat12}}});
  // The same disks inside the wrappers that hold them.
  struct Wrapping {
    std::string label;
    std::string make;
    ContainerKind kind;
    std::string file = "disk.wrapped";
    // The one disk it is tried on, when not both: the floppy's files all lie in the first 1 MiB
    // segment of a set.
    std::string only_on;
  };
  const Wrapping wrappings[] = {
      {"vdi", Qemu("vdi"), ContainerKind::kVdi},
      {"vdi_fixed", Qemu("vdi -o static=on"), ContainerKind::kVdi},
      {"vhd_dynamic", Qemu("vpc"), ContainerKind::kVhd},
      {"vhd_fixed", Qemu("vpc -o subformat=fixed"), ContainerKind::kVhd},
      {"vhdx", Qemu("vhdx"), ContainerKind::kVhdx},
      {"qcow2", Qemu("qcow2"), ContainerKind::kQcow},
      {"qcow2_compressed", Qemu("qcow2 -c"), ContainerKind::kQcow},
      {"qcow1", Qemu("qcow"), ContainerKind::kQcow},
      {"vmdk_sparse", Qemu("vmdk -o subformat=monolithicSparse"), ContainerKind::kVmdk},
      {"vmdk_stream", Qemu("vmdk -o subformat=streamOptimized"), ContainerKind::kVmdk},
      {"vmdk_split", Qemu("vmdk -o subformat=twoGbMaxExtentSparse"), ContainerKind::kVmdk},
      {"vmdk_flat", Qemu("vmdk -o subformat=monolithicFlat"), ContainerKind::kVmdk},
      {"e01", Ewf(""), ContainerKind::kEwf, "disk.E01", "floppy_1440"},
      {"e01_compressed", Ewf("-c best"), ContainerKind::kEwf, "disk.E01", "floppy_1440"},
      {"e01_segments_lower_case",
       Ewf("-S 1M") + " && for f in disk.E*; do mv $f disk.e${f#disk.E}; done", ContainerKind::kEwf,
       "disk.e01", "partitioned_primaries_and_logical_drives"},
  };
  for (const std::string base : {"floppy_1440", "partitioned_primaries_and_logical_drives"}) {
    const auto found = std::find_if(cases.begin(), cases.end(),
                                    [&](const WitnessCase& row) { return row.name == base; });
    const WitnessCase unwrapped = *found;
    for (const Wrapping& wrapping : wrappings) {
      if (!wrapping.only_on.empty() && wrapping.only_on != base) continue;
      WitnessCase wrapped = unwrapped;
      wrapped.name += "_in_" + wrapping.label;
      wrapped.wrap = wrapping.make;
      wrapped.wrapper = wrapping.kind;
      wrapped.wrapped_file = wrapping.file;
      cases.push_back(std::move(wrapped));
    }
  }
  // Floppies in the preservation formats dsktrans writes, and TeleDisk's advanced compression.
  const std::string dsktrans = "dsktrans -itype raw disk.img disk.wrapped >/dev/null -otype ";
  for (const std::string base : {"floppy_360", "floppy_1440"}) {
    const auto found = std::find_if(cases.begin(), cases.end(),
                                    [&](const WitnessCase& row) { return row.name == base; });
    const WitnessCase unwrapped = *found;
    for (const auto& [label, type, kind] : {std::tuple{"imd", "imd", ContainerKind::kImd},
                                            {"td0", "tele", ContainerKind::kTd0},
                                            {"td0_advanced", "tele", ContainerKind::kTd0},
                                            {"cqm", "copyqm", ContainerKind::kCqm}}) {
      WitnessCase wrapped = unwrapped;
      wrapped.name += std::string("_in_") + label;
      wrapped.wrap = dsktrans + type;
      wrapped.wrapper = kind;
      if (std::string(label) == "td0_advanced") wrapped.rewrap = testing::PackTeleDisk;
      cases.push_back(std::move(wrapped));
    }
  }
  return cases;
}

class DiskImageWitnessTest : public ::testing::TestWithParam<WitnessCase> {
 protected:
  static void SetUpTestSuite() {
    const ToolRun found =
        RunIn("/", "command -v mkfs.fat mformat mcopy mmd mdel mdir sfdisk qemu-img dsktrans ewfacquire");
    tools_missing_ = found.status != 0;
    tools_report_ = found.output;
  }
  static bool tools_missing_;
  static std::string tools_report_;
};

bool DiskImageWitnessTest::tools_missing_ = false;
std::string DiskImageWitnessTest::tools_report_;

TEST_P(DiskImageWitnessTest, OpenerSeesWhatTheToolsSee) {
  ASSERT_FALSE(tools_missing_)
      << "the witness tools are missing (Debian packages dosfstools mtools fdisk qemu-utils "
         "libdsk-utils ewf-tools; ./test.sh installs them). Found only:\n"
      << tools_report_;
  const WitnessCase& row = GetParam();
  WitnessFolder folder;
  WriteHostFiles(folder);
  const ToolRun made = RunIn(folder.path(), row.make);
  ASSERT_EQ(made.status, 0) << made.output;

  std::vector<uint8_t> image = folder.Read("disk.img");
  if (row.before_witness) row.before_witness(image);
  folder.Write("disk.img", image);
  std::map<uint32_t, uint64_t> starts = {{0, 0}};
  if (row.kind == ContainerKind::kMbr) starts = PartitionStarts(folder);
  std::map<uint32_t, testing::WalkedVolume> witnessed;
  for (const ExpectedVolume& volume : row.volumes) {
    ASSERT_EQ(starts.count(volume.partition_number), 1u) << volume.partition_number;
    witnessed[volume.partition_number] = Witness(folder, starts[volume.partition_number]);
    EXPECT_FALSE(witnessed[volume.partition_number].files.empty());
  }
  if (row.after_witness) {
    row.after_witness(image);
    folder.Write("disk.img", image);
  }

  auto host_folder = OpenPosixFileSystem()->OpenFolder(folder.path());
  ASSERT_TRUE(host_folder.ok()) << host_folder.message();
  if (!row.wrap.empty()) {
    const ToolRun wrapped = RunIn(folder.path(), row.wrap);
    ASSERT_EQ(wrapped.status, 0) << wrapped.output;
    if (row.rewrap) folder.Write("disk.wrapped", row.rewrap(folder.Read("disk.wrapped")));
  }
  auto file =
      (*host_folder)->OpenFile(row.wrap.empty() ? "disk.img" : row.wrapped_file, OpenMode::kRead);
  ASSERT_TRUE(file.ok()) << file.message();
  std::shared_ptr<File> shared(std::move(*file));
  std::optional<OpenedContainer> opened =
      row.wrapper ? WrapperOpener().OpenWithSiblings(
                        shared, SiblingsIn(**host_folder, *shared->GetInfo(), row.wrapped_file))
                  : DiskImageOpener().Open(shared);
  ASSERT_TRUE(opened.has_value());
  ASSERT_EQ(opened->wrapper.has_value(), row.wrapper.has_value());
  if (row.wrapper) {
    EXPECT_EQ(opened->wrapper->kind, *row.wrapper);
    EXPECT_TRUE(opened->wrapper->damage.empty());
    std::vector<uint8_t> head(kContainerHeadBytes);
    shared->Seek(0, SeekOrigin::kBegin);
    head.resize(shared->Read(head.data(), head.size()));
    EXPECT_TRUE(WrapperOpener().MayOpen(head, *shared->Size()));
  }
  EXPECT_EQ(opened->kind, row.kind);
  EXPECT_EQ(opened->damage, row.damage);
  if (row.kind == ContainerKind::kMbr || row.volumes.empty()) {
    EXPECT_TRUE(std::equal(opened->boot_record.begin(), opened->boot_record.end(), image.begin()));
    EXPECT_EQ(opened->boot_record.size(), 512u);
  } else {
    EXPECT_TRUE(opened->boot_record.empty());
  }
  ASSERT_EQ(opened->volumes.size(), row.volumes.size());
  for (size_t i = 0; i < row.volumes.size(); ++i) {
    const ExpectedVolume& expected = row.volumes[i];
    ContainerVolume& volume = opened->volumes[i];
    SCOPED_TRACE("volume " + std::to_string(expected.partition_number));
    EXPECT_EQ(volume.partition_number, expected.partition_number);
    EXPECT_EQ(volume.letter, expected.letter);
    EXPECT_EQ(volume.kind, expected.kind);
    ASSERT_EQ(volume.boot_sector.size(), 512u);
    EXPECT_TRUE(
        std::equal(volume.boot_sector.begin(), volume.boot_sector.end(),
                   image.begin() + static_cast<ptrdiff_t>(starts[expected.partition_number])));
    const testing::WalkedVolume walked = WalkVolume(*volume.files);
    EXPECT_EQ(walked.folders, witnessed[expected.partition_number].folders);
    EXPECT_EQ(walked.files, witnessed[expected.partition_number].files);
    EXPECT_TRUE(walked.damage.empty());
  }
}

// The libraries of QCOW, VHDX, VMDK and E01 each carry a copy of the same I/O library, of
// different ages: one process holds the same disk open through each at once, as one scan of a
// folder of them does, and every file reads as mtools reads it from the raw image.
TEST(WrapperLibrariesTest, EachReadsItsDiskWhileTheOthersHoldTheirsOpen) {
  WitnessFolder folder;
  WriteHostFiles(folder);
  const ToolRun made = RunIn(folder.path(), Floppy(1440) + " && " + Ewf("-S 1M") +
                                                " && for f in qcow2 vhdx vmdk; do qemu-img "
                                                "convert -O $f disk.img disk.$f; done");
  ASSERT_EQ(made.status, 0) << made.output;
  const testing::WalkedVolume witnessed = Witness(folder, 0);
  auto host_folder = OpenPosixFileSystem()->OpenFolder(folder.path());
  ASSERT_TRUE(host_folder.ok()) << host_folder.message();
  std::vector<OpenedContainer> all;
  for (const std::string name : {"disk.qcow2", "disk.vhdx", "disk.vmdk", "disk.E01"}) {
    auto file = (*host_folder)->OpenFile(name, OpenMode::kRead);
    ASSERT_TRUE(file.ok()) << file.message();
    std::shared_ptr<File> shared(std::move(*file));
    std::optional<OpenedContainer> opened = WrapperOpener().OpenWithSiblings(
        shared, SiblingsIn(**host_folder, *shared->GetInfo(), name));
    ASSERT_TRUE(opened && opened->volumes.size() == 1) << name;
    all.push_back(std::move(*opened));
  }
  for (OpenedContainer& opened : all) {
    const testing::WalkedVolume walked = WalkVolume(*opened.volumes[0].files);
    EXPECT_EQ(walked.files, witnessed.files) << ContainerKindName(opened.wrapper->kind);
  }
}

INSTANTIATE_TEST_SUITE_P(Images, DiskImageWitnessTest, ::testing::ValuesIn(WitnessCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quarn

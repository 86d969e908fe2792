// Wrappers whose structure lies, made by qemu-img and then altered: a map entry past the
// file's end or over the file's own structure is the wrapper's damage, a differencing disk
// or a backing file is `unsupported` whatever its names say, and reading what is left never
// fails. The libraries open the file's own descriptor, never a name the image holds; the only
// siblings opened are a VMDK descriptor's extents, an E01's segments and a cue sheet's one
// file, plain names of one link in the folder. Floppy images (dsktrans's) whose records lie,
// break off or lack sectors are `damaged`.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/floppy_image_writer.h"
#include "containers/wrappers/floppy_formats.h"
#include "containers/wrappers/sibling_files.h"
#include "containers/wrappers/wrapper_opener.h"
#include "platform/byte_reader.h"
#include "platform/posix_folder.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

void PutBigU32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// A VHD structure's check sum made right again after a change.
void Resum(std::vector<uint8_t>& bytes, size_t start, size_t length, size_t checksum) {
  uint32_t sum = 0;
  for (size_t i = start; i < start + length; ++i) {
    if (i < checksum || i >= checksum + 4) sum += bytes[i];
  }
  PutBigU32(bytes, checksum, ~sum);
}

// Both copies of a dynamic VHD's footer, their check sums made right.
void PatchVhdFooters(std::vector<uint8_t>& vhd, size_t offset, uint32_t value) {
  for (const size_t footer : {size_t{0}, vhd.size() - 512}) {
    PutBigU32(vhd, footer + offset, value);
    Resum(vhd, footer, 512, footer + 64);
  }
}

size_t VhdHeader(const std::vector<uint8_t>& vhd) {
  return static_cast<size_t>(ReadBigU64(vhd, 16));
}

size_t VhdTable(const std::vector<uint8_t>& vhd) {
  return static_cast<size_t>(ReadBigU64(vhd, VhdHeader(vhd) + 16));
}

// A VMDK's descriptor naming its extent `name` instead of `own` (no shorter).
std::function<void(std::vector<uint8_t>&)> VmdkExtentNamed(std::string name,
                                                           std::string own = "disk.wrapped") {
  return [name, own = "\"" + own + "\""](std::vector<uint8_t>& vmdk) {
    const auto at = std::search(vmdk.begin(), vmdk.end(), own.begin(), own.end());
    ASSERT_NE(at, vmdk.end());
    std::string named = "\"" + name + "\"";
    named.resize(own.size(), ' ');
    std::copy(named.begin(), named.end(), at);
  };
}

// Where the data of sector `sector` (0 for the first) of track `track` lies in an ImageDisk
// file: its record's type byte.
size_t ImdRecord(const std::vector<uint8_t>& imd, size_t track, size_t sector) {
  size_t at = static_cast<size_t>(std::find(imd.begin(), imd.end(), 0x1A) - imd.begin()) + 1;
  for (size_t t = 0;; ++t) {
    const size_t count = imd[at + 3];
    at += 5 + count;
    for (size_t s = 0; s < count; ++s) {
      if (t == track && s == sector) return at;
      at += imd[at] == 0 ? 1 : imd[at] % 2 == 1 ? 1 + 512 : 2;
    }
  }
}

// Where sector `sector`'s header of track `track` lies in a plain TeleDisk file.
size_t Td0Sector(const std::vector<uint8_t>& td0, size_t track, size_t sector) {
  size_t at = 12;
  for (size_t t = 0;; ++t) {
    const size_t count = td0[at];
    at += 4;
    for (size_t s = 0; s < count; ++s) {
      if (t == track && s == sector) return at;
      at += (td0[at + 4] & 0x30) != 0 ? 6 : 8 + ReadU16(td0, at + 6);
    }
  }
}

void CutInHalf(std::vector<uint8_t>& bytes) {
  bytes.resize(bytes.size() / 2);
}

struct HostileCase {
  std::string name;
  std::string format;  // qemu-img's, or the whole command that makes disk.wrapped
  std::function<void(std::vector<uint8_t>&)> patch;
  ContainerKind wrapper;
  std::vector<ContainerDamage> damage;
  size_t volumes;
  // Given as bytes in memory, as a file inside another container is.
  bool in_memory = false;
  // Made by a command only root may run (giving a file away): skipped when it fails.
  bool needs_root = false;
};

void PrintTo(const HostileCase& row, std::ostream* out) {
  *out << row.name;
}

const ContainerDamage kDamaged{"", IncompleteReason::kDamaged};
const ContainerDamage kUnsupported{"", IncompleteReason::kUnsupported};

const std::string kDsktrans = "dsktrans -itype raw disk.img disk.wrapped >/dev/null -otype ";

const std::string kSplitVmdk =
    "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse disk.img disk.wrapped";
// An E01 set of two segments; its first is disk.wrapped, the second has the name the rule
// gives it, in the first's lower case.
const std::string kEwfSet =
    "ewfacquire -u -q -S 1M -t disk disk.img > /dev/null && mv disk.E01 disk.wrapped && "
    "mv disk.E02 disk.e02";

// An Ex01 header over an E01's: the later format's signature, version 2.1, segment 1.
void MakeEx01(std::vector<uint8_t>& ewf) {
  const uint8_t header[16] = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00, 2, 1, 0, 0, 1, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), ewf.begin());
}

// Makes disk.wrapped a cue sheet whose first track is `file`, in the folder beside cd.iso (an
// ISO of the file big); `more` follows that track.
std::string CueSheetNaming(const std::string& file, const std::string& more = "") {
  return "genisoimage -quiet -o cd.iso big && printf 'FILE \"%s\" BINARY\\n TRACK 01 "
         "MODE1/2048\\n INDEX 01 00:00:00\\n" +
         more + "' \"" + file + "\" > disk.wrapped";
}

std::vector<HostileCase> HostileCases() {
  return {
      {"vdi_block_past_the_end",
       "vdi",
       [](std::vector<uint8_t>& vdi) { WriteU32(&vdi[ReadU32(vdi, 0x154) + 4], 0x7FFFFFFF); },
       ContainerKind::kVdi,
       {kDamaged},
       1},
      // The data start moved onto the map: block 0 would be read from the header and the map.
      {"vdi_block_over_its_map",
       "vdi",
       [](std::vector<uint8_t>& vdi) { WriteU32(&vdi[0x158], ReadU32(vdi, 0x154)); },
       ContainerKind::kVdi,
       {kDamaged},
       0},
      {"vdi_differencing",
       "vdi",
       [](std::vector<uint8_t>& vdi) { WriteU32(&vdi[0x4C], 4); },
       ContainerKind::kVdi,
       {kUnsupported},
       0},
      {"vhd_block_past_the_end",
       "vpc",
       [](std::vector<uint8_t>& vhd) { PutBigU32(vhd, VhdTable(vhd), 0x7FFFFFFF); },
       ContainerKind::kVhd,
       {kDamaged},
       0},
      {"vhd_block_over_its_table",
       "vpc",
       [](std::vector<uint8_t>& vhd) {
         PutBigU32(vhd, VhdTable(vhd), static_cast<uint32_t>(VhdTable(vhd) / 512));
       },
       ContainerKind::kVhd,
       {kDamaged},
       0},
      // The parent named by an absolute path, and by locators climbing out of the folder.
      {"vhd_differencing_naming_its_parent_out_of_the_folder",
       "vpc",
       [](std::vector<uint8_t>& vhd) {
         const size_t header = VhdHeader(vhd);
         const std::string parent = "/etc/passwd";
         for (size_t i = 0; i < parent.size(); ++i) vhd[header + 64 + 2 * i + 1] = parent[i];
         const std::string climbing = "..\\..\\..\\etc\\passwd";
         const size_t data = vhd.size() - 1024;
         std::copy(climbing.begin(), climbing.end(), vhd.begin() + data);
         for (size_t slot = 0; slot < 2; ++slot) {
           const size_t locator = header + 576 + 24 * slot;
           std::copy_n(slot == 0 ? "W2ru" : "W2ku", 4, vhd.begin() + locator);
           PutBigU32(vhd, locator + 4, 512);
           PutBigU32(vhd, locator + 8, static_cast<uint32_t>(climbing.size()));
           PutBigU32(vhd, locator + 16, 0);
           PutBigU32(vhd, locator + 20, static_cast<uint32_t>(data));
         }
         Resum(vhd, header, 1024, header + 36);
         PatchVhdFooters(vhd, 60, 4);
       },
       ContainerKind::kVhd,
       {kUnsupported},
       0},
      // A QCOW2 whose backing file is named by an absolute path, then by one climbing out.
      {"qcow_backed_by_an_absolute_path",
       "qemu-img create -q -f qcow2 -b /etc/passwd -F raw disk.wrapped 1M",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kQcow,
       {kUnsupported},
       0},
      {"qcow_backed_by_a_path_out_of_the_folder",
       "qemu-img create -q -f qcow2 -b /etc/passwd -F raw disk.wrapped 1M",
       [](std::vector<uint8_t>& qcow) {
         const std::string climbing = "../../x";
         std::copy(climbing.begin(), climbing.end(),
                   qcow.begin() + static_cast<ptrdiff_t>(ReadBigU64(qcow, 8)));
         PutBigU32(qcow, 16, static_cast<uint32_t>(climbing.size()));
       },
       ContainerKind::kQcow,
       {kUnsupported},
       0},
      // The one extent of a single-file VMDK is the file itself, whatever its descriptor says.
      {"vmdk_extent_named_by_an_absolute_path",
       "vmdk",
       VmdkExtentNamed("/etc/passwd"),
       ContainerKind::kVmdk,
       {},
       1},
      {"vmdk_extent_named_out_of_the_folder",
       "vmdk",
       VmdkExtentNamed("../../x"),
       ContainerKind::kVmdk,
       {},
       1},
      // A descriptor's extent must be a plain name in its folder, not a link, of one link.
      {"vmdk_descriptor_naming_an_absolute_path",
       kSplitVmdk,
       VmdkExtentNamed("/etc/passwd", "disk-s001.wrapped"),
       ContainerKind::kVmdk,
       {kUnsupported},
       0},
      {"vmdk_descriptor_naming_a_path_out_of_the_folder",
       kSplitVmdk,
       VmdkExtentNamed("../../x", "disk-s001.wrapped"),
       ContainerKind::kVmdk,
       {kUnsupported},
       0},
      {"vmdk_descriptor_naming_a_link_out_of_the_folder",
       kSplitVmdk + " && ln -s /etc/passwd link",
       VmdkExtentNamed("link", "disk-s001.wrapped"),
       ContainerKind::kVmdk,
       {kUnsupported},
       0},
      {"vmdk_descriptor_naming_a_file_of_two_links",
       kSplitVmdk + " && ln disk-s001.wrapped twin",
       VmdkExtentNamed("twin", "disk-s001.wrapped"),
       ContainerKind::kVmdk,
       {kUnsupported},
       0},
      // 72 sectors on a track of a 1.44 MB floppy: more than any drive wrote on one.
      {"imd_sector_count_past_the_track",
       "cp disk.img disk.wrapped",
       [](std::vector<uint8_t>& raw) {
         raw = testing::ImdImage(raw, {20, 2, 72});
       },
       ContainerKind::kImd,
       {kDamaged},
       0},
      // The first track left unformatted when the floppy was imaged: no sector to read there.
      {"imd_track_without_sectors",
       kDsktrans + "imd",
       [](std::vector<uint8_t>& imd) {
         const size_t track = ImdRecord(imd, 0, 0) - 18 - 5;
         imd.erase(imd.begin() + static_cast<ptrdiff_t>(track),
                   imd.begin() + static_cast<ptrdiff_t>(ImdRecord(imd, 1, 0) - 18 - 5));
         imd.insert(imd.begin() + static_cast<ptrdiff_t>(track), {5, 0, 0, 0, 2});
       },
       ContainerKind::kImd,
       {kDamaged},
       0},
      {"imd_cut_short", kDsktrans + "imd", CutInHalf, ContainerKind::kImd, {kDamaged}, 0},
      // A sector of the big file's that was not read when the floppy was imaged.
      {"imd_sector_lost_when_imaged",
       kDsktrans + "imd",
       [](std::vector<uint8_t>& imd) {
         const size_t record = ImdRecord(imd, 3, 0);
         imd.erase(imd.begin() + static_cast<ptrdiff_t>(record) + 1,
                   imd.begin() + static_cast<ptrdiff_t>(record) + (imd[record] % 2 ? 513 : 2));
         imd[record] = 0;
       },
       ContainerKind::kImd,
       {kDamaged},
       1},
      {"td0_sector_lost_when_imaged",
       kDsktrans + "tele",
       [](std::vector<uint8_t>& td0) {
         const size_t header = Td0Sector(td0, 3, 0);
         td0.erase(td0.begin() + static_cast<ptrdiff_t>(header) + 6,
                   td0.begin() + static_cast<ptrdiff_t>(header) + 8 + ReadU16(td0, header + 6));
         td0[header + 4] |= 0x20;
       },
       ContainerKind::kTd0,
       {kDamaged},
       1},
      // The boot sector's runs fill more than its 512 bytes, under the advanced compression.
      {"td0_runs_lying_about_their_size",
       kDsktrans + "tele",
       [](std::vector<uint8_t>& td0) {
         ++td0[Td0Sector(td0, 0, 0) + 10];
         td0 = testing::PackTeleDisk(td0);
       },
       ContainerKind::kTd0,
       {kDamaged},
       0},
      {"td0_run_of_a_pattern_past_any_sector",
       kDsktrans + "tele",
       [](std::vector<uint8_t>& td0) { td0[Td0Sector(td0, 0, 0) + 9] = 0xFF; },
       ContainerKind::kTd0,
       {kDamaged},
       0},
      {"td0_cut_short", kDsktrans + "tele", CutInHalf, ContainerKind::kTd0, {kDamaged}, 0},
      // The compression of TeleDisk's first versions is not the advanced one.
      {"td0_old_compression",
       kDsktrans + "tele",
       [](std::vector<uint8_t>& td0) {
         td0 = testing::PackTeleDisk(td0);
         td0[4] = 0x10;
         WriteU16(&td0[10], TeleDiskCrc(std::span(td0).first(10)));
       },
       ContainerKind::kTd0,
       {kUnsupported},
       0},
      {"cqm_cut_short", kDsktrans + "copyqm", CutInHalf, ContainerKind::kCqm, {kDamaged}, 0},
      // libdsk reads a copy in memory: a floppy inside an archive opens as one on the host.
      {"imd_inside_a_container",
       kDsktrans + "imd",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kImd,
       {},
       1,
       true},
      {"vmdk_inside_a_container",
       "vmdk",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kVmdk,
       {kUnsupported},
       0,
       true},
      // Each names an ISO that would open, were the name followed.
      {"cue_naming_a_path_out_of_the_folder",
       CueSheetNaming("../$(basename \"$PWD\")/cd.iso"),
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kUnsupported},
       0},
      {"cue_naming_an_absolute_path",
       CueSheetNaming("$PWD/cd.iso"),
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kUnsupported},
       0},
      {"cue_naming_a_link",
       CueSheetNaming("link") + " && ln -s cd.iso link",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kUnsupported},
       0},
      {"cue_naming_two_files",
       CueSheetNaming("cd.iso",
                      "FILE cd.iso BINARY\\n TRACK 02 MODE1/2048\\n INDEX 01 00:00:00\\n"),
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kUnsupported},
       0},
      {"cue_inside_a_container",
       CueSheetNaming("cd.iso"),
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kUnsupported},
       0,
       true},
      {"cue_naming_a_file_that_holds_no_cd",
       CueSheetNaming("big"),
       [](std::vector<uint8_t>&) {},
       ContainerKind::kCdraw,
       {kDamaged},
       0},
      {"qcow_inside_a_container",
       "qcow2",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kQcow,
       {kUnsupported},
       0,
       true},
      // An E01's set is whole, each segment a plain file of one link and the wrapper's owner,
      // or nothing of it is read.
      {"ewf_segment_missing",
       kEwfSet + " && rm disk.e02",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kEwf,
       {kUnsupported},
       0},
      {"ewf_segment_a_link_out_of_the_folder",
       kEwfSet + " && mkdir out && mv disk.e02 out && ln -s out/disk.e02 disk.e02",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kEwf,
       {kUnsupported},
       0},
      {"ewf_segment_of_another_owner",
       kEwfSet + " && chown 65534 disk.e02",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kEwf,
       {kUnsupported},
       0,
       false,
       true},
      {"ewf_segment_cut_short",
       kEwfSet,
       [](std::vector<uint8_t>& ewf) { ewf.resize(ewf.size() - 1); },
       ContainerKind::kEwf,
       {kDamaged},
       0},
      {"ewf_ex01", kEwfSet, MakeEx01, ContainerKind::kEwf, {kUnsupported}, 0},
      // A byte of the boot sector's chunk changed: its check sum fails, and no volume is read
      // from what libewf would give.
      {"ewf_chunk_failing_its_check_sum",
       kEwfSet,
       [](std::vector<uint8_t>& ewf) {
         const std::string label = "FAT12   ";
         const auto at = std::search(ewf.begin(), ewf.end(), label.begin(), label.end());
         ASSERT_NE(at, ewf.end());
         *at = 'X';
       },
       ContainerKind::kEwf,
       {kDamaged},
       0},
      {"ewf_inside_a_container",
       "ewfacquire -u -q -t disk disk.img > /dev/null && mv disk.E01 disk.wrapped",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kEwf,
       {kUnsupported},
       0,
       true},
  };
}

class WrapperHostileTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(WrapperHostileTest, DamageIsTheWrappersAndTheRestIsRead) {
  const HostileCase& row = GetParam();
  testing::WitnessFolder folder;
  const std::string make = row.format.find(' ') != std::string::npos
                               ? row.format
                               : "qemu-img convert -O " + row.format + " disk.img disk.wrapped";
  const testing::ToolRun made =
      testing::RunIn(folder.path(),
                     "head -c 1200000 /dev/zero > big && mformat -C -f 1440 -i disk.img :: && "
                     "mcopy -i disk.img big ::BIG.BIN && " +
                         make);
  if (row.needs_root && made.status != 0) GTEST_SKIP() << "not root: " << made.output;
  ASSERT_EQ(made.status, 0) << made.output;
  std::vector<uint8_t> wrapped = folder.Read("disk.wrapped");
  row.patch(wrapped);
  folder.Write("disk.wrapped", wrapped);
  std::shared_ptr<File> file = testing::ImageFile(wrapped);
  std::optional<OpenedContainer> opened;
  if (row.in_memory) {
    opened = WrapperOpener().Open(file);
  } else {
    auto host = OpenPosixFileSystem()->OpenFolder(folder.path());
    ASSERT_TRUE(host.ok()) << host.message();
    auto opened_file = (*host)->OpenFile("disk.wrapped", OpenMode::kRead);
    ASSERT_TRUE(opened_file.ok()) << opened_file.message();
    file = std::move(*opened_file);
    opened = WrapperOpener().OpenWithSiblings(file,
                                              SiblingsIn(**host, *file->GetInfo(), "disk.wrapped"));
  }
  ASSERT_TRUE(opened.has_value());
  ASSERT_TRUE(opened->wrapper.has_value());
  EXPECT_EQ(opened->wrapper->kind, row.wrapper);
  EXPECT_EQ(opened->wrapper->damage, row.damage);
  ASSERT_EQ(opened->volumes.size(), row.volumes);
  if (row.volumes == 0) EXPECT_EQ(opened->kind, row.wrapper);
  for (ContainerVolume& volume : opened->volumes) testing::WalkVolume(*volume.files);
}

INSTANTIATE_TEST_SUITE_P(Wrappers, WrapperHostileTest, ::testing::ValuesIn(HostileCases()),
                         [](const auto& info) { return info.param.name; });

// Text that starts as a floppy image does, a header whose check sum fails: ordinary files,
// of which nothing is reported.
TEST(FloppyRecognitionTest, FilesThatOnlyStartLikeAFloppyImageAreOrdinary) {
  std::vector<uint8_t> td0(600, 0);
  td0[0] = 'T';
  td0[1] = 'D';
  std::vector<uint8_t> cqm(600, 1);
  std::copy_n("CQ\x14", 3, cqm.begin());
  const std::string imd = "IMD notes on the install disks\x1Athe rest";
  for (const std::vector<uint8_t>& bytes :
       {std::vector<uint8_t>(imd.begin(), imd.end()), td0, cqm}) {
    EXPECT_FALSE(WrapperOpener().Open(testing::ImageFile(bytes)).has_value());
  }
  EXPECT_FALSE(WrapperOpener().MayOpen(td0, td0.size()));
  EXPECT_FALSE(WrapperOpener().MayOpen(cqm, cqm.size()));
}

}  // namespace
}  // namespace quarn

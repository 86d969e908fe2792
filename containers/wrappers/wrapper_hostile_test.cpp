// Wrappers whose structure lies, made by qemu-img and then altered: a map entry past the
// file's end or over the file's own structure is the wrapper's damage, a differencing disk
// or a backing file is `unsupported` whatever its names say, and reading what is left never
// fails. The libraries open the file's own descriptor, never a name the image holds; the only
// siblings opened are a VMDK descriptor's extents and an E01's segments, plain names of one
// link in the folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "containers/test_support/disk_image_test_support.h"
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
      {"vmdk_inside_a_container",
       "vmdk",
       [](std::vector<uint8_t>&) {},
       ContainerKind::kVmdk,
       {kUnsupported},
       0,
       true},
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

}  // namespace
}  // namespace quarn

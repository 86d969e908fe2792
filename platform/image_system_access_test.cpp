#include "platform/image_system_access.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <vector>

#include "platform/registry_document.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

using Sector = std::array<uint8_t, kSectorSize>;

// An image whose every sector holds its own index in its first four bytes.
void WriteNumberedImage(const std::string& path, uint64_t sectors) {
  std::ofstream out(path, std::ios::binary);
  std::vector<char> sector(kSectorSize, 0);
  for (uint64_t i = 0; i < sectors; ++i) {
    for (int b = 0; b < 4; ++b) sector[b] = static_cast<char>(i >> (8 * b));
    out.write(sector.data(), sector.size());
  }
}

uint32_t IndexOf(const Sector& sector) {
  return sector[0] | (sector[1] << 8) | (sector[2] << 16) | (uint32_t{sector[3]} << 24);
}

TEST(DiskGeometry, FloppySizesAndSectorOffsets) {
  EXPECT_EQ(FloppyGeometryForSize(1440 * 1024), (SectorGeometry{80, 2, 18}));
  EXPECT_EQ(FloppyGeometryForSize(1200 * 1024), (SectorGeometry{80, 2, 15}));
  EXPECT_EQ(FloppyGeometryForSize(720 * 1024), (SectorGeometry{80, 2, 9}));
  EXPECT_EQ(FloppyGeometryForSize(360 * 1024), (SectorGeometry{40, 2, 9}));
  EXPECT_EQ(FloppyGeometryForSize(320 * 1024), (SectorGeometry{40, 2, 8}));
  EXPECT_EQ(FloppyGeometryForSize(2880 * 1024), (SectorGeometry{80, 2, 36}));
  EXPECT_EQ(FloppyGeometryForSize(1000), std::nullopt);

  const SectorGeometry floppy{80, 2, 18};
  EXPECT_EQ(SectorOffset(floppy, 0x0001, 0), 0u);
  EXPECT_EQ(SectorOffset(floppy, 0x0012, 0), 17u * 512);
  EXPECT_EQ(SectorOffset(floppy, 0x0001, 1), 18u * 512);
  EXPECT_EQ(SectorOffset(floppy, 0x0101, 0), 36u * 512) << "cylinder 1";
  EXPECT_EQ(SectorOffset(floppy, 0x0000, 0), std::nullopt) << "sectors count from 1";
  EXPECT_EQ(SectorOffset(floppy, 0x0013, 0), std::nullopt);
  EXPECT_EQ(SectorOffset(floppy, 0x0001, 2), std::nullopt);
  EXPECT_EQ(SectorOffset(floppy, 0x5001, 0), std::nullopt);

  EXPECT_EQ(HardDiskGeometryForSize(0), (SectorGeometry{1, 16, 63}));
  EXPECT_EQ(HardDiskGeometryForSize(16 * 63 * 512 + 1), (SectorGeometry{2, 16, 63}));
}

TEST(DiskMapping, TextAndStoreForms) {
  auto plain = ParseDiskMapping(0x80, "/img/a,b.img");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->image, "/img/a,b.img");
  EXPECT_FALSE(plain->geometry);
  auto sized = ParseDiskMapping(0, "/img/a.img,80/2/18");
  ASSERT_TRUE(sized.ok());
  EXPECT_EQ(sized->image, "/img/a.img");
  EXPECT_EQ(sized->geometry, (SectorGeometry{80, 2, 18}));
  EXPECT_FALSE(ParseDiskMapping(0, "").ok());

  auto settings = ParseRegistryText(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Disks]\n\"0\"=\"/f.img\"\n"
      "\"0x80\"=\"/h.img,10/4/17\"\n",
      "settings.reg");
  ASSERT_TRUE(settings.ok()) << settings.message();
  auto disks = DiskMappingsFromSettings(*settings);
  ASSERT_TRUE(disks.ok()) << disks.message();
  ASSERT_EQ(disks->size(), 2u);
  EXPECT_EQ((*disks)[1], (DiskMapping{0x80, "/h.img", SectorGeometry{10, 4, 17}}));

  auto bad = ParseRegistryText(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Disks]\n\"2\"=\"/f.img\"\n",
      "settings.reg");
  ASSERT_TRUE(bad.ok());
  EXPECT_NE(DiskMappingsFromSettings(*bad).message().find("\"2\""), std::string::npos);
}

class ImageSystemAccessTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
};

// A sector the disk cannot deliver whole is a failed read, never zeros that would pass for a
// clean boot sector; the buffer stays as it was.
TEST_F(ImageSystemAccessTest, ASectorTheDiskCannotDeliverWholeIsAFailedRead) {
  WriteNumberedImage(scratch_.Child("floppy.img"), 2880);
  WriteNumberedImage(scratch_.Child("short.img"), 3);
  { std::ofstream(scratch_.Child("tiny.img"), std::ios::binary) << std::string(100, 'x'); }
  ImageSystemAccess access({{0, scratch_.Child("floppy.img"), std::nullopt},
                            {1, scratch_.Child("tiny.img"), std::nullopt},
                            {0x80, scratch_.Child("short.img"), std::nullopt}},
                           std::nullopt);
  const struct {
    const char* what;
    uint16_t cylinder_sector;
    uint16_t head_drive;
  } cases[] = {
      {"sector 19 of 18", 0x0013, 0x0000},
      {"past the end of a short image", 0x0005, 0x0080},
      {"an image shorter than a sector", 0x0001, 0x0001},
      {"a disk without a mapping", 0x0001, 0x0081},
  };
  for (const auto& c : cases) {
    Sector sector;
    sector.fill(0xEE);
    EXPECT_FALSE(access.CallReadPhysicalSector1(c.cylinder_sector, c.head_drive, sector)) << c.what;
    EXPECT_EQ(sector[0], 0xEE) << c.what << ": left as it was";
  }
}

TEST_F(ImageSystemAccessTest, WritesLandInPlaceAndNeverGrowTheImage) {
  WriteNumberedImage(scratch_.Child("floppy.img"), 2880);
  ImageSystemAccess access({{0, scratch_.Child("floppy.img"), std::nullopt}}, std::nullopt);
  Sector sector{};
  sector[0] = 0x42;
  sector[511] = 0xAA;
  EXPECT_EQ(access.CallWritePhysicalSector1(0x0002, 0x0100, sector), SectorWriteResult::kWritten);
  Sector back;
  ASSERT_TRUE(access.CallReadPhysicalSector1(0x0002, 0x0100, back));
  EXPECT_EQ(back, sector);
  EXPECT_EQ(access.CallWritePhysicalSector1(0x5001, 0x0000, sector), SectorWriteResult::kRefused)
      << "cylinder 80";
  struct stat status;
  ASSERT_EQ(stat(scratch_.Child("floppy.img").c_str(), &status), 0);
  EXPECT_EQ(status.st_size, 2880 * 512);
  // A file renamed into the image's place (a scan's working copy) is the disk from then on:
  // a write to the old one would be lost with it.
  WriteNumberedImage(scratch_.Child("new.img"), 2880);
  ASSERT_EQ(rename(scratch_.Child("new.img").c_str(), scratch_.Child("floppy.img").c_str()), 0);
  ASSERT_TRUE(access.CallReadPhysicalSector1(0x0002, 0x0100, back));
  EXPECT_EQ(IndexOf(back), 18u + 1);
  EXPECT_EQ(access.CallWritePhysicalSector1(0x0002, 0x0100, sector), SectorWriteResult::kWritten);
  std::ifstream in(scratch_.Child("floppy.img"), std::ios::binary);
  in.seekg(19 * 512);
  EXPECT_EQ(in.get(), 0x42);
}

TEST_F(ImageSystemAccessTest, AnImageThatCannotBeWrittenRefusesTheWrite) {
  WriteNumberedImage(scratch_.Child("locked.img"), 2880);
  chmod(scratch_.Child("locked.img").c_str(), 0444);
  if (geteuid() == 0) GTEST_SKIP() << "root writes read-only files";
  ImageSystemAccess access({{0, scratch_.Child("locked.img"), std::nullopt}}, std::nullopt);
  Sector sector{};
  EXPECT_EQ(access.CallWritePhysicalSector1(0x0001, 0x0000, sector), SectorWriteResult::kRefused);
  EXPECT_TRUE(access.CallReadPhysicalSector1(0x0001, 0x0000, sector)) << "reading still works";
}

TEST_F(ImageSystemAccessTest, AMappingThatCannotBeOpenedIsToldApartFromAProtectedDisk) {
  ImageSystemAccess access(
      {{0, scratch_.Child("missing.img"), std::nullopt}, {1, scratch_.path(), std::nullopt}},
      std::nullopt);
  Sector sector;
  sector.fill(0xEE);
  for (uint8_t drive : {0, 1}) {
    EXPECT_FALSE(access.CallReadPhysicalSector1(0x0001, drive, sector)) << int{drive};
    EXPECT_EQ(sector[0], 0xEE) << "the buffer stays as it was";
    EXPECT_EQ(access.CallWritePhysicalSector1(0x0001, drive, sector),
              SectorWriteResult::kCannotOpen)
        << int{drive};
  }
}

TEST_F(ImageSystemAccessTest, LowMemoryComesFromTheImageAndZerosBeyond) {
  {
    std::ofstream out(scratch_.Child("memory.img"), std::ios::binary);
    std::vector<char> bytes(0x20010, 0);
    bytes[0x12345] = 0x5A;
    bytes[0x2000F] = 0x77;
    out.write(bytes.data(), bytes.size());
  }
  ImageSystemAccess access({}, scratch_.Child("memory.img"));
  std::vector<uint8_t> window(0xFFFF, 0xEE);
  access.CopyMemDos(0x1000, 0, window);
  EXPECT_EQ(window[0x2345], 0x5A);
  access.CopyMemDos(0x2000, 0, window);
  EXPECT_EQ(window[0xF], 0x77);
  EXPECT_EQ(window[0x10], 0) << "past the image's end";
  ImageSystemAccess none({}, std::nullopt);
  window.assign(16, 0xEE);
  none.CopyMemDos(0, 0, window);
  EXPECT_EQ(window, std::vector<uint8_t>(16, 0));

  // Zeros are promised only where the image cannot deliver anything else.
  EXPECT_FALSE(access.DosMemoryIsZero(0x1000, 0, 0xFFFF));
  EXPECT_FALSE(access.DosMemoryIsZero(0x2000, 0, 0xFFFF));
  EXPECT_TRUE(access.DosMemoryIsZero(0x2001, 0, 0xFFFF));
  EXPECT_TRUE(none.DosMemoryIsZero(0, 0, 0xFFFF));
  ImageSystemAccess missing({}, scratch_.Child("no such image"));
  EXPECT_TRUE(missing.DosMemoryIsZero(0, 0, 0xFFFF));
}

}  // namespace
}  // namespace quarn

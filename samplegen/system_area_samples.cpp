#include "samplegen/system_area_samples.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/file_contents.h"
#include "sysarea/floppy_boot_sector.h"

namespace quarn::samples {
namespace {

using Sector = std::array<uint8_t, kSectorSize>;

constexpr size_t kFloppy360KSectors = 720;
constexpr uint8_t kSectorsPerTrack360K = 9;
constexpr uint8_t kHardDiskSectorsPerTrack = 63;
constexpr uint32_t kSerialNumber = 0x1995C0DE;

void Put(std::vector<uint8_t>& bytes, size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutSector(std::vector<uint8_t>& image, size_t lba, const Sector& sector) {
  std::copy(sector.begin(), sector.end(),
            image.begin() + static_cast<std::ptrdiff_t>(lba * kSectorSize));
}

size_t FloppyLba(uint8_t cylinder, uint8_t head, uint8_t sector) {
  return (size_t{cylinder} * 2 + head) * kSectorsPerTrack360K + sector - 1;
}

Sector CleanFloppyBootSector() {
  return FloppyBootSector(*FloppyFormatFor(kFloppyFormat360K), kSerialNumber);
}

// The clean sector's parameter block, and in place of its loader the family's mark and the
// two words that say where the original went: cylinder 0, sector 9, head 0, which the
// record's increment of 1 carries past the track to cylinder 0, head 1, sector 1.
Sector InfectedFloppyBootSector() {
  Sector sector = CleanFloppyBootSector();
  std::vector<uint8_t> bytes(sector.begin(), sector.end());
  std::fill(bytes.begin() + kBootLoaderField, bytes.begin() + kBootSectorMarkField, 0);
  const size_t loader = 2 + bytes[1];  // the short jump's target
  Put(bytes, loader, "QTFBOOT1");
  Put(bytes, loader + 0x20, "BOT1");
  bytes[0x1F0] = kSectorsPerTrack360K;  // cylinder-sector 0x0009
  bytes[0x1F1] = 0;
  bytes[0x1F2] = 0;  // head-drive 0x0000
  bytes[0x1F3] = 0;
  std::copy(bytes.begin(), bytes.end(), sector.begin());
  return sector;
}

std::vector<uint8_t> FloppyImage(const Sector& boot, const Sector* original) {
  std::vector<uint8_t> image(kFloppy360KSectors * kSectorSize, 0);
  PutSector(image, 0, boot);
  if (original != nullptr) PutSector(image, FloppyLba(0, 1, 1), *original);
  return image;
}

// Two tracks: the master boot record, then the boot sector of the first partition at
// cylinder 0, head 1, sector 1, where the scan looks for a fixed disk's boot sector.
std::vector<uint8_t> HardDiskImage(const Sector& mbr) {
  std::vector<uint8_t> image(2 * kHardDiskSectorsPerTrack * kSectorSize, 0);
  PutSector(image, 0, mbr);
  PutSector(image, kHardDiskSectorsPerTrack,
            FloppyBootSector(*FloppyFormatFor(kFloppyFormat1440K), kSerialNumber));
  return image;
}

Sector MasterBootRecord(std::string_view at_0x10, std::string_view at_0x40) {
  std::vector<uint8_t> bytes(kSectorSize, 0);
  Put(bytes, 0x10, at_0x10);
  Put(bytes, 0x40, at_0x40);
  bytes[kBootSectorMarkField] = 0x55;
  bytes[kBootSectorMarkField + 1] = 0xAA;
  Sector sector;
  std::copy(bytes.begin(), bytes.end(), sector.begin());
  return sector;
}

std::vector<uint8_t> MemoryImage() {
  std::vector<uint8_t> memory(4096, 0);
  Put(memory, 0x600, "QTFMEMORY001");
  memory[0x610] = 0x54;  // the confirmation word 0x5154
  memory[0x611] = 0x51;
  return memory;
}

std::string DescribeVirus(uint32_t virus) {
  return virus == 0 ? "clean" : "infected by " + std::to_string(virus);
}

}  // namespace

std::vector<SystemAreaSample> BuildSystemAreaSamples() {
  const Sector clean = CleanFloppyBootSector();
  const Sector infected = InfectedFloppyBootSector();
  std::vector<SystemAreaSample> samples;
  samples.push_back(
      {"floppy-boot-infected.img", "360 KB floppy, boot sector infected; the original at 0/1/1",
       ImageKind::kFloppy, FloppyImage(infected, &clean), kBootFamily, FloppyImage(clean, &clean)});
  samples.push_back({"floppy-clean.img", "360 KB floppy with a clean boot sector",
                     ImageKind::kFloppy, FloppyImage(clean, nullptr), 0, std::nullopt});
  samples.push_back({"hard-disk-mbr-pattern.img",
                     "hard disk, master boot record with the MBR pattern family",
                     ImageKind::kHardDisk, HardDiskImage(MasterBootRecord("QTFMBR01", "MBR1")),
                     kMbrFamily, std::nullopt});
  samples.push_back({"hard-disk-mbr-sequence.img",
                     "hard disk, master boot record with the MBR subsequence family",
                     ImageKind::kHardDisk, HardDiskImage(MasterBootRecord("Q.T.F.S.E.Q", "")),
                     kMbrSequenceFamily, std::nullopt});
  samples.push_back({"memory-infected.img", "4 KiB of low memory with the memory family's mark",
                     ImageKind::kMemory, MemoryImage(), kMemoryFamily, std::nullopt});
  return samples;
}

Status WriteSystemAreaSamples(Folder& folder, const std::vector<SystemAreaSample>& samples) {
  std::string manifest =
      "# Disk and memory images for quarnscan --disk and --memory-image: name, verdict\n"
      "# (VirusId), description.\n";
  for (const SystemAreaSample& sample : samples) {
    if (Status written = WriteFileAtomically(folder, sample.name, sample.bytes); !written) {
      return written;
    }
    manifest += sample.name + "\t" + DescribeVirus(sample.virus) + "\t" + sample.description + "\n";
  }
  return WriteFileAtomically(folder, "MANIFEST.txt",
                             std::vector<uint8_t>(manifest.begin(), manifest.end()));
}

}  // namespace quarn::samples

#include "sysarea/floppy_boot_sector.h"

#include <algorithm>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint16_t kBootCylinderSector = 0x0001;  // cylinder 0, sector 1
constexpr uint8_t kFirstFloppy = 0;
constexpr uint8_t kSecondFloppy = 1;
constexpr uint8_t kExtendedBootSignature = 0x29;

constexpr uint8_t kJumpToLoader[] = {0xEB, 0x3E, 0x90};
constexpr char kOemName[] = "DOS";

// CLI; zero SS with SP at 0x7C00; DS = ES = CS; then print the zero-terminated text at
// 0x7C61 with INT 10h AH=0Eh (page 0, attribute 7) and loop on the last jump.
constexpr uint8_t kLoader[] = {0xFA, 0x33, 0xC0, 0xBC, 0x00, 0x7C, 0x8E, 0xD0, 0xFB, 0x0E, 0x1F,
                               0x0E, 0x07, 0xFC, 0xBE, 0x61, 0x7C, 0xBB, 0x07, 0x00, 0xAC, 0x0A,
                               0xC0, 0x74, 0x06, 0xB4, 0x0E, 0xCD, 0x10, 0xEB, 0xF5, 0xEB, 0xFE};
static_assert(kBootLoaderField + sizeof(kLoader) == kBootMessageField,
              "the loader's SI points right behind it");
static_assert(kBootMessageField + kNonSystemDiskMessage.size() + 1 <= kBootSectorTemplateSize,
              "the message and its terminator fit the template");

void WriteParameterBlock(const FloppyFormatParameters& p, uint8_t* sector) {
  WriteU16(sector + kBootBytesPerSectorField, p.bytes_per_sector);
  sector[kBootSectorsPerClusterField] = p.sectors_per_cluster;
  WriteU16(sector + kBootReservedSectorsField, p.reserved_sectors);
  sector[kBootFatCountField] = p.fat_count;
  WriteU16(sector + kBootRootEntriesField, p.root_entries);
  WriteU16(sector + kBootTotalSectorsField, p.total_sectors);
  sector[kBootMediaDescriptorField] = p.media_descriptor;
  WriteU16(sector + kBootSectorsPerFatField, p.sectors_per_fat);
  WriteU16(sector + kBootSectorsPerTrackField, p.sectors_per_track);
  WriteU16(sector + kBootHeadsField, p.heads);
  WriteU32(sector + kBootHiddenSectorsField, p.hidden_sectors);
  WriteU32(sector + kBootTotalSectors32Field, p.total_sectors_32);
}

}  // namespace

std::optional<FloppyFormatParameters> FloppyFormatFor(int format_id) {
  for (const FloppyFormat& format : kFloppyFormats) {
    if (format.id == format_id) return format.parameters;
  }
  return std::nullopt;
}

std::array<uint8_t, kBootSectorTemplateSize> BootSectorTemplate(
    const FloppyFormatParameters& parameters, uint32_t serial_number) {
  std::array<uint8_t, kBootSectorTemplateSize> bytes{};
  std::copy(std::begin(kJumpToLoader), std::end(kJumpToLoader), bytes.begin() + kBootJumpField);
  // The name's other five bytes stay zero.
  std::copy_n(kOemName, sizeof(kOemName) - 1, bytes.begin() + kBootOemNameField);
  WriteParameterBlock(parameters, bytes.data());
  bytes[kBootSignatureField] = kExtendedBootSignature;
  WriteU32(bytes.data() + kBootSerialNumberField, serial_number);
  std::copy(std::begin(kLoader), std::end(kLoader), bytes.begin() + kBootLoaderField);
  std::copy(kNonSystemDiskMessage.begin(), kNonSystemDiskMessage.end(),
            bytes.begin() + kBootMessageField);
  return bytes;
}

std::array<uint8_t, kSectorSize> FloppyBootSector(const FloppyFormatParameters& parameters,
                                                  uint32_t serial_number) {
  std::array<uint8_t, kSectorSize> sector{};
  const auto head = BootSectorTemplate(parameters, serial_number);
  std::copy(head.begin(), head.end(), sector.begin());
  sector[kBootSectorMarkField] = 0x55;
  sector[kBootSectorMarkField + 1] = 0xAA;
  return sector;
}

FloppyBootFixResult WriteFloppyBootSector(SystemAccess& system, UserInterface& ui, uint8_t drive,
                                          int format_id) {
  FloppyBootFixResult result;
  // The head-drive word would otherwise let the fix reach a hard disk's first sector.
  if (drive != kFirstFloppy && drive != kSecondFloppy) {
    result.outcome = FloppyBootFixOutcome::kNotAFloppy;
    return result;
  }
  const std::optional<FloppyFormatParameters> parameters = FloppyFormatFor(format_id);
  if (!parameters) {
    result.outcome = FloppyBootFixOutcome::kUnknownFormat;
    return result;
  }
  if (!system.SectorsChangeable(drive)) {
    result.outcome = FloppyBootFixOutcome::kNotChangeable;
    return result;
  }

  const uint16_t head_drive = drive;  // head 0
  std::array<uint8_t, kSectorSize> old_sector{};
  result.old_sector_read = ReadBootSector(system, ui, kBootCylinderSector, head_drive, old_sector);
  // A disk whose boot sector cannot be read is still rewritten, with serial number 0: a
  // damaged boot sector is what the fix is for.
  result.serial_number = result.old_sector_read ? ReadU32(old_sector, kBootSerialNumberField) : 0;

  const auto sector = FloppyBootSector(*parameters, result.serial_number);
  result.outcome = WriteBootSector(system, ui, kBootCylinderSector, head_drive, sector) != 0
                       ? FloppyBootFixOutcome::kRewritten
                       : FloppyBootFixOutcome::kWriteFailed;
  return result;
}

}  // namespace quarn

// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/user_interface.h"
#include "platform/system_access.h"
#include "sysarea/boot_sector_io.h"

namespace quarn {

// The standard BIOS parameter block of a floppy format, as the boot sector holds it.
struct FloppyFormatParameters {
  uint16_t bytes_per_sector = 0;
  uint8_t sectors_per_cluster = 0;
  uint16_t reserved_sectors = 0;
  uint8_t fat_count = 0;
  uint16_t root_entries = 0;
  uint16_t total_sectors = 0;
  uint8_t media_descriptor = 0;
  uint16_t sectors_per_fat = 0;
  uint16_t sectors_per_track = 0;
  uint16_t heads = 0;
  uint32_t hidden_sectors = 0;
  uint32_t total_sectors_32 = 0;
};

// A format the boot fix offers, by the id of its radio button. There is no 2.88 MB format:
// its id does not exist, and an id without a format writes nothing.
struct FloppyFormat {
  int id;
  std::string_view label;
  FloppyFormatParameters parameters;
};

inline constexpr int kFloppyFormat1440K = 1033;
inline constexpr int kFloppyFormat720K = 1034;
inline constexpr int kFloppyFormat320K = 1035;
inline constexpr int kFloppyFormat360K = 1036;
inline constexpr int kFloppyFormat1200K = 1037;

inline constexpr FloppyFormat kFloppyFormats[] = {
    {kFloppyFormat1440K, "3 1/2\"  - 1.44 Mb", {512, 1, 1, 2, 224, 2880, 0xF0, 9, 18, 2, 0, 0}},
    {kFloppyFormat720K, "3 1/2\" - 720 Kb", {512, 2, 1, 2, 112, 1440, 0xF9, 3, 9, 2, 0, 0}},
    {kFloppyFormat320K, "5 1/4\" - 320 Kb", {512, 2, 1, 2, 112, 640, 0xFF, 1, 8, 2, 0, 0}},
    {kFloppyFormat360K, "5 1/4\" - 360 Kb", {512, 2, 1, 2, 112, 720, 0xFD, 2, 9, 2, 0, 0}},
    {kFloppyFormat1200K, "5 1/4\" - 1.2 Mb", {512, 1, 1, 2, 224, 2400, 0xF9, 7, 15, 2, 0, 0}},
};

// The parameters of format `format_id`, or nothing for an id outside 1033–1037.
std::optional<FloppyFormatParameters> FloppyFormatFor(int format_id);

// Boot-sector offsets of the fields the fix writes.
inline constexpr size_t kBootJumpField = 0x00;
inline constexpr size_t kBootOemNameField = 0x03;
inline constexpr size_t kBootBytesPerSectorField = 0x0B;
inline constexpr size_t kBootSectorsPerClusterField = 0x0D;
inline constexpr size_t kBootReservedSectorsField = 0x0E;
inline constexpr size_t kBootFatCountField = 0x10;
inline constexpr size_t kBootRootEntriesField = 0x11;
inline constexpr size_t kBootTotalSectorsField = 0x13;
inline constexpr size_t kBootMediaDescriptorField = 0x15;
inline constexpr size_t kBootSectorsPerFatField = 0x16;
inline constexpr size_t kBootSectorsPerTrackField = 0x18;
inline constexpr size_t kBootHeadsField = 0x1A;
inline constexpr size_t kBootHiddenSectorsField = 0x1C;
inline constexpr size_t kBootTotalSectors32Field = 0x20;
inline constexpr size_t kBootSignatureField = 0x26;  // 0x29: the serial number follows
inline constexpr size_t kBootSerialNumberField = 0x27;
inline constexpr size_t kBootLoaderField = 0x40;
inline constexpr size_t kBootMessageField = 0x61;
inline constexpr size_t kBootSectorMarkField = 0x1FE;  // 0x55, 0xAA

inline constexpr size_t kBootSectorTemplateSize = 160;
inline constexpr std::string_view kNonSystemDiskMessage =
    "Disco non di sistema. Spegni il computer e fallo ripartire.";

// The first 160 bytes of the new sector: a jump to the loader, OEM name "DOS", the
// parameter block, extended signature 0x29 with `serial_number`, no label or file-system
// text, and a loader that prints kNonSystemDiskMessage through the BIOS and halts.
std::array<uint8_t, kBootSectorTemplateSize> BootSectorTemplate(
    const FloppyFormatParameters& parameters, uint32_t serial_number);

// The whole sector: the template, zeros, and 0x55 0xAA at 510–511.
std::array<uint8_t, kSectorSize> FloppyBootSector(const FloppyFormatParameters& parameters,
                                                  uint32_t serial_number);

enum class FloppyBootFixOutcome {
  kNotAFloppy,     // a drive other than 0 (A:) and 1 (B:): nothing read or written
  kUnknownFormat,  // nothing read or written, no message
  kNotChangeable,  // a disk inside a wrapper: nothing read or written; kCannotChangeText + "A:"
  kWriteFailed,    // not written: kWriteProtectedText, caption "Errore", stop icon
  kRewritten,      // kBootSectorRewrittenText, caption kFloppyBootFixCaption
};

struct FloppyBootFixResult {
  FloppyBootFixOutcome outcome = FloppyBootFixOutcome::kUnknownFormat;
  // False when the old sector could not be read (the drive's mapping could not be opened);
  // the sector was then built with serial number 0, and a caller may say so first.
  bool old_sector_read = false;
  uint32_t serial_number = 0;  // the serial number written
};

inline constexpr std::string_view kFloppyBootFixCaption = "Floppy Disk Boot Fix";
// The string table's id of the message after a rewrite.
inline constexpr int kBootSectorRewrittenText = 490;

// Replaces the boot sector (cylinder-sector 0x0001, head 0) of floppy `drive` (0 = A:,
// 1 = B:) by FloppyBootSector of the format, keeping the serial number of the sector it
// replaces; the old sector is not otherwise looked at. Shows only what ReadBootSector and
// WriteBootSector say about a disk that cannot be opened; the caller shows the message the
// outcome names.
FloppyBootFixResult WriteFloppyBootSector(SystemAccess& system, UserInterface& ui, uint8_t drive,
                                          int format_id);

}  // namespace quarn

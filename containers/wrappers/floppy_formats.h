#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "containers/container.h"

namespace quarn {

// A floppy image is at most this many bytes, packed or unpacked: an extra-density 3.5" disk
// holds 2.88 MB, and an image that grows past 16 MiB is no floppy's.
inline constexpr uint64_t kMostFloppyBytes = uint64_t{16} << 20;

// What the structure of a preservation floppy image (ImageDisk, TeleDisk, CopyQM) says,
// checked record by record before any library reads it.
struct FloppyLayout {
  ContainerKind kind = ContainerKind::kImd;
  // The image as the library is to read it: a TeleDisk file's advanced compression unpacked,
  // its header then saying so.
  std::vector<uint8_t> image;
  // The bytes of sectors the records hold, unpacked.
  uint64_t sector_bytes = 0;
  // Why the image is not read at all: a record that runs past the end or lies about its
  // sizes (`damaged`), a track or image past a floppy's size (`size`), the old TeleDisk
  // compression (`unsupported`).
  std::optional<IncompleteReason> refused;
};

// Which of these images a file that starts with `head` may be: ImageDisk's "IMD " line,
// TeleDisk's "TD"/"td" header with its check sum, CopyQM's "CQ\x14" header summing to 0.
std::optional<ContainerKind> FloppyKind(std::span<const uint8_t> head);

// Nothing when `file` is none of them.
std::optional<FloppyLayout> ReadFloppyLayout(std::span<const uint8_t> file);

// TeleDisk's check sum of headers and records: CRC-16, polynomial 0xA097, highest bit first.
uint16_t TeleDiskCrc(std::span<const uint8_t> bytes);

}  // namespace quarn

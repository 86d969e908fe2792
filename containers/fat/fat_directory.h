#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "containers/fat/fat_volume.h"

namespace quarn {

// More slots than the 65,536 a FAT folder may hold, many times over: a longer folder is a
// chain gone astray, and reading stops there.
inline constexpr uint32_t kMaxDirectorySlots = 1u << 20;

inline constexpr uint8_t kAttributeReadOnly = 0x01;
inline constexpr uint8_t kAttributeHidden = 0x02;
inline constexpr uint8_t kAttributeSystem = 0x04;
inline constexpr uint8_t kAttributeVolumeLabel = 0x08;
inline constexpr uint8_t kAttributeFolder = 0x10;
inline constexpr uint8_t kAttributeArchive = 0x20;

// One file or folder of a FAT folder, as its entry describes it.
struct DirectoryRecord {
  // The long name where a valid one goes with the entry, else NAME.EXT; UTF-8.
  std::string name;
  // NAME.EXT without padding, from code page 437; UTF-8.
  std::string short_name;
  // The name held "/", "\", a NUL or a control character, each shown as U+FFFD: no folder
  // that DOS or Windows wrote holds one, and a path built from it would name another entry.
  bool name_damaged = false;
  uint8_t attributes = 0;
  uint32_t first_cluster = 0;
  uint32_t size = 0;
  uint16_t write_time = 0;
  uint16_t write_date = 0;
  // Where the entry lies on the volume: what names an empty file, which has no cluster.
  uint64_t entry_offset = 0;
  // Where the long-name entries that go with it lie, in the order they are stored; empty
  // without a long name.
  std::vector<uint64_t> long_name_offsets;
  bool IsFolder() const { return (attributes & kAttributeFolder) != 0; }
};

struct DirectoryListing {
  // Files and folders in entry order; no volume label, deleted entry, "." or "..".
  std::vector<DirectoryRecord> records;
  // The folder's chain broke, looped or crossed another, or it ran past the image or past
  // kMaxDirectorySlots: what came before is listed.
  bool damaged = false;
};

// The folder whose chain starts at `first_cluster`, or the fixed root folder of a FAT12 or
// FAT16 volume when `fixed_root` is set.
DirectoryListing ReadDirectory(FatVolume& volume, uint32_t first_cluster, bool fixed_root);

// The checksum of an 11-byte short name that its long-name entries repeat.
uint8_t ShortNameChecksum(const uint8_t* short_name);

}  // namespace quarn

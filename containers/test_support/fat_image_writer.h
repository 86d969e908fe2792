#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Builders for disk images: FAT12/16/32 volumes with folders, files and long names, and
// MBR partition tables with primary and logical partitions. Deterministic (the same calls
// give the same bytes), so the samples generator and the tests may both use them; the
// layout accessors describe exactly what Build() wrote, so a test may damage it.
namespace quarn::testing {

struct FatLayout {
  uint32_t bytes_per_sector = 512;
  uint32_t sectors_per_cluster = 1;
  uint32_t reserved_sectors = 1;
  uint32_t fat_count = 2;
  uint32_t root_entries = 224;  // 0 for FAT32
  uint32_t sectors_per_fat = 9;
  uint32_t total_sectors = 2880;
  uint8_t media = 0xF0;
  int fat_bits = 12;  // 12, 16 or 32: what the cluster count makes it
  // Without it the boot sector is zeros (a DOS 1.x floppy, or one a virus overwrote).
  bool parameter_block = true;
  bool boot_signature = true;  // 55 AA
};

// The standard floppy formats by size in KiB: 160, 180, 320, 360, 720, 1200, 1440, 2880,
// and 1680 for the distribution format (21 sectors a track, 2 KiB clusters).
FatLayout FloppyLayout(uint32_t kilobytes);
// A FAT16 or FAT32 volume of `sectors` sectors with the smallest FAT that fits it.
FatLayout HardDiskLayout(int fat_bits, uint32_t sectors, uint32_t sectors_per_cluster);

class FatImageWriter {
 public:
  explicit FatImageWriter(FatLayout layout) : layout_(layout) {}

  // Paths use "/" between folders; components are UTF-8. A component that fits 8.3 in
  // upper case (code page 437 letters allowed) gets a short entry alone, any other a long
  // name and a "~N" short alias. Parent folders are made as needed.
  FatImageWriter& AddFolder(const std::string& path);
  FatImageWriter& AddFile(const std::string& path, const std::vector<uint8_t>& bytes);
  // A volume label entry in the root, which a reader must not list.
  FatImageWriter& Label(const std::string& label);
  // A deleted entry in the root, which a reader must not list.
  FatImageWriter& AddDeleted(const std::string& short_name);
  // Hands out clusters in a scattered order, so no chain runs straight.
  FatImageWriter& Fragment();

  // Throws std::invalid_argument when the cluster count makes another FAT type than the
  // layout's, and std::length_error when the entries do not fit.
  std::vector<uint8_t> Build();

  // After Build(): the path's first cluster, the byte offset of its short entry, a
  // cluster's byte offset, and the chain in order.
  uint32_t FirstCluster(const std::string& path) const;
  uint64_t EntryOffset(const std::string& path) const;
  uint64_t ClusterOffset(uint32_t cluster) const;
  std::vector<uint32_t> Chain(const std::string& path) const;
  uint64_t FatOffset() const {
    return uint64_t{layout_.reserved_sectors} * layout_.bytes_per_sector;
  }
  uint32_t ClusterCount() const { return cluster_count_; }

  // Damage helpers over a built image: a FAT entry in every copy, and a short entry's
  // first cluster and size.
  void SetFatEntry(std::vector<uint8_t>& image, uint32_t cluster, uint32_t value) const;
  void SetEntryCluster(std::vector<uint8_t>& image, const std::string& path,
                       uint32_t cluster) const;
  void SetEntrySize(std::vector<uint8_t>& image, const std::string& path, uint32_t size) const;
  // The short entry's 11 name bytes ("NAME    EXT"), which leaves a long name that went with
  // it unmatched.
  void SetShortName(std::vector<uint8_t>& image, const std::string& path,
                    const std::string& padded) const;
  // Every unit `from` of the path's long name becomes `to`: a name the writer would refuse,
  // such as one holding "/" or a control character.
  void ReplaceInLongName(std::vector<uint8_t>& image, const std::string& path, char16_t from,
                         char16_t to) const;

 private:
  struct Node {
    std::string name;
    bool folder = false;
    std::vector<uint8_t> bytes;
    std::vector<std::string> children;  // full paths, in order added
  };
  Node& Ensure(const std::string& path, bool folder);
  uint32_t SlotsOf(const Node& node) const;
  std::vector<uint32_t> Allocate(uint64_t bytes);
  void WriteFolder(std::vector<uint8_t>& image, const std::string& path, uint64_t offset,
                   uint64_t capacity, uint32_t own_cluster, uint32_t parent_cluster);
  void WriteBootSector(std::vector<uint8_t>& image) const;
  uint64_t DataOffset() const;

  FatLayout layout_;
  std::map<std::string, Node> nodes_ = {{"", Node{"", true, {}, {}}}};
  std::string label_;
  std::vector<std::string> deleted_;
  bool fragment_ = false;
  uint32_t cluster_count_ = 0;
  std::vector<uint32_t> free_order_;
  size_t next_free_ = 0;
  std::map<std::string, std::vector<uint32_t>> chains_;
  std::map<std::string, uint64_t> entry_offsets_;
};

// One slot of a partition table.
struct TableEntry {
  uint8_t type = 0;
  uint32_t first_sector = 0;
  uint32_t sector_count = 0;
  bool active = false;
};

// Writes four slots (missing ones empty) and 55 AA into the 512-byte sector `sector`.
void WritePartitionTable(std::vector<uint8_t>& image, uint64_t sector,
                         const std::vector<TableEntry>& entries);

// A hard-disk image with primary partitions in table order, then one extended partition
// holding the logical drives in chain order. Each partition starts on a 63-sector track.
class PartitionedImageBuilder {
 public:
  PartitionedImageBuilder& Primary(uint8_t type, std::vector<uint8_t> volume);
  PartitionedImageBuilder& Logical(uint8_t type, std::vector<uint8_t> volume);
  std::vector<uint8_t> Build();
  // After Build(): where each extended boot record lies, in chain order, in sectors.
  const std::vector<uint32_t>& ExtendedRecords() const { return extended_records_; }
  uint32_t ExtendedStart() const { return extended_start_; }

 private:
  struct Piece {
    uint8_t type;
    std::vector<uint8_t> volume;
  };
  std::vector<Piece> primaries_;
  std::vector<Piece> logicals_;
  std::vector<uint32_t> extended_records_;
  uint32_t extended_start_ = 0;
};

}  // namespace quarn::testing

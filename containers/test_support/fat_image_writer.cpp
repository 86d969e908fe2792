#include "containers/test_support/fat_image_writer.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "platform/text_encoding.h"

namespace quarn::testing {
namespace {

constexpr size_t kSlotBytes = 32;
constexpr uint8_t kLongNameAttributes = 0x0F;
constexpr std::array<size_t, 13> kLongNameUnitOffsets = {1,  3,  5,  7,  9,  14, 16,
                                                         18, 20, 22, 24, 28, 30};
constexpr uint8_t kFolderAttribute = 0x10;
constexpr uint8_t kArchiveAttribute = 0x20;
constexpr uint8_t kLabelAttribute = 0x08;
constexpr uint16_t kSampleDate = (1995 - 1980) << 9 | 8 << 5 | 24;  // 1995-08-24
constexpr uint16_t kSampleTime = 11 << 11 | 30 << 5;                // 11:30:00
constexpr uint32_t kTrackSectors = 63;
constexpr uint32_t kTableSectorBytes = 512;

void Put16(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  bytes.at(at) = static_cast<uint8_t>(value);
  bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  Put16(bytes, at, value & 0xFFFF);
  Put16(bytes, at + 2, value >> 16);
}

// The code points of `text`; a byte outside a well-formed sequence stands for itself.
std::vector<uint32_t> DecodeUtf8(const std::string& text) {
  std::vector<uint32_t> points;
  for (size_t i = 0; i < text.size();) {
    uint32_t point = static_cast<uint8_t>(text[i]);
    i += std::max<size_t>(1, Utf8SequenceAt(text, i, &point));
    points.push_back(point);
  }
  return points;
}

// The few upper-case letters of code page 437's upper half a short name may hold.
std::optional<uint8_t> ShortNameByte(uint32_t point) {
  static const std::map<uint32_t, uint8_t> kUpperHalf = {{0xC7, 0x80}, {0xC4, 0x8E}, {0xC5, 0x8F},
                                                         {0xC9, 0x90}, {0xC6, 0x92}, {0xD6, 0x99},
                                                         {0xDC, 0x9A}, {0xD1, 0xA5}, {0xE9, 0x82}};
  if ((point >= 'A' && point <= 'Z') || (point >= '0' && point <= '9')) {
    return static_cast<uint8_t>(point);
  }
  if (point < 0x80 && std::string_view("!#$%&'()-@^_`{}~").find(static_cast<char>(point)) !=
                          std::string_view::npos) {
    return static_cast<uint8_t>(point);
  }
  auto found = kUpperHalf.find(point);
  if (found != kUpperHalf.end()) return found->second;
  return std::nullopt;
}

// The 11 bytes of `name` when it fits 8.3 as it is.
std::optional<std::array<uint8_t, 11>> FitShortName(const std::string& name) {
  const std::vector<uint32_t> points = DecodeUtf8(name);
  const auto dot = std::find(points.begin(), points.end(), uint32_t{'.'});
  const size_t base_length = static_cast<size_t>(dot - points.begin());
  const size_t extension_length = dot == points.end() ? 0 : points.size() - base_length - 1;
  if (base_length == 0 || base_length > 8 || extension_length > 3) return std::nullopt;
  if (dot != points.end() && extension_length == 0) return std::nullopt;
  std::array<uint8_t, 11> raw;
  raw.fill(' ');
  for (size_t i = 0; i < points.size(); ++i) {
    if (i == base_length) continue;
    const std::optional<uint8_t> byte = ShortNameByte(points[i]);
    if (!byte) return std::nullopt;
    raw[i < base_length ? i : 8 + (i - base_length - 1)] = *byte;
  }
  if (raw[0] == 0xE5) raw[0] = 0x05;
  return raw;
}

std::array<uint8_t, 11> AliasFor(const std::string& name, int number) {
  std::array<uint8_t, 11> raw;
  raw.fill(' ');
  const size_t dot = name.rfind('.');
  auto keep = [](const std::string& text, size_t limit) {
    std::string kept;
    for (char c : text) {
      if (kept.size() == limit) break;
      if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) {
        kept.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
      }
    }
    return kept;
  };
  std::string base = keep(name.substr(0, dot), 6);
  if (base.empty()) base = "FILE";
  base += "~" + std::to_string(number);
  const std::string extension = dot == std::string::npos ? "" : keep(name.substr(dot + 1), 3);
  std::copy(base.begin(), base.end(), raw.begin());
  std::copy(extension.begin(), extension.end(), raw.begin() + 8);
  return raw;
}

uint8_t Checksum(const std::array<uint8_t, 11>& raw) {
  uint8_t sum = 0;
  for (uint8_t byte : raw) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + byte);
  return sum;
}

std::vector<uint16_t> Utf16Of(const std::string& name) {
  return Utf8ToUtf16(name).value_or(std::vector<uint16_t>{});
}

std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

// The slots of one entry: its long-name slots (last piece first), then the short entry.
std::vector<std::array<uint8_t, kSlotBytes>> EntrySlots(const std::string& name, int alias_number,
                                                        uint8_t attributes, uint32_t cluster,
                                                        uint32_t size) {
  std::vector<std::array<uint8_t, kSlotBytes>> slots;
  std::optional<std::array<uint8_t, 11>> raw = FitShortName(name);
  if (!raw) {
    raw = AliasFor(name, alias_number);
    std::vector<uint16_t> units = Utf16Of(name);
    const size_t pieces = (units.size() + 12) / 13;
    if (units.size() % 13 != 0) units.push_back(0);
    units.resize(pieces * 13, 0xFFFF);
    for (size_t piece = pieces; piece >= 1; --piece) {
      std::array<uint8_t, kSlotBytes> slot{};
      slot[0] = static_cast<uint8_t>(piece | (piece == pieces ? 0x40 : 0));
      slot[11] = kLongNameAttributes;
      slot[13] = Checksum(*raw);
      for (size_t i = 0; i < 13; ++i) {
        const uint16_t unit = units[(piece - 1) * 13 + i];
        slot[kLongNameUnitOffsets[i]] = static_cast<uint8_t>(unit);
        slot[kLongNameUnitOffsets[i] + 1] = static_cast<uint8_t>(unit >> 8);
      }
      slots.push_back(slot);
    }
  }
  std::array<uint8_t, kSlotBytes> entry{};
  std::copy(raw->begin(), raw->end(), entry.begin());
  entry[11] = attributes;
  entry[20] = static_cast<uint8_t>(cluster >> 16);
  entry[21] = static_cast<uint8_t>(cluster >> 24);
  entry[22] = static_cast<uint8_t>(kSampleTime);
  entry[23] = static_cast<uint8_t>(kSampleTime >> 8);
  entry[24] = static_cast<uint8_t>(kSampleDate);
  entry[25] = static_cast<uint8_t>(kSampleDate >> 8);
  entry[26] = static_cast<uint8_t>(cluster);
  entry[27] = static_cast<uint8_t>(cluster >> 8);
  for (int i = 0; i < 4; ++i) entry[28 + i] = static_cast<uint8_t>(size >> (8 * i));
  slots.push_back(entry);
  return slots;
}

std::array<uint8_t, kSlotBytes> PlainSlot(const std::string& padded11, uint8_t attributes,
                                          uint32_t cluster) {
  std::array<uint8_t, kSlotBytes> slot{};
  std::copy_n(padded11.begin(), 11, slot.begin());
  slot[11] = attributes;
  slot[20] = static_cast<uint8_t>(cluster >> 16);
  slot[21] = static_cast<uint8_t>(cluster >> 24);
  slot[26] = static_cast<uint8_t>(cluster);
  slot[27] = static_cast<uint8_t>(cluster >> 8);
  return slot;
}

std::string Padded(std::string text, size_t width) {
  text.resize(width, ' ');
  return text;
}

}  // namespace

FatLayout FloppyLayout(uint32_t kilobytes) {
  struct Format {
    uint32_t kilobytes, sectors_per_cluster, root_entries, sectors_per_fat;
    uint8_t media;
  };
  static constexpr std::array<Format, 9> kFormats = {{{160, 1, 64, 1, 0xFE},
                                                      {180, 1, 64, 2, 0xFC},
                                                      {320, 2, 112, 1, 0xFF},
                                                      {360, 2, 112, 2, 0xFD},
                                                      {720, 2, 112, 3, 0xF9},
                                                      {1200, 1, 224, 7, 0xF9},
                                                      {1440, 1, 224, 9, 0xF0},
                                                      {1680, 4, 16, 3, 0xF0},
                                                      {2880, 2, 240, 9, 0xF0}}};
  for (const Format& format : kFormats) {
    if (format.kilobytes != kilobytes) continue;
    FatLayout layout;
    layout.sectors_per_cluster = format.sectors_per_cluster;
    layout.root_entries = format.root_entries;
    layout.sectors_per_fat = format.sectors_per_fat;
    layout.media = format.media;
    layout.total_sectors = kilobytes * 2;
    return layout;
  }
  throw std::invalid_argument("no floppy format of " + std::to_string(kilobytes) + "K");
}

FatLayout HardDiskLayout(int fat_bits, uint32_t sectors, uint32_t sectors_per_cluster) {
  FatLayout layout;
  layout.fat_bits = fat_bits;
  layout.total_sectors = sectors;
  layout.sectors_per_cluster = sectors_per_cluster;
  layout.media = 0xF8;
  layout.reserved_sectors = fat_bits == 32 ? 32 : 1;
  layout.root_entries = fat_bits == 32 ? 0 : 512;
  layout.sectors_per_fat = 1;
  while (true) {
    const uint32_t root_sectors = layout.root_entries * 32 / 512;
    const uint32_t data =
        sectors - layout.reserved_sectors - 2 * layout.sectors_per_fat - root_sectors;
    const uint64_t clusters = data / sectors_per_cluster;
    const uint32_t needed =
        static_cast<uint32_t>(((clusters + 2) * static_cast<uint64_t>(fat_bits) / 8 + 511) / 512);
    if (needed <= layout.sectors_per_fat) break;
    layout.sectors_per_fat = needed;
  }
  return layout;
}

FatImageWriter::Node& FatImageWriter::Ensure(const std::string& path, bool folder) {
  auto found = nodes_.find(path);
  if (found != nodes_.end()) return found->second;
  const std::string parent = ParentOf(path);
  Ensure(parent, true).children.push_back(path);
  Node& node = nodes_[path];
  node.name = BaseName(path);
  node.folder = folder;
  return node;
}

FatImageWriter& FatImageWriter::AddFolder(const std::string& path) {
  Ensure(path, true);
  return *this;
}

FatImageWriter& FatImageWriter::AddFile(const std::string& path,
                                        const std::vector<uint8_t>& bytes) {
  Ensure(path, false).bytes = bytes;
  return *this;
}

FatImageWriter& FatImageWriter::Label(const std::string& label) {
  label_ = label;
  return *this;
}

FatImageWriter& FatImageWriter::AddDeleted(const std::string& short_name) {
  deleted_.push_back(short_name);
  return *this;
}

FatImageWriter& FatImageWriter::Fragment() {
  fragment_ = true;
  return *this;
}

uint64_t FatImageWriter::DataOffset() const {
  const uint64_t root_sectors =
      (uint64_t{layout_.root_entries} * 32 + layout_.bytes_per_sector - 1) /
      layout_.bytes_per_sector;
  return (layout_.reserved_sectors + uint64_t{layout_.fat_count} * layout_.sectors_per_fat +
          root_sectors) *
         layout_.bytes_per_sector;
}

uint64_t FatImageWriter::ClusterOffset(uint32_t cluster) const {
  return DataOffset() +
         uint64_t{cluster - 2} * layout_.sectors_per_cluster * layout_.bytes_per_sector;
}

uint32_t FatImageWriter::SlotsOf(const Node& node) const {
  uint32_t slots = 0;
  for (const std::string& child : node.children) {
    const std::string& name = nodes_.at(child).name;
    slots += 1;
    if (!FitShortName(name)) slots += static_cast<uint32_t>((Utf16Of(name).size() + 12) / 13);
  }
  return slots;
}

std::vector<uint32_t> FatImageWriter::Allocate(uint64_t bytes) {
  const uint64_t cluster_bytes = uint64_t{layout_.sectors_per_cluster} * layout_.bytes_per_sector;
  std::vector<uint32_t> chain;
  for (uint64_t done = 0; done < bytes; done += cluster_bytes) {
    if (next_free_ >= free_order_.size()) throw std::length_error("the volume is full");
    chain.push_back(free_order_[next_free_++]);
  }
  return chain;
}

void FatImageWriter::SetFatEntry(std::vector<uint8_t>& image, uint32_t cluster,
                                 uint32_t value) const {
  for (uint32_t copy = 0; copy < layout_.fat_count; ++copy) {
    const uint64_t fat =
        FatOffset() + uint64_t{copy} * layout_.sectors_per_fat * layout_.bytes_per_sector;
    if (layout_.fat_bits == 12) {
      const uint64_t at = fat + cluster + cluster / 2;
      if (at + 2 > image.size()) continue;
      uint32_t pair = image[at] | image[at + 1] << 8;
      pair = (cluster & 1) ? (pair & 0x000F) | (value & 0xFFF) << 4
                           : (pair & 0xF000) | (value & 0xFFF);
      Put16(image, at, pair);
    } else if (layout_.fat_bits == 16) {
      if (fat + cluster * 2 + 2 <= image.size()) Put16(image, fat + cluster * 2, value);
    } else if (fat + cluster * 4 + 4 <= image.size()) {
      Put32(image, fat + cluster * 4, value & 0x0FFFFFFF);
    }
  }
}

void FatImageWriter::WriteBootSector(std::vector<uint8_t>& image) const {
  if (layout_.boot_signature) {
    image[510] = 0x55;
    image[511] = 0xAA;
  }
  if (!layout_.parameter_block) return;
  const uint8_t jump[] = {0xEB, 0x3C, 0x90};
  std::copy(std::begin(jump), std::end(jump), image.begin());
  const std::string oem = "QUARNFMT";
  std::copy(oem.begin(), oem.end(), image.begin() + 3);
  Put16(image, 0x0B, layout_.bytes_per_sector);
  image[0x0D] = static_cast<uint8_t>(layout_.sectors_per_cluster);
  Put16(image, 0x0E, layout_.reserved_sectors);
  image[0x10] = static_cast<uint8_t>(layout_.fat_count);
  Put16(image, 0x11, layout_.root_entries);
  if (layout_.total_sectors < 0x10000 && layout_.fat_bits != 32) {
    Put16(image, 0x13, layout_.total_sectors);
  } else {
    Put32(image, 0x20, layout_.total_sectors);
  }
  image[0x15] = layout_.media;
  Put16(image, 0x18, 18);
  Put16(image, 0x1A, 2);
  size_t extended = 0x24;
  if (layout_.fat_bits == 32) {
    Put32(image, 0x24, layout_.sectors_per_fat);
    Put32(image, 0x2C, 2);  // the root folder's cluster
    Put16(image, 0x30, 1);  // the FSInfo sector
    Put16(image, 0x32, 6);  // the boot sector's copy
    extended = 0x40;
    const size_t info = layout_.bytes_per_sector;
    Put32(image, info, 0x41615252);
    Put32(image, info + 484, 0x61417272);
    Put32(image, info + 488, 0xFFFFFFFF);
    Put32(image, info + 492, 0xFFFFFFFF);
    Put32(image, info + 508, 0xAA550000);
  } else {
    Put16(image, 0x16, layout_.sectors_per_fat);
  }
  image[extended] = 0x00;
  image[extended + 2] = 0x29;
  Put32(image, extended + 3, 0x1995A5A5);
  const std::string label = Padded(label_.empty() ? "NO NAME" : label_, 11);
  std::copy(label.begin(), label.end(), image.begin() + extended + 7);
  const std::string type = layout_.fat_bits == 12   ? "FAT12   "
                           : layout_.fat_bits == 16 ? "FAT16   "
                                                    : "FAT32   ";
  std::copy(type.begin(), type.end(), image.begin() + extended + 18);
  if (layout_.fat_bits == 32) {
    std::copy_n(image.begin(), layout_.bytes_per_sector,
                image.begin() + 6 * layout_.bytes_per_sector);
  }
}

void FatImageWriter::WriteFolder(std::vector<uint8_t>& image, const std::string& path,
                                 uint64_t offset, uint64_t capacity, uint32_t own_cluster,
                                 uint32_t parent_cluster) {
  const Node& node = nodes_.at(path);
  std::vector<std::array<uint8_t, kSlotBytes>> slots;
  if (!path.empty()) {
    slots.push_back(PlainSlot(".          ", kFolderAttribute, own_cluster));
    slots.push_back(PlainSlot("..         ", kFolderAttribute, parent_cluster));
  } else {
    if (!label_.empty()) slots.push_back(PlainSlot(Padded(label_, 11), kLabelAttribute, 0));
    for (const std::string& name : deleted_) {
      std::array<uint8_t, kSlotBytes> slot = PlainSlot(Padded(name, 11), kArchiveAttribute, 0);
      slot[0] = 0xE5;
      slots.push_back(slot);
    }
  }
  int alias = 0;
  std::vector<std::pair<std::string, size_t>> short_slots;
  for (const std::string& child : node.children) {
    const Node& entry = nodes_.at(child);
    const std::vector<uint32_t>& chain = chains_[child];
    for (const auto& slot :
         EntrySlots(entry.name, ++alias, entry.folder ? kFolderAttribute : kArchiveAttribute,
                    chain.empty() ? 0 : chain.front(),
                    entry.folder ? 0 : static_cast<uint32_t>(entry.bytes.size()))) {
      slots.push_back(slot);
    }
    short_slots.emplace_back(child, slots.size() - 1);
  }
  if (slots.size() * kSlotBytes > capacity) throw std::length_error("folder too full: " + path);
  const std::vector<uint32_t>& chain = chains_[path];
  const uint64_t cluster_bytes = uint64_t{layout_.sectors_per_cluster} * layout_.bytes_per_sector;
  auto slot_offset = [&](size_t index) {
    const uint64_t at = index * kSlotBytes;
    if (chain.empty()) return offset + at;
    return ClusterOffset(chain[at / cluster_bytes]) + at % cluster_bytes;
  };
  for (size_t i = 0; i < slots.size(); ++i) {
    std::copy(slots[i].begin(), slots[i].end(),
              image.begin() + static_cast<ptrdiff_t>(slot_offset(i)));
  }
  for (const auto& [child, index] : short_slots) entry_offsets_[child] = slot_offset(index);
}

std::vector<uint8_t> FatImageWriter::Build() {
  const uint64_t cluster_bytes = uint64_t{layout_.sectors_per_cluster} * layout_.bytes_per_sector;
  const uint64_t data_sector = DataOffset() / layout_.bytes_per_sector;
  cluster_count_ =
      static_cast<uint32_t>((layout_.total_sectors - data_sector) / layout_.sectors_per_cluster);
  const int fat_bits = cluster_count_ < 4085 ? 12 : cluster_count_ < 65525 ? 16 : 32;
  if (fat_bits != layout_.fat_bits) {
    throw std::invalid_argument(std::to_string(cluster_count_) + " clusters make FAT" +
                                std::to_string(fat_bits));
  }
  free_order_.clear();
  for (uint32_t c = 2; c < cluster_count_ + 2; c += fragment_ ? 2 : 1) free_order_.push_back(c);
  if (fragment_) {
    for (uint32_t c = 3; c < cluster_count_ + 2; c += 2) free_order_.push_back(c);
  }
  next_free_ = 0;
  chains_.clear();
  entry_offsets_.clear();

  // Folders first in the order met, then every file: the root of FAT32 takes cluster 2.
  std::vector<std::string> order = {""};
  for (size_t i = 0; i < order.size(); ++i) {
    for (const std::string& child : nodes_.at(order[i]).children) order.push_back(child);
  }
  for (const std::string& path : order) {
    const Node& node = nodes_.at(path);
    if (node.folder && (!path.empty() || layout_.fat_bits == 32)) {
      const uint64_t bytes =
          (SlotsOf(node) + (path.empty() ? 1 + deleted_.size() : 2)) * kSlotBytes;
      chains_[path] = Allocate(std::max<uint64_t>(bytes, 1));
    }
  }
  for (const std::string& path : order) {
    const Node& node = nodes_.at(path);
    if (!node.folder) chains_[path] = Allocate(node.bytes.size());
  }

  std::vector<uint8_t> image(uint64_t{layout_.total_sectors} * layout_.bytes_per_sector, 0);
  WriteBootSector(image);
  const uint32_t end = layout_.fat_bits == 12   ? 0xFFF
                       : layout_.fat_bits == 16 ? 0xFFFF
                                                : 0x0FFFFFFF;
  SetFatEntry(image, 0, (end & ~0xFFu) | layout_.media);
  SetFatEntry(image, 1, end);
  for (const auto& [path, chain] : chains_) {
    for (size_t i = 0; i < chain.size(); ++i) {
      SetFatEntry(image, chain[i], i + 1 < chain.size() ? chain[i + 1] : end);
    }
    const Node& node = nodes_.at(path);
    for (size_t i = 0; !node.folder && i < chain.size(); ++i) {
      const size_t from = i * cluster_bytes;
      const size_t count = std::min<size_t>(cluster_bytes, node.bytes.size() - from);
      std::copy_n(node.bytes.begin() + static_cast<ptrdiff_t>(from), count,
                  image.begin() + static_cast<ptrdiff_t>(ClusterOffset(chain[i])));
    }
  }
  const uint64_t root_offset = FatOffset() + uint64_t{layout_.fat_count} * layout_.sectors_per_fat *
                                                 layout_.bytes_per_sector;
  for (const std::string& path : order) {
    if (!nodes_.at(path).folder) continue;
    const std::vector<uint32_t>& chain = chains_[path];
    const uint64_t capacity =
        chain.empty() ? uint64_t{layout_.root_entries} * kSlotBytes : chain.size() * cluster_bytes;
    const std::string parent = ParentOf(path);
    const uint32_t parent_cluster =
        parent.empty() || chains_[parent].empty() ? 0 : chains_[parent].front();
    WriteFolder(image, path, root_offset, capacity, chain.empty() ? 0 : chain.front(),
                layout_.fat_bits == 32 && parent.empty() ? 0 : parent_cluster);
  }
  return image;
}

uint32_t FatImageWriter::FirstCluster(const std::string& path) const {
  auto found = chains_.find(path);
  return found == chains_.end() || found->second.empty() ? 0 : found->second.front();
}

std::vector<uint32_t> FatImageWriter::Chain(const std::string& path) const {
  auto found = chains_.find(path);
  return found == chains_.end() ? std::vector<uint32_t>() : found->second;
}

uint64_t FatImageWriter::EntryOffset(const std::string& path) const {
  return entry_offsets_.at(path);
}

void FatImageWriter::SetEntryCluster(std::vector<uint8_t>& image, const std::string& path,
                                     uint32_t cluster) const {
  const uint64_t at = EntryOffset(path);
  Put16(image, at + 20, cluster >> 16);
  Put16(image, at + 26, cluster & 0xFFFF);
}

void FatImageWriter::SetEntrySize(std::vector<uint8_t>& image, const std::string& path,
                                  uint32_t size) const {
  Put32(image, EntryOffset(path) + 28, size);
}

void FatImageWriter::SetShortName(std::vector<uint8_t>& image, const std::string& path,
                                  const std::string& padded) const {
  std::copy(padded.begin(), padded.end(),
            image.begin() + static_cast<ptrdiff_t>(EntryOffset(path)));
}

void FatImageWriter::ReplaceInLongName(std::vector<uint8_t>& image, const std::string& path,
                                       char16_t from, char16_t to) const {
  // The long-name slots lie just before the short entry, the name's last piece first.
  for (uint64_t slot = EntryOffset(path) - kSlotBytes; image.at(slot + 11) == kLongNameAttributes;
       slot -= kSlotBytes) {
    for (size_t offset : kLongNameUnitOffsets) {
      if ((image[slot + offset] | image[slot + offset + 1] << 8) == from)
        Put16(image, slot + offset, to);
    }
    if (image[slot] & 0x40) break;
  }
}

void WritePartitionTable(std::vector<uint8_t>& image, uint64_t sector,
                         const std::vector<TableEntry>& entries) {
  const size_t base = static_cast<size_t>(sector * kTableSectorBytes);
  for (size_t i = 0; i < 4; ++i) {
    const TableEntry entry = i < entries.size() ? entries[i] : TableEntry{};
    const size_t at = base + 0x1BE + i * 16;
    image.at(at) = entry.active ? 0x80 : 0x00;
    image.at(at + 4) = entry.type;
    Put32(image, at + 8, entry.first_sector);
    Put32(image, at + 12, entry.sector_count);
  }
  image.at(base + 510) = 0x55;
  image.at(base + 511) = 0xAA;
}

PartitionedImageBuilder& PartitionedImageBuilder::Primary(uint8_t type,
                                                          std::vector<uint8_t> volume) {
  primaries_.push_back({type, std::move(volume)});
  return *this;
}

PartitionedImageBuilder& PartitionedImageBuilder::Logical(uint8_t type,
                                                          std::vector<uint8_t> volume) {
  logicals_.push_back({type, std::move(volume)});
  return *this;
}

std::vector<uint8_t> PartitionedImageBuilder::Build() {
  auto sectors_of = [](const Piece& piece) {
    return static_cast<uint32_t>((piece.volume.size() + kTableSectorBytes - 1) / kTableSectorBytes);
  };
  auto track_after = [](uint32_t sector) {
    return (sector + kTrackSectors - 1) / kTrackSectors * kTrackSectors;
  };
  std::vector<TableEntry> table;
  std::vector<std::pair<uint32_t, const Piece*>> placed;
  uint32_t next = kTrackSectors;
  for (const Piece& piece : primaries_) {
    table.push_back({piece.type, next, sectors_of(piece), table.empty()});
    placed.emplace_back(next, &piece);
    next = track_after(next + sectors_of(piece));
  }
  extended_records_.clear();
  std::vector<std::vector<TableEntry>> records;
  extended_start_ = next;
  for (const Piece& piece : logicals_) {
    extended_records_.push_back(next);
    placed.emplace_back(next + kTrackSectors, &piece);
    records.push_back({{piece.type, kTrackSectors, sectors_of(piece)}});
    next = track_after(next + kTrackSectors + sectors_of(piece));
  }
  for (size_t i = 0; i + 1 < records.size(); ++i) {
    const uint32_t following = extended_records_[i + 1];
    const uint32_t span =
        (i + 2 < extended_records_.size() ? extended_records_[i + 2] : next) - following;
    records[i].push_back({0x05, following - extended_start_, span});
  }
  if (!logicals_.empty()) table.push_back({0x0F, extended_start_, next - extended_start_});
  std::vector<uint8_t> image(uint64_t{next} * kTableSectorBytes, 0);
  WritePartitionTable(image, 0, table);
  for (size_t i = 0; i < records.size(); ++i)
    WritePartitionTable(image, extended_records_[i], records[i]);
  for (const auto& [sector, piece] : placed) {
    std::copy(piece->volume.begin(), piece->volume.end(),
              image.begin() + static_cast<ptrdiff_t>(uint64_t{sector} * kTableSectorBytes));
  }
  return image;
}

}  // namespace quarn::testing

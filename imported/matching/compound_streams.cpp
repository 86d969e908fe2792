#include "imported/matching/compound_streams.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/read_only_file.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

constexpr uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kHeaderBytes = 512;
constexpr uint32_t kMiniSectorSize = 64;
// Fixed by the format whatever the header's field says: a stream shorter than this lives in
// the mini stream.
constexpr uint64_t kMiniStreamCutoff = 4096;
constexpr uint32_t kHeaderFatSlots = 109;
constexpr uint32_t kDirectoryEntryBytes = 128;
// Sector numbers from here on are marks (free, end of chain, FAT, DIFAT), never sectors.
constexpr uint32_t kLastRegularSector = 0xFFFFFFFA;
constexpr uint32_t kFree = 0xFFFFFFFF;

constexpr uint8_t kStreamEntry = 2;
constexpr uint8_t kRootEntry = 5;
constexpr size_t kSectorShiftField = 0x1E;
constexpr size_t kFatCountField = 0x2C;
constexpr size_t kFirstDirectoryField = 0x30;
constexpr size_t kFirstMiniFatField = 0x3C;
constexpr size_t kMiniFatCountField = 0x40;
constexpr size_t kFirstDifatField = 0x44;
constexpr size_t kHeaderFatListField = 0x4C;
constexpr size_t kEntryNameLengthField = 0x40;
constexpr size_t kEntryTypeField = 0x42;
constexpr size_t kEntryStartField = 0x74;
constexpr size_t kEntrySizeField = 0x78;

// A piece of a stream: `length` bytes of the stream from `stream_offset` lie in the file
// from `file_offset`.
struct Extent {
  uint64_t stream_offset = 0;
  uint64_t file_offset = 0;
  uint64_t length = 0;
};

// A stream read through the pieces of the file that hold it.
class ExtentFile : public ReadOnlyFile {
 public:
  ExtentFile(File& file, std::vector<Extent> extents)
      : file_(file),
        extents_(std::move(extents)),
        size_(extents_.empty() ? 0 : extents_.back().stream_offset + extents_.back().length) {}

  uint32_t Read(void* buffer, uint32_t length) override {
    uint32_t copied = 0;
    while (copied < length && position_ < size_) {
      const auto after = std::upper_bound(
          extents_.begin(), extents_.end(), position_,
          [](uint64_t at, const Extent& extent) { return at < extent.stream_offset; });
      const Extent& extent = *(after - 1);
      const uint64_t within = position_ - extent.stream_offset;
      const uint32_t wanted =
          static_cast<uint32_t>(std::min<uint64_t>(extent.length - within, length - copied));
      const uint32_t got = ReadAt(file_, static_cast<int64_t>(extent.file_offset + within),
                                  static_cast<uint8_t*>(buffer) + copied, wanted);
      position_ += got;
      copied += got;
      if (got < wanted) break;
    }
    return copied;
  }
  std::optional<uint64_t> Size() override { return size_; }

 private:
  File& file_;
  std::vector<Extent> extents_;
  uint64_t size_;
};

// Appends a piece, joined to the last one when it continues it in the file.
void AddPiece(std::vector<Extent>& extents, uint64_t file_offset, uint64_t length) {
  if (!extents.empty()) {
    Extent& last = extents.back();
    if (last.file_offset + last.length == file_offset) {
      last.length += length;
      return;
    }
  }
  const uint64_t stream_offset =
      extents.empty() ? 0 : extents.back().stream_offset + extents.back().length;
  extents.push_back({stream_offset, file_offset, length});
}

// The units (sectors or mini sectors) of a chain from `first`, through `table`, while they
// exist (below `unit_count`) and at most `max_links` of them: a loop ends at that count.
std::vector<uint32_t> FollowChain(const std::vector<uint32_t>& table, uint32_t first,
                                  uint64_t unit_count, uint64_t max_links) {
  std::vector<uint32_t> chain;
  uint32_t unit = first;
  while (chain.size() < max_links && unit < unit_count) {
    chain.push_back(unit);
    unit = unit < table.size() ? table[unit] : kFree;
  }
  return chain;
}

std::string NameOf(std::span<const uint8_t> entry) {
  const uint16_t bytes = std::min<uint16_t>(ReadU16(entry, kEntryNameLengthField), 64);
  std::vector<uint16_t> units;
  for (uint16_t at = 0; at + 1 < bytes; at += 2) {
    const uint16_t unit = ReadU16(entry, at);
    if (unit == 0) break;
    units.push_back(unit);
  }
  // A surrogate without its partner is no character of its own: it shows as "?".
  return Utf16ToUtf8(units, '?');
}

class CompoundWalk {
 public:
  CompoundWalk(File& file, uint64_t end) : file_(file), end_(end) {}

  bool ReadHeader() {
    if (end_ < kHeaderBytes) return false;
    if (ReadAt(file_, 0, header_.data(), kHeaderBytes) != kHeaderBytes) return false;
    if (std::memcmp(header_.data(), kSignature, sizeof kSignature) != 0) return false;
    const uint16_t shift = ReadU16(header_, kSectorShiftField);
    if (shift != 9 && shift != 12) return false;
    shift_ = shift;
    sector_size_ = uint32_t{1} << shift;
    // A sector is there when it starts before the end; the last may be cut short.
    const uint64_t sectors =
        end_ > sector_size_ ? (end_ - sector_size_ + sector_size_ - 1) / sector_size_ : 0;
    sectors_in_file_ = std::min<uint64_t>(sectors, uint64_t{kLastRegularSector} + 1);
    return true;
  }

  void Walk(const std::function<void(const std::string&, File&)>& visit) {
    LoadFat();
    LoadMiniFat();
    uint64_t budget = end_;
    std::vector<uint8_t> sector(sector_size_);
    const std::vector<uint32_t> directory = FollowChain(
        fat_, ReadU32(header_, kFirstDirectoryField), sectors_in_file_, sectors_in_file_);
    // A directory chain that loops would show its entries again: each sector is read once.
    std::vector<bool> read(sectors_in_file_);
    for (uint32_t number : directory) {
      if (read[number]) continue;
      read[number] = true;
      const uint32_t got = ReadSector(number, sector.data());
      for (uint32_t at = 0; at + kDirectoryEntryBytes <= got && budget > 0;
           at += kDirectoryEntryBytes) {
        const std::span<const uint8_t> entry(sector.data() + at, kDirectoryEntryBytes);
        const uint8_t type = ReadU8(entry, kEntryTypeField);
        if (type == kRootEntry && !root_seen_) {
          root_seen_ = true;
          // No longer than the file: a chain that loops would repeat its sectors as far as
          // the size claims.
          mini_stream_ =
              FollowChain(fat_, ReadU32(entry, kEntryStartField), sectors_in_file_,
                          std::min(UnitsFor(StreamSize(entry), sector_size_), sectors_in_file_));
        }
        if (type != kStreamEntry) continue;
        const uint64_t size = std::min(StreamSize(entry), budget);
        if (size == 0) continue;
        ExtentFile stream(file_,
                          ExtentsOf(ReadU32(entry, kEntryStartField), StreamSize(entry), size));
        const uint64_t reached = stream.Size().value_or(0);
        if (reached == 0) continue;
        budget -= reached;
        visit(NameOf(entry), stream);
      }
      if (budget == 0) break;
    }
  }

 private:
  static uint64_t UnitsFor(uint64_t bytes, uint64_t unit) { return (bytes + unit - 1) / unit; }

  uint64_t SectorOffset(uint32_t sector) const { return (uint64_t{sector} + 1) << shift_; }

  // Reads regular sector `sector` as far as the file (up to its end) has it.
  uint32_t ReadSector(uint32_t sector, uint8_t* out) {
    const uint64_t at = SectorOffset(sector);
    if (at >= end_) return 0;
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(sector_size_, end_ - at));
    return ReadAt(file_, static_cast<int64_t>(at), out, wanted);
  }

  // A stream's declared size: the high half of the field is undefined in 512-byte-sector
  // files, where writers left garbage in it.
  uint64_t StreamSize(std::span<const uint8_t> entry) const {
    const uint64_t low = ReadU32(entry, kEntrySizeField);
    if (shift_ == 9) return low;
    return low | (uint64_t{ReadU32(entry, kEntrySizeField + 4)} << 32);
  }

  // Loads the allocation-table entries of the sectors the file has: the FAT sectors the
  // header lists, then those of the DIFAT chain. Entries of a FAT sector that is missing stay
  // free, which ends every chain through them.
  void LoadFat() {
    const uint32_t per_sector = sector_size_ / 4;
    const uint64_t needed = std::min<uint64_t>(UnitsFor(sectors_in_file_, per_sector),
                                               ReadU32(header_, kFatCountField));
    std::vector<uint32_t> fat_sectors;
    for (uint32_t i = 0; i < kHeaderFatSlots && fat_sectors.size() < needed; ++i) {
      fat_sectors.push_back(ReadU32(header_, kHeaderFatListField + i * 4));
    }
    std::vector<uint8_t> sector(sector_size_);
    uint32_t difat = ReadU32(header_, kFirstDifatField);
    for (uint64_t steps = 0;
         fat_sectors.size() < needed && difat < sectors_in_file_ && steps < sectors_in_file_;
         ++steps) {
      if (ReadSector(difat, sector.data()) != sector_size_) break;
      for (uint32_t i = 0; i + 1 < per_sector && fat_sectors.size() < needed; ++i) {
        fat_sectors.push_back(ReadU32(sector, i * 4));
      }
      difat = ReadU32(sector, (per_sector - 1) * 4);
    }
    fat_ = LoadTable(fat_sectors);
  }

  // The mini stream's allocation table, read through its own chain of regular sectors.
  void LoadMiniFat() {
    // No more of it than a mini stream as large as the file could use: a chain that loops
    // would otherwise load the same sectors over and over.
    const uint64_t mini_units = sectors_in_file_ * (sector_size_ / kMiniSectorSize);
    const uint64_t count = std::min<uint64_t>(ReadU32(header_, kMiniFatCountField),
                                              UnitsFor(mini_units, sector_size_ / 4));
    mini_fat_ =
        LoadTable(FollowChain(fat_, ReadU32(header_, kFirstMiniFatField), sectors_in_file_, count));
  }

  std::vector<uint32_t> LoadTable(const std::vector<uint32_t>& sectors) {
    const uint32_t per_sector = sector_size_ / 4;
    std::vector<uint32_t> table(sectors.size() * per_sector, kFree);
    std::vector<uint8_t> bytes(sector_size_);
    for (size_t i = 0; i < sectors.size(); ++i) {
      if (sectors[i] >= sectors_in_file_) continue;
      const uint32_t got = ReadSector(sectors[i], bytes.data());
      for (uint32_t j = 0; j < got / 4; ++j) table[i * per_sector + j] = ReadU32(bytes, j * 4);
    }
    return table;
  }

  // Where the first `length` bytes of a stream of `declared` bytes from `first` lie: in
  // regular sectors, or in mini sectors of the mini stream when it is a short one.
  std::vector<Extent> ExtentsOf(uint32_t first, uint64_t declared, uint64_t length) {
    std::vector<Extent> extents;
    uint64_t left = length;
    auto add = [&](uint64_t file_offset, uint64_t unit) {
      if (file_offset >= end_) return false;
      const uint64_t piece = std::min({unit, end_ - file_offset, left});
      AddPiece(extents, file_offset, piece);
      left -= piece;
      return piece == unit && left > 0;
    };
    if (declared >= kMiniStreamCutoff) {
      for (uint32_t sector :
           FollowChain(fat_, first, sectors_in_file_, UnitsFor(length, sector_size_))) {
        if (!add(SectorOffset(sector), sector_size_)) break;
      }
      return extents;
    }
    const uint64_t mini_units = uint64_t{mini_stream_.size()} * (sector_size_ / kMiniSectorSize);
    for (uint32_t mini :
         FollowChain(mini_fat_, first, mini_units, UnitsFor(length, kMiniSectorSize))) {
      const uint64_t in_stream = uint64_t{mini} * kMiniSectorSize;
      const uint32_t holder = mini_stream_[in_stream >> shift_];
      if (!add(SectorOffset(holder) + (in_stream & (sector_size_ - 1)), kMiniSectorSize)) break;
    }
    return extents;
  }

  File& file_;
  uint64_t end_;
  std::array<uint8_t, kHeaderBytes> header_{};
  uint32_t shift_ = 9;
  uint32_t sector_size_ = 512;
  uint64_t sectors_in_file_ = 0;
  std::vector<uint32_t> fat_;
  std::vector<uint32_t> mini_fat_;
  std::vector<uint32_t> mini_stream_;  // the regular sectors holding the mini stream
  bool root_seen_ = false;
};

}  // namespace

bool ForEachCompoundStream(
    File& file, const CompoundWalkLimits& limits,
    const std::function<void(const std::string& name, File& stream)>& visit) {
  const std::optional<uint64_t> size = file.Size();
  if (!size) return false;
  CompoundWalk walk(file, std::min(*size, limits.byte_limit));
  if (!walk.ReadHeader()) return false;
  walk.Walk(visit);
  return true;
}

}  // namespace quarn

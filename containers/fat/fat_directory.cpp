#include "containers/fat/fat_directory.h"

#include <algorithm>
#include <array>
#include <span>

#include "containers/fat/fat_chain.h"
#include "containers/fat/fat_entry_layout.h"
#include "platform/byte_reader.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

using namespace fat_entry;

const std::string kUnreadableName = "\xEF\xBF\xBD";
constexpr uint16_t kReplacementUnit = 0xFFFD;
// What fills a long name's last entry after the NUL that ends it.
constexpr uint16_t kLongNamePad = 0xFFFF;

// Gathers the long-name entries that precede a short entry, in the reverse order they are
// stored, and hands out the name when the sequence is whole and matches the short entry.
class LongNameAssembly {
 public:
  void Take(std::span<const uint8_t> slot, uint64_t offset) {
    const uint8_t ordinal = slot[0] & kLongNameOrdinalMask;
    const uint8_t checksum = slot[kLongNameChecksumOffset];
    if (slot[0] & kLongNameLast) {
      units_.assign(size_t{ordinal} * kUnitsPerLongEntry, kLongNamePad);
      offsets_.clear();
      expected_ = ordinal;
      checksum_ = checksum;
    } else if (ordinal != expected_ || checksum != checksum_ || units_.empty()) {
      Reset();
      return;
    }
    if (ordinal == 0) {
      Reset();
      return;
    }
    for (size_t i = 0; i < kUnitsPerLongEntry; ++i) {
      units_[(ordinal - 1) * kUnitsPerLongEntry + i] = ReadU16(slot, kLongNameUnitOffsets[i]);
    }
    offsets_.push_back(offset);
    expected_ = ordinal - 1;
  }

  // The long name for the short entry `slot`, or "" when there is none that fits it; the
  // offsets of its entries go to `offsets`, and `damaged` is set when the name holds a unit
  // no name may show.
  std::string NameFor(std::span<const uint8_t> slot, std::vector<uint64_t>& offsets,
                      bool& damaged) {
    std::string name;
    if (!units_.empty() && expected_ == 0 && checksum_ == ShortNameChecksum(slot.data())) {
      // A NUL ends the name and what follows it pads the last entry; a name that goes on
      // past a NUL holds it.
      size_t length = units_.size();
      while (length > 0 && (units_[length - 1] == 0 || units_[length - 1] == kLongNamePad)) {
        --length;
      }
      std::vector<uint16_t> shown(units_.begin(), units_.begin() + static_cast<ptrdiff_t>(length));
      for (uint16_t& unit : shown) {
        if (unit == 0 || unit == '/' || unit == '\\' || IsControlCharacter(unit)) {
          unit = kReplacementUnit;
          damaged = true;
        }
      }
      name = Utf16ToUtf8(shown);
      offsets = offsets_;
    }
    Reset();
    return name;
  }

  void Reset() {
    units_.clear();
    offsets_.clear();
    expected_ = 0;
  }

 private:
  std::vector<uint16_t> units_;
  std::vector<uint64_t> offsets_;
  uint8_t expected_ = 0;
  uint8_t checksum_ = 0;
};

// NAME.EXT of a short entry; `damaged` is set when it holds a folder separator, shown as
// U+FFFD. Its other bytes below 0x20 are glyphs on DOS, not control characters.
std::string ShortName(std::span<const uint8_t> slot, bool& damaged) {
  std::array<uint8_t, 11> raw{};
  std::copy_n(slot.begin() + kNameOffset, raw.size(), raw.begin());
  if (raw[0] == kE5StandIn) raw[0] = kDeletedMark;
  size_t base_length = 8;
  while (base_length > 0 && raw[base_length - 1] == ' ') --base_length;
  size_t extension_length = 3;
  while (extension_length > 0 && raw[8 + extension_length - 1] == ' ') --extension_length;
  std::string name = CodePage437ToUtf8(std::span<const uint8_t>(raw.data(), base_length));
  if (extension_length > 0) {
    name += '.';
    name += CodePage437ToUtf8(std::span<const uint8_t>(raw.data() + 8, extension_length));
  }
  // Bytes of code page 437's upper half become sequences of bytes past 0x7F: a "/" or "\"
  // here is the separator itself.
  std::string shown;
  for (char c : name) {
    if (c == '/' || c == '\\') {
      shown += kUnreadableName;
      damaged = true;
    } else {
      shown += c;
    }
  }
  return shown;
}

bool IsDotEntry(std::span<const uint8_t> slot) {
  static constexpr char kDot[] = ".          ";
  static constexpr char kDotDot[] = "..         ";
  return std::equal(slot.begin(), slot.begin() + 11, kDot) ||
         std::equal(slot.begin(), slot.begin() + 11, kDotDot);
}

// Decodes slots in order until the end mark; false once the end mark was met.
class SlotDecoder {
 public:
  explicit SlotDecoder(DirectoryListing& listing) : listing_(listing) {}

  bool Take(std::span<const uint8_t> slot, uint64_t offset) {
    const uint8_t first = slot[0];
    if (first == kEndMark) return false;
    const uint8_t attributes = slot[kAttributesOffset];
    if (first == kDeletedMark) {
      long_name_.Reset();
    } else if ((attributes & 0x3F) == kLongNameAttributes) {
      long_name_.Take(slot, offset);
    } else if ((attributes & kAttributeVolumeLabel) || IsDotEntry(slot)) {
      long_name_.Reset();
    } else {
      DirectoryRecord record;
      record.short_name = ShortName(slot, record.name_damaged);
      if (record.short_name.empty()) record.short_name = kUnreadableName;
      record.name = long_name_.NameFor(slot, record.long_name_offsets, record.name_damaged);
      if (record.name.empty()) record.name = record.short_name;
      record.attributes = attributes;
      record.first_cluster = static_cast<uint32_t>(ReadU16(slot, kClusterHighOffset)) << 16 |
                             ReadU16(slot, kClusterLowOffset);
      record.size = ReadU32(slot, kSizeOffset);
      record.write_time = ReadU16(slot, kWriteTimeOffset);
      record.write_date = ReadU16(slot, kWriteDateOffset);
      record.entry_offset = offset;
      listing_.records.push_back(std::move(record));
    }
    return true;
  }

 private:
  DirectoryListing& listing_;
  LongNameAssembly long_name_;
};

// Feeds the slots of `bytes` (read at `offset`) to `decoder`; false when done.
bool FeedSlots(SlotDecoder& decoder, const std::vector<uint8_t>& bytes, uint64_t offset,
               uint32_t& slots_seen) {
  for (size_t at = 0; at + kSlotBytes <= bytes.size(); at += kSlotBytes) {
    if (++slots_seen > kMaxDirectorySlots) return false;
    if (!decoder.Take(std::span<const uint8_t>(bytes.data() + at, kSlotBytes), offset + at)) {
      return false;
    }
  }
  return true;
}

}  // namespace

uint8_t ShortNameChecksum(const uint8_t* short_name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + short_name[i]);
  }
  return sum;
}

DirectoryListing ReadDirectory(FatVolume& volume, uint32_t first_cluster, bool fixed_root) {
  DirectoryListing listing;
  SlotDecoder decoder(listing);
  const FatGeometry& geometry = volume.geometry();
  uint32_t slots_seen = 0;
  if (fixed_root) {
    const uint64_t offset = geometry.RootOffset();
    std::vector<uint8_t> bytes(static_cast<size_t>(geometry.RootBytes()));
    bytes.resize(volume.device().ReadAt(offset, bytes.data(), bytes.size()));
    const bool whole = bytes.size() == geometry.RootBytes();
    const bool ended = !FeedSlots(decoder, bytes, offset, slots_seen);
    listing.damaged = !whole && !ended;
    return listing;
  }
  ChainCursor cursor(volume, first_cluster);
  std::vector<uint8_t> bytes(geometry.ClusterBytes());
  for (uint64_t index = 0;; ++index) {
    if (!cursor.MoveTo(index)) {
      listing.damaged = cursor.faulted();
      break;
    }
    const uint64_t offset = geometry.ClusterOffset(cursor.cluster());
    if (volume.device().ReadAt(offset, bytes.data(), bytes.size()) != bytes.size()) {
      listing.damaged = true;
      break;
    }
    if (!FeedSlots(decoder, bytes, offset, slots_seen)) {
      listing.damaged = slots_seen > kMaxDirectorySlots;
      break;
    }
  }
  listing.damaged = listing.damaged || cursor.crossed();
  return listing;
}

}  // namespace quarn

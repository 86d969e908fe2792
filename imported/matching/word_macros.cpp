#include "imported/matching/word_macros.h"

#include <array>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/read_only_file.h"

namespace quarn {
namespace {

constexpr int64_t kTableOffsetField = 0x118;  // in the FIB, then the table's length
// Group types of the macro table, after its leading 0xFF.
constexpr uint8_t kMacroList = 0x01;
constexpr uint8_t kOxo3Group = 0x03;
constexpr uint8_t kMenuGroup = 0x05;
constexpr uint8_t kExternalNames = 0x10;
constexpr uint8_t kInternalNames = 0x11;
// One entry of the macro list.
constexpr uint32_t kEntrySize = 24;
constexpr uint32_t kEntryKeyField = 1;
constexpr uint32_t kEntryLengthField = 12;
constexpr uint32_t kEntryOffsetField = 20;
constexpr uint32_t kMenuEntrySize = 12;
constexpr uint32_t kOxo3EntrySize = 14;

// A macro's text read from its stream and deciphered as it is read.
class MacroText : public ReadOnlyFile {
 public:
  MacroText(File& stream, uint64_t offset, uint64_t length, uint8_t key)
      : stream_(stream), offset_(offset), length_(length), key_(key) {}

  uint32_t Read(void* buffer, uint32_t length) override {
    if (position_ >= length_) return 0;
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(length, length_ - position_));
    const uint32_t got = ReadAt(stream_, static_cast<int64_t>(offset_ + position_),
                                static_cast<uint8_t*>(buffer), wanted);
    for (uint32_t i = 0; i < got; ++i) static_cast<uint8_t*>(buffer)[i] ^= key_;
    position_ += got;
    return got;
  }
  std::optional<uint64_t> Size() override { return length_; }

 private:
  File& stream_;
  uint64_t offset_;
  uint64_t length_;
  uint8_t key_;
};

// The table walk: a cursor over the stream that reads fields and steps over groups, and
// fails once a read comes up short.
class TableCursor {
 public:
  TableCursor(File& stream, uint64_t at) : stream_(stream), at_(at) {}

  uint64_t at() const { return at_; }
  void Skip(uint64_t count) { at_ += count; }
  void Back(uint32_t count) { at_ -= count; }
  bool Read(uint8_t* buffer, uint32_t length) {
    if (at_ > INT64_MAX || ReadAt(stream_, static_cast<int64_t>(at_), buffer, length) != length) {
      return false;
    }
    at_ += length;
    return true;
  }
  bool Byte(uint8_t& value) { return Read(&value, 1); }
  bool Word(uint16_t& value) {
    uint8_t bytes[2];
    if (!Read(bytes, 2)) return false;
    value = ReadU16(bytes, 0);
    return true;
  }

 private:
  File& stream_;
  uint64_t at_;
};

// Steps over the group of type 3: a count of 14-byte entries, then a second count (written
// after a 2 when the first is 0) of 4-byte entries and one byte more.
bool SkipOxo3(TableCursor& cursor) {
  uint8_t count = 0;
  if (!cursor.Byte(count)) return false;
  cursor.Skip(uint64_t{count} * kOxo3EntrySize);
  if (!cursor.Byte(count)) return false;
  if (count == 0) {
    uint8_t pair[2];
    if (!cursor.Read(pair, 2)) return false;
    if (pair[0] != 2) {
      cursor.Back(2);
      return true;
    }
    count = pair[1];
  }
  if (count > 0) cursor.Skip(uint64_t{count} * 4 + 1);
  return true;
}

// Steps over the external names: a byte size (0xFFFF, then the size, for UTF-16 names);
// only the first name is stepped over, as ClamAV does, whatever the size says.
bool SkipExternalNames(TableCursor& cursor) {
  uint16_t size = 0;
  if (!cursor.Word(size)) return false;
  const bool wide = size == 0xFFFF;
  if (wide && !cursor.Word(size)) return false;
  if (static_cast<int16_t>(size) > 0) {
    uint8_t length = 0;
    if (!cursor.Byte(length)) return false;
    cursor.Skip((wide ? uint64_t{length} * 2 + 1 : length) + 2);
  }
  return true;
}

// Steps over the internal names: a count of (id, length, name, one more byte).
bool SkipInternalNames(TableCursor& cursor) {
  uint16_t count = 0;
  if (!cursor.Word(count)) return false;
  for (; count > 0; --count) {
    uint8_t length = 0;
    cursor.Skip(2);
    if (!cursor.Byte(length)) return false;
    cursor.Skip(uint64_t{length} + 1);
  }
  return true;
}

// The entries of the macro list, or none.
std::vector<uint8_t> MacroEntries(File& stream) {
  uint8_t fib[8];
  if (ReadAt(stream, kTableOffsetField, fib, sizeof fib) != sizeof fib) return {};
  const uint32_t offset = ReadU32(fib, 0);
  const uint32_t length = ReadU32(fib, 4);
  if (length == 0) return {};
  // Both wrap as ClamAV's 32-bit sums do.
  const uint32_t end = offset + length;
  TableCursor cursor(stream, static_cast<uint32_t>(offset + 1));  // past the leading mark
  while (cursor.at() < end) {
    uint8_t type = 0;
    if (!cursor.Byte(type)) return {};
    bool stepped = false;
    switch (type) {
      case kMacroList: {
        uint16_t count = 0;
        if (!cursor.Word(count) || count == 0) return {};
        std::vector<uint8_t> entries(size_t{count} * kEntrySize);
        if (!cursor.Read(entries.data(), static_cast<uint32_t>(entries.size()))) return {};
        return entries;
      }
      case kOxo3Group:
        stepped = SkipOxo3(cursor);
        break;
      case kMenuGroup: {
        uint16_t count = 0;
        stepped = cursor.Word(count);
        cursor.Skip(uint64_t{count} * kMenuEntrySize);
        break;
      }
      case kExternalNames:
        stepped = SkipExternalNames(cursor);
        break;
      case kInternalNames:
        stepped = SkipInternalNames(cursor);
        break;
      default:
        break;
    }
    if (!stepped) return {};
  }
  return {};
}

}  // namespace

uint64_t ForEachWordMacro(File& stream, uint64_t byte_limit,
                          const std::function<void(File& text)>& visit) {
  const std::optional<uint64_t> size = stream.Size();
  if (!size) return 0;
  const std::vector<uint8_t> entries = MacroEntries(stream);
  uint64_t visited = 0;
  for (size_t at = 0; at + kEntrySize <= entries.size(); at += kEntrySize) {
    const std::span<const uint8_t> entry(entries.data() + at, kEntrySize);
    const uint64_t offset = ReadU32(entry, kEntryOffsetField);
    const uint64_t length = ReadU32(entry, kEntryLengthField);
    if (length == 0 || offset + length > *size) continue;
    if (length > byte_limit - visited) break;
    visited += length;
    MacroText text(stream, offset, length, entry[kEntryKeyField]);
    visit(text);
  }
  return visited;
}

}  // namespace quarn

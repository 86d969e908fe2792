#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Builders for compound-file (OLE2) fixtures: a writer for the container and a builder for
// the "WordDocument" stream that carries macros.
namespace quarn::testing {

// A minimal version-3 compound file with 512-byte sectors: one root storage holding flat
// streams, each in regular sectors whatever its size (there is no mini stream), and no
// DIFAT sectors, so at most 109 FAT sectors (about 6.8 MB of sectors) are supported.
// Sector s lies at file offset (s + 1) * 512. By default the FAT sectors come first, then
// the directory, then the streams in the order added; ScatterSectors shuffles them all.
// The layout accessors describe exactly what Build() writes, so a test may corrupt it.
class CompoundFileWriter {
 public:
  static constexpr uint32_t kSectorSize = 512;
  static constexpr uint32_t kFatEntriesPerSector = kSectorSize / 4;
  static constexpr uint32_t kMaxHeaderFatSectors = 109;
  static constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
  static constexpr uint32_t kFreeSector = 0xFFFFFFFF;
  static constexpr uint32_t kFatSectorMark = 0xFFFFFFFD;
  static constexpr uint32_t kNoStream = 0xFFFFFFFF;
  static constexpr size_t kDirectoryEntrySize = 128;
  // Header fields.
  static constexpr size_t kFatSectorCountOffset = 0x2C;
  static constexpr size_t kFirstDirectorySectorOffset = 0x30;
  static constexpr size_t kMiniStreamCutoffOffset = 0x38;
  static constexpr size_t kFirstMiniFatSectorOffset = 0x3C;
  static constexpr size_t kFirstDifatSectorOffset = 0x44;
  static constexpr size_t kHeaderFatListOffset = 0x4C;
  // Directory entry fields.
  static constexpr size_t kEntryNameLengthOffset = 0x40;
  static constexpr size_t kEntryTypeOffset = 0x42;
  static constexpr size_t kEntryLeftSiblingOffset = 0x44;
  static constexpr size_t kEntryRightSiblingOffset = 0x48;
  static constexpr size_t kEntryChildOffset = 0x4C;
  static constexpr size_t kEntryStartSectorOffset = 0x74;
  static constexpr size_t kEntrySizeOffset = 0x78;
  static constexpr uint8_t kTypeStream = 2;
  static constexpr uint8_t kTypeRoot = 5;

  // Adds a stream to the root storage; `name` is ASCII of at most 31 characters. A second
  // stream of the same name replaces the first's bytes. Directory ids follow the order of
  // first addition, the root being id 0.
  CompoundFileWriter& AddStream(const std::string& name, std::vector<uint8_t> bytes);
  // Places every sector (FAT, directory, streams) in an order drawn from `seed`, with no
  // chain ever stepping from one sector to the physically next, so only the FAT tells a
  // reader where a stream continues. The same seed gives the same file.
  CompoundFileWriter& ScatterSectors(uint32_t seed);

  // The sectors holding `name`'s bytes in chain order; empty for an unknown or empty
  // stream.
  std::vector<uint32_t> SectorsOf(const std::string& name) const;
  // The directory's sectors in chain order.
  std::vector<uint32_t> DirectorySectors() const;
  // File offset of the FAT entry that says which sector follows `sector`, which must be
  // below 128 times the FAT's sector count.
  size_t FatEntryOffset(uint32_t sector) const;
  // File offset of `name`'s directory entry; nullopt for an unknown stream.
  std::optional<size_t> DirectoryEntryOffset(const std::string& name) const;
  static size_t SectorOffset(uint32_t sector) { return (size_t{sector} + 1) * kSectorSize; }

  std::vector<uint8_t> Build() const;

 private:
  struct Stream {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  // Where every sector goes: chains[0] is the directory, chains[1 + i] stream i.
  struct Layout {
    std::vector<uint32_t> fat_sectors;
    std::vector<std::vector<uint32_t>> chains;
    uint32_t sector_count = 0;
  };

  Layout ComputeLayout() const;
  const Stream* Find(const std::string& name, size_t* index) const;

  std::vector<Stream> streams_;
  std::optional<uint32_t> scatter_seed_;
};

// The bytes of a "WordDocument" stream: byte 0 the FIB id, a u32 at 0x118 giving the
// command table's offset and one at 0x11C its length (to the end of its entries), and at
// that offset 0xFF followed by one macro block (type 1, a
// u16 count, then 24-byte entries even when there are none). Entry i holds 0x55, the key
// byte, the text length as u16 at 12 and the text's stream offset as u32 at 20; the texts
// follow the table in order, stored exactly as given (callers encrypt them if they wish).
// Defaults: FIB id 0xDC, flags word 0, table at 0x200. A table placed inside the FIB
// overwrites it.
class WordDocumentStream {
 public:
  static constexpr size_t kFibFlagsOffset = 10;
  static constexpr size_t kCommandTablePointerOffset = 0x118;
  static constexpr size_t kCommandTableLengthOffset = 0x11C;
  static constexpr size_t kMacroEntrySize = 24;
  static constexpr uint8_t kMacroBlockType = 1;
  static constexpr uint8_t kMacroEntryMark = 0x55;
  static constexpr size_t kMacroKeyOffset = 1;
  static constexpr size_t kMacroLengthOffset = 12;
  static constexpr size_t kMacroTextOffsetOffset = 20;

  WordDocumentStream& AddMacro(std::vector<uint8_t> text, uint8_t key);
  WordDocumentStream& CommandTableAt(uint32_t offset);
  WordDocumentStream& FibId(uint8_t id);
  // The u16 at stream offset 10, which macro cleaning decrements; 0 unless set.
  WordDocumentStream& FibFlags(uint16_t flags);

  // Stream offset of macro `index`'s 24-byte entry.
  size_t MacroEntryOffset(size_t index) const;
  // Stream offset where macro `index`'s text is placed.
  size_t MacroTextOffset(size_t index) const;
  std::vector<uint8_t> Build() const;

 private:
  struct Macro {
    std::vector<uint8_t> text;
    uint8_t key;
  };

  std::vector<Macro> macros_;
  uint32_t table_offset_ = 0x200;
  uint8_t fib_id_ = 0xDC;
  uint16_t fib_flags_ = 0;
};

}  // namespace quarn::testing

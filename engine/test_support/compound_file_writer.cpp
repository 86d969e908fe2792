#include "engine/test_support/compound_file_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>

namespace quarn::testing {
namespace {

constexpr uint8_t kSignature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEntriesPerDirectorySector =
    CompoundFileWriter::kSectorSize / CompoundFileWriter::kDirectoryEntrySize;
constexpr int kScatterAttempts = 100;

void PutU16(std::vector<uint8_t>* bytes, size_t offset, uint16_t value) {
  if (bytes->size() < offset + 2) bytes->resize(offset + 2, 0);
  (*bytes)[offset] = static_cast<uint8_t>(value);
  (*bytes)[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(std::vector<uint8_t>* bytes, size_t offset, uint32_t value) {
  PutU16(bytes, offset, static_cast<uint16_t>(value));
  PutU16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint32_t SectorsFor(size_t bytes) {
  return static_cast<uint32_t>((bytes + CompoundFileWriter::kSectorSize - 1) /
                               CompoundFileWriter::kSectorSize);
}

// Directory trees order siblings by name length first, then by upper-cased name.
bool NameLess(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    char x = static_cast<char>(std::toupper(static_cast<unsigned char>(a[i])));
    char y = static_cast<char>(std::toupper(static_cast<unsigned char>(b[i])));
    if (x != y) return x < y;
  }
  return false;
}

struct TreeLinks {
  uint32_t left = CompoundFileWriter::kNoStream;
  uint32_t right = CompoundFileWriter::kNoStream;
};

// Links the sorted ids [begin, end) into a balanced search tree; returns its root id.
uint32_t LinkBalanced(const std::vector<uint32_t>& sorted, size_t begin, size_t end,
                      std::vector<TreeLinks>* links) {
  if (begin >= end) return CompoundFileWriter::kNoStream;
  size_t middle = begin + (end - begin) / 2;
  uint32_t id = sorted[middle];
  (*links)[id].left = LinkBalanced(sorted, begin, middle, links);
  (*links)[id].right = LinkBalanced(sorted, middle + 1, end, links);
  return id;
}

bool AnyChainContiguous(const std::vector<std::vector<uint32_t>>& chains) {
  for (const auto& chain : chains) {
    for (size_t i = 1; i < chain.size(); ++i) {
      if (chain[i] == chain[i - 1] + 1) return true;
    }
  }
  return false;
}

}  // namespace

CompoundFileWriter& CompoundFileWriter::AddStream(const std::string& name,
                                                  std::vector<uint8_t> bytes) {
  size_t index = 0;
  if (Find(name, &index) != nullptr) {
    streams_[index].bytes = std::move(bytes);
  } else {
    streams_.push_back({name, std::move(bytes)});
  }
  return *this;
}

CompoundFileWriter& CompoundFileWriter::ScatterSectors(uint32_t seed) {
  scatter_seed_ = seed;
  return *this;
}

const CompoundFileWriter::Stream* CompoundFileWriter::Find(const std::string& name,
                                                           size_t* index) const {
  for (size_t i = 0; i < streams_.size(); ++i) {
    if (streams_[i].name == name) {
      *index = i;
      return &streams_[i];
    }
  }
  return nullptr;
}

CompoundFileWriter::Layout CompoundFileWriter::ComputeLayout() const {
  std::vector<uint32_t> chain_lengths;
  chain_lengths.push_back(SectorsFor((streams_.size() + 1) * kDirectoryEntrySize));
  for (const Stream& stream : streams_) chain_lengths.push_back(SectorsFor(stream.bytes.size()));
  uint32_t data_sectors = std::accumulate(chain_lengths.begin(), chain_lengths.end(), 0u);
  uint32_t fat_count = 1;
  while (fat_count * kFatEntriesPerSector < data_sectors + fat_count) ++fat_count;
  if (fat_count > kMaxHeaderFatSectors) {
    std::fprintf(stderr, "CompoundFileWriter: %u FAT sectors exceed the header's 109\n", fat_count);
    std::abort();
  }

  Layout layout;
  layout.sector_count = data_sectors + fat_count;
  // position[i] is where the i-th sector in writing order (FAT, directory, streams) goes.
  std::vector<uint32_t> position(layout.sector_count);
  std::iota(position.begin(), position.end(), 0u);
  auto assign = [&] {
    layout.fat_sectors.assign(position.begin(), position.begin() + fat_count);
    layout.chains.clear();
    uint32_t next = fat_count;
    for (uint32_t length : chain_lengths) {
      layout.chains.emplace_back(position.begin() + next, position.begin() + next + length);
      next += length;
    }
  };
  assign();
  if (!scatter_seed_) return layout;

  // Draws by hand rather than with std::shuffle, whose order differs between libraries.
  std::mt19937 random(*scatter_seed_);
  for (int attempt = 0; attempt < kScatterAttempts; ++attempt) {
    std::iota(position.begin(), position.end(), 0u);
    for (uint32_t i = layout.sector_count; i > 1; --i) {
      std::swap(position[i - 1], position[random() % i]);
    }
    assign();
    if (!AnyChainContiguous(layout.chains)) return layout;
  }
  // Reversed order never steps forward by one, so it is the fallback for tiny files.
  for (uint32_t i = 0; i < layout.sector_count; ++i) position[i] = layout.sector_count - 1 - i;
  assign();
  return layout;
}

std::vector<uint32_t> CompoundFileWriter::SectorsOf(const std::string& name) const {
  size_t index = 0;
  if (Find(name, &index) == nullptr) return {};
  return ComputeLayout().chains[1 + index];
}

std::vector<uint32_t> CompoundFileWriter::DirectorySectors() const {
  return ComputeLayout().chains[0];
}

size_t CompoundFileWriter::FatEntryOffset(uint32_t sector) const {
  Layout layout = ComputeLayout();
  return SectorOffset(layout.fat_sectors[sector / kFatEntriesPerSector]) +
         (sector % kFatEntriesPerSector) * 4;
}

std::optional<size_t> CompoundFileWriter::DirectoryEntryOffset(const std::string& name) const {
  size_t index = 0;
  if (Find(name, &index) == nullptr) return std::nullopt;
  uint32_t id = static_cast<uint32_t>(index + 1);
  Layout layout = ComputeLayout();
  return SectorOffset(layout.chains[0][id / kEntriesPerDirectorySector]) +
         (id % kEntriesPerDirectorySector) * kDirectoryEntrySize;
}

std::vector<uint8_t> CompoundFileWriter::Build() const {
  Layout layout = ComputeLayout();
  std::vector<uint8_t> file(SectorOffset(layout.sector_count), 0);

  std::copy(std::begin(kSignature), std::end(kSignature), file.begin());
  PutU16(&file, 0x18, 0x3E);    // minor version
  PutU16(&file, 0x1A, 3);       // major version
  PutU16(&file, 0x1C, 0xFFFE);  // byte order
  PutU16(&file, 0x1E, 9);       // sector shift
  PutU16(&file, 0x20, 6);       // mini sector shift
  PutU32(&file, kFatSectorCountOffset, static_cast<uint32_t>(layout.fat_sectors.size()));
  PutU32(&file, kFirstDirectorySectorOffset, layout.chains[0].front());
  PutU32(&file, kMiniStreamCutoffOffset, 0x1000);
  PutU32(&file, kFirstMiniFatSectorOffset, kEndOfChain);
  PutU32(&file, kFirstDifatSectorOffset, kEndOfChain);
  for (uint32_t i = 0; i < kMaxHeaderFatSectors; ++i) {
    uint32_t sector = i < layout.fat_sectors.size() ? layout.fat_sectors[i] : kFreeSector;
    PutU32(&file, kHeaderFatListOffset + i * 4, sector);
  }

  std::vector<uint32_t> fat(layout.fat_sectors.size() * kFatEntriesPerSector, kFreeSector);
  for (uint32_t sector : layout.fat_sectors) fat[sector] = kFatSectorMark;
  for (const auto& chain : layout.chains) {
    for (size_t i = 0; i < chain.size(); ++i) {
      fat[chain[i]] = i + 1 < chain.size() ? chain[i + 1] : kEndOfChain;
    }
  }
  for (size_t i = 0; i < fat.size(); ++i) {
    PutU32(
        &file,
        SectorOffset(layout.fat_sectors[i / kFatEntriesPerSector]) + (i % kFatEntriesPerSector) * 4,
        fat[i]);
  }

  std::vector<uint8_t> directory(layout.chains[0].size() * kSectorSize, 0);
  for (size_t offset = 0; offset < directory.size(); offset += kDirectoryEntrySize) {
    PutU32(&directory, offset + kEntryLeftSiblingOffset, kNoStream);
    PutU32(&directory, offset + kEntryRightSiblingOffset, kNoStream);
    PutU32(&directory, offset + kEntryChildOffset, kNoStream);
  }
  std::vector<uint32_t> sorted_ids(streams_.size());
  std::iota(sorted_ids.begin(), sorted_ids.end(), 1u);
  std::sort(sorted_ids.begin(), sorted_ids.end(), [&](uint32_t a, uint32_t b) {
    return NameLess(streams_[a - 1].name, streams_[b - 1].name);
  });
  std::vector<TreeLinks> links(streams_.size() + 1);
  uint32_t tree_root = LinkBalanced(sorted_ids, 0, sorted_ids.size(), &links);

  auto write_entry = [&](uint32_t id, const std::string& name, uint8_t type, uint32_t start,
                         uint32_t size) {
    size_t base = size_t{id} * kDirectoryEntrySize;
    for (size_t i = 0; i < name.size() && i < 31; ++i) {
      PutU16(&directory, base + i * 2, static_cast<uint8_t>(name[i]));
    }
    PutU16(&directory, base + kEntryNameLengthOffset,
           static_cast<uint16_t>((std::min<size_t>(name.size(), 31) + 1) * 2));
    directory[base + kEntryTypeOffset] = type;
    directory[base + kEntryTypeOffset + 1] = 1;  // black
    PutU32(&directory, base + kEntryLeftSiblingOffset, links[id].left);
    PutU32(&directory, base + kEntryRightSiblingOffset, links[id].right);
    PutU32(&directory, base + kEntryStartSectorOffset, start);
    PutU32(&directory, base + kEntrySizeOffset, size);
  };
  write_entry(0, "Root Entry", kTypeRoot, kEndOfChain, 0);
  PutU32(&directory, kEntryChildOffset, tree_root);
  for (size_t i = 0; i < streams_.size(); ++i) {
    const auto& chain = layout.chains[1 + i];
    write_entry(static_cast<uint32_t>(i + 1), streams_[i].name, kTypeStream,
                chain.empty() ? kEndOfChain : chain.front(),
                static_cast<uint32_t>(streams_[i].bytes.size()));
  }

  auto write_chain = [&](const std::vector<uint32_t>& chain, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < chain.size(); ++i) {
      size_t from = i * kSectorSize;
      size_t length = std::min<size_t>(kSectorSize, bytes.size() - from);
      std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(from), length,
                  file.begin() + static_cast<ptrdiff_t>(SectorOffset(chain[i])));
    }
  };
  write_chain(layout.chains[0], directory);
  for (size_t i = 0; i < streams_.size(); ++i) write_chain(layout.chains[1 + i], streams_[i].bytes);
  return file;
}

WordDocumentStream& WordDocumentStream::AddMacro(std::vector<uint8_t> text, uint8_t key) {
  macros_.push_back({std::move(text), key});
  return *this;
}

WordDocumentStream& WordDocumentStream::CommandTableAt(uint32_t offset) {
  table_offset_ = offset;
  return *this;
}

WordDocumentStream& WordDocumentStream::FibId(uint8_t id) {
  fib_id_ = id;
  return *this;
}

WordDocumentStream& WordDocumentStream::FibFlags(uint16_t flags) {
  fib_flags_ = flags;
  return *this;
}

size_t WordDocumentStream::MacroEntryOffset(size_t index) const {
  // 0xFF, then the block's type byte and u16 count.
  return size_t{table_offset_} + 1 + 3 + index * kMacroEntrySize;
}

size_t WordDocumentStream::MacroTextOffset(size_t index) const {
  size_t offset = MacroEntryOffset(macros_.size());
  for (size_t i = 0; i < index && i < macros_.size(); ++i) offset += macros_[i].text.size();
  return offset;
}

std::vector<uint8_t> WordDocumentStream::Build() const {
  std::vector<uint8_t> stream(kCommandTableLengthOffset + 4, 0);
  stream[0] = fib_id_;
  PutU16(&stream, kFibFlagsOffset, fib_flags_);
  PutU32(&stream, kCommandTablePointerOffset, table_offset_);
  // The table ends with the macro list.
  PutU32(&stream, kCommandTableLengthOffset,
         static_cast<uint32_t>(MacroEntryOffset(macros_.size()) - table_offset_));

  if (stream.size() < MacroEntryOffset(0)) stream.resize(MacroEntryOffset(0), 0);
  stream[table_offset_] = 0xFF;
  stream[table_offset_ + 1] = kMacroBlockType;
  PutU16(&stream, table_offset_ + 2, static_cast<uint16_t>(macros_.size()));
  for (size_t i = 0; i < macros_.size(); ++i) {
    size_t entry = MacroEntryOffset(i);
    size_t text = MacroTextOffset(i);
    if (stream.size() < entry + kMacroEntrySize) stream.resize(entry + kMacroEntrySize, 0);
    stream[entry] = kMacroEntryMark;
    stream[entry + kMacroKeyOffset] = macros_[i].key;
    PutU16(&stream, entry + kMacroLengthOffset, static_cast<uint16_t>(macros_[i].text.size()));
    PutU32(&stream, entry + kMacroTextOffsetOffset, static_cast<uint32_t>(text));
  }
  for (size_t i = 0; i < macros_.size(); ++i) {
    size_t text = MacroTextOffset(i);
    if (stream.size() < text + macros_[i].text.size()) {
      stream.resize(text + macros_[i].text.size(), 0);
    }
    std::copy(macros_[i].text.begin(), macros_[i].text.end(),
              stream.begin() + static_cast<ptrdiff_t>(text));
  }
  return stream;
}

}  // namespace quarn::testing

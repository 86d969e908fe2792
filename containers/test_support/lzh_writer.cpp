#include "containers/test_support/lzh_writer.h"

#include <stdexcept>

namespace quarn::testing {
namespace {

// DOS packs the date in the high half: years from 1980, month, day; then hours.
constexpr uint32_t kDosTime = (14u << 25 | 6u << 21 | 1u << 16) | (12u << 11);
constexpr uint8_t kArchiveAttribute = 0x20;
// Base header fields past the ones every level shares.
constexpr size_t kHeaderSizeOffset = 0;
constexpr size_t kChecksumOffset = 1;
constexpr size_t kTimeOffset = 15;
constexpr size_t kAttributeOffset = 19;
constexpr size_t kNameLengthOffset = 21;  // levels 0 and 1, the name following it
constexpr size_t kBaseHeaderBytes = 22;   // levels 0 and 1, up to the name
constexpr size_t kLevel2CrcOffset = 21;
constexpr size_t kLevel2OsOffset = 23;
constexpr size_t kLevel2BaseBytes = 24;  // up to the first extended header's size
constexpr uint8_t kExtCommon = 0x00;
constexpr uint8_t kExtFilename = 0x01;
constexpr uint8_t kExtPath = 0x02;
constexpr uint8_t kPathSeparator = 0xFF;

void PutU16(std::vector<uint8_t>& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<uint8_t>(value);
  bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  PutU16(bytes, at, static_cast<uint16_t>(value));
  PutU16(bytes, at + 2, static_cast<uint16_t>(value >> 16));
}

void AppendU16(std::vector<uint8_t>& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value));
  bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendText(std::vector<uint8_t>& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

std::string Replaced(std::string text, char from, char to) {
  for (char& c : text) c = c == from ? to : c;
  return text;
}

// One extended header as levels 1 and 2 chain them: its type and data, then the size of the
// next one (0 for none), which the caller patches.
void AppendExtended(std::vector<uint8_t>& bytes, uint8_t type, const std::string& data) {
  const size_t size = 1 + data.size() + 2;
  if (size > 0xFFFF) throw std::length_error("LZH extended header too long");
  bytes.push_back(type);
  AppendText(bytes, data);
  AppendU16(bytes, 0);
}

// The extended headers of an entry, each preceded by its size as the base header or the
// header before it gives it. Level 2 starts with the common header that carries the whole
// header's CRC; `common_at` is then where its CRC field lies.
std::vector<uint8_t> ExtendedChain(int level, const std::string& name, const std::string& folder,
                                   bool path_header, size_t* common_at) {
  std::vector<std::pair<uint8_t, std::string>> parts;
  if (level == 2) parts.emplace_back(kExtCommon, std::string(2, '\0'));
  if (level == 2 && !name.empty()) {
    parts.emplace_back(kExtFilename, path_header || folder.empty() ? name : folder + "\\" + name);
  }
  if (path_header && !folder.empty()) {
    parts.emplace_back(kExtPath, Replaced(folder, '/', static_cast<char>(kPathSeparator)) +
                                     static_cast<char>(kPathSeparator));
  }
  std::vector<uint8_t> chain;
  for (const auto& [type, data] : parts) {
    const size_t size_at = chain.empty() ? 0 : chain.size() - 2;
    if (chain.empty()) AppendU16(chain, 0);
    const size_t start = chain.size();
    if (type == kExtCommon) *common_at = start + 1;
    AppendExtended(chain, type, data);
    PutU16(chain, size_at, static_cast<uint16_t>(chain.size() - start));
  }
  if (chain.empty()) AppendU16(chain, 0);
  return chain;
}

}  // namespace

uint16_t LzhCrc16(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

LzhWriter& LzhWriter::Level(int level) {
  if (level < 0 || level > 2) throw std::invalid_argument("LZH header level 0, 1 or 2");
  level_ = level;
  return *this;
}

LzhWriter& LzhWriter::PathHeader(bool on) {
  path_header_ = on;
  path_header_set_ = true;
  return *this;
}

LzhWriter& LzhWriter::Os(uint8_t os) {
  os_ = os;
  return *this;
}

LzhWriter& LzhWriter::AddFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  return AddPacked(path, "-lh0-", bytes, static_cast<uint32_t>(bytes.size()), LzhCrc16(bytes));
}

LzhWriter& LzhWriter::AddFolder(const std::string& path) {
  Entry entry;
  entry.folder = path.ends_with('/') ? path.substr(0, path.size() - 1) : path;
  entry.method = "-lhd-";
  return Add(std::move(entry));
}

LzhWriter& LzhWriter::AddPacked(const std::string& path, const std::string& method,
                                std::vector<uint8_t> packed, uint32_t original_size, uint16_t crc) {
  if (method.size() != kMethodLength) throw std::invalid_argument("LZH method is 5 bytes");
  Entry entry;
  const size_t cut = path.rfind('/');
  entry.folder = cut == std::string::npos ? "" : path.substr(0, cut);
  entry.name = cut == std::string::npos ? path : path.substr(cut + 1);
  entry.method = method;
  entry.packed = std::move(packed);
  entry.original_size = original_size;
  entry.crc = crc;
  return Add(std::move(entry));
}

LzhWriter& LzhWriter::Add(Entry entry) {
  entry.level = level_;
  entry.path_header = level_ > 0 && (path_header_set_ ? path_header_ : level_ == 2);
  entry.os = os_;
  entries_.push_back(std::move(entry));
  return *this;
}

LzhWriter& LzhWriter::WithoutEndMark() {
  end_mark_ = false;
  return *this;
}

std::vector<uint8_t> LzhWriter::Header(const Entry& entry) {
  // Levels 0 and 1 keep in the base header what the path header does not hold.
  std::string base_name;
  if (entry.level < 2) {
    const std::string folder = entry.path_header ? "" : Replaced(entry.folder, '/', '\\');
    base_name = folder.empty() ? entry.name : folder + "\\" + entry.name;
  }
  if (base_name.size() > 0xFF - 25) throw std::length_error("LZH name too long");
  size_t common_at = 0;
  const std::vector<uint8_t> chain =
      entry.level == 0
          ? std::vector<uint8_t>()
          : ExtendedChain(entry.level, entry.name, entry.folder, entry.path_header, &common_at);

  std::vector<uint8_t> header(entry.level == 2 ? kLevel2BaseBytes : kBaseHeaderBytes, 0);
  std::copy(entry.method.begin(), entry.method.end(), header.begin() + kMethodOffset);
  // Level 1 counts its extended headers in with the packed data.
  const size_t extended_bytes = entry.level == 1 ? chain.size() - 2 : 0;
  PutU32(header, kPackedSizeOffset, static_cast<uint32_t>(entry.packed.size() + extended_bytes));
  PutU32(header, kOriginalSizeOffset, entry.original_size);
  PutU32(header, kTimeOffset, entry.level == 2 ? LzhWriter::kUnixTime : kDosTime);
  header[kAttributeOffset] = kArchiveAttribute;
  header[kLevelOffset] = static_cast<uint8_t>(entry.level);
  if (entry.level == 2) {
    PutU16(header, kLevel2CrcOffset, entry.crc);
    header[kLevel2OsOffset] = entry.os;
    header.insert(header.end(), chain.begin(), chain.end());
    // A header whose first byte is 0 would read as the archive's end.
    if ((header.size() & 0xFF) == 0) header.push_back(0);
    PutU16(header, kHeaderSizeOffset, static_cast<uint16_t>(header.size()));
    if (common_at != 0) PutU16(header, kLevel2BaseBytes + common_at, LzhCrc16(header));
    return header;
  }
  header[kNameLengthOffset] = static_cast<uint8_t>(base_name.size());
  AppendText(header, base_name);
  AppendU16(header, entry.crc);
  if (entry.level == 1) {
    header.push_back(entry.os);
    // The base header ends with the first extended header's size.
    header.insert(header.end(), chain.begin(), chain.begin() + 2);
  }
  // The size and the checksum cover the base header past these two bytes.
  header[kHeaderSizeOffset] = static_cast<uint8_t>(header.size() - 2);
  uint8_t sum = 0;
  for (size_t i = 2; i < header.size(); ++i) sum = static_cast<uint8_t>(sum + header[i]);
  header[kChecksumOffset] = sum;
  if (entry.level == 1) header.insert(header.end(), chain.begin() + 2, chain.end());
  return header;
}

std::vector<uint8_t> LzhWriter::Build() const {
  std::vector<uint8_t> archive;
  for (const Entry& entry : entries_) {
    const std::vector<uint8_t> header = Header(entry);
    archive.insert(archive.end(), header.begin(), header.end());
    archive.insert(archive.end(), entry.packed.begin(), entry.packed.end());
  }
  if (end_mark_) archive.push_back(0);
  return archive;
}

size_t LzhWriter::HeaderOffset(size_t index) const {
  size_t at = 0;
  for (size_t i = 0; i < index && i < entries_.size(); ++i) {
    at += Header(entries_[i]).size() + entries_[i].packed.size();
  }
  return at;
}

size_t LzhWriter::DataOffset(size_t index) const {
  return HeaderOffset(index) + (index < entries_.size() ? Header(entries_[index]).size() : 0);
}

}  // namespace quarn::testing

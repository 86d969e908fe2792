#include "containers/test_support/arj_writer.h"

#include <zlib.h>

namespace quarn::testing {
namespace {

constexpr uint8_t kHeaderId[] = {0x60, 0xEA};
constexpr uint8_t kFirstHeaderSize = 30;
constexpr uint8_t kArchiverVersion = 11;
constexpr uint8_t kExtractVersion = 1;
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kMainHeaderType = 2;
constexpr uint8_t kBinaryFileType = 0;
constexpr uint8_t kStored = 0;
constexpr uint8_t kPathSlashFlag = 0x10;   // "/" separates the folders of names
constexpr uint32_t kDosTime = 0x1CC16000;  // 1994-06-01 12:00:00
constexpr uint16_t kArchiveAttribute = 0x20;

void PutU16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
  PutU16(out, static_cast<uint16_t>(value));
  PutU16(out, static_cast<uint16_t>(value >> 16));
}

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
  return static_cast<uint32_t>(crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

// The id, the basic header's size, the basic header (its 30 fixed bytes, the name and an
// empty comment), its CRC-32 and no extended header.
void PutHeader(std::vector<uint8_t>& out, std::vector<uint8_t> fixed, const std::string& name) {
  std::vector<uint8_t> basic = std::move(fixed);
  basic.insert(basic.end(), name.begin(), name.end());
  basic.push_back(0);
  basic.push_back(0);  // the comment
  out.insert(out.end(), std::begin(kHeaderId), std::end(kHeaderId));
  PutU16(out, static_cast<uint16_t>(basic.size()));
  out.insert(out.end(), basic.begin(), basic.end());
  PutU32(out, Crc32(basic));
  PutU16(out, 0);
}

std::vector<uint8_t> FixedStart(uint8_t flags, uint8_t method, uint8_t type) {
  return {kFirstHeaderSize, kArchiverVersion, kExtractVersion, kHostMsDos, flags, method, type, 0};
}

}  // namespace

ArjWriter& ArjWriter::Add(const std::string& name, std::vector<uint8_t> bytes) {
  entries_.push_back({name, std::move(bytes)});
  return *this;
}

std::vector<uint8_t> ArjWriter::Build() const {
  std::vector<uint8_t> out;
  // Main header: creation and change times, then archive size, security envelope position,
  // the offset of the name's last part, envelope length, encryption version and last
  // chapter, all unused.
  std::vector<uint8_t> main = FixedStart(0, 0, kMainHeaderType);
  PutU32(main, kDosTime);
  PutU32(main, kDosTime);
  main.resize(kFirstHeaderSize, 0);
  PutHeader(out, main, "SAMPLES.ARJ");
  for (const Entry& entry : entries_) {
    // Time, packed and original size, CRC-32 of the data, the offset of the name's last part,
    // attributes, first and last chapter.
    std::vector<uint8_t> file = FixedStart(kPathSlashFlag, kStored, kBinaryFileType);
    PutU32(file, kDosTime);
    PutU32(file, static_cast<uint32_t>(entry.bytes.size()));
    PutU32(file, static_cast<uint32_t>(entry.bytes.size()));
    PutU32(file, Crc32(entry.bytes));
    PutU16(file, 0);
    PutU16(file, kArchiveAttribute);
    file.resize(kFirstHeaderSize, 0);
    PutHeader(out, file, entry.name);
    out.insert(out.end(), entry.bytes.begin(), entry.bytes.end());
  }
  out.insert(out.end(), std::begin(kHeaderId), std::end(kHeaderId));
  PutU16(out, 0);
  return out;
}

}  // namespace quarn::testing

#include "containers/test_support/zip_writer.h"

#include <array>

namespace quarn::testing {
namespace {

uint32_t Crc32(const std::vector<uint8_t>& bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> made{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? 0xEDB88320u : 0);
      made[i] = value;
    }
    return made;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// The fields a local header and a central entry share, from the version needed on.
void PutCommon(std::vector<uint8_t>& out, const std::string& name,
               const std::vector<uint8_t>& bytes) {
  Put16(out, 10);    // version needed
  Put16(out, 0);     // flags
  Put16(out, 0);     // stored
  Put16(out, 0);     // time
  Put16(out, 0x21);  // 1980-01-01
  Put32(out, Crc32(bytes));
  Put32(out, static_cast<uint32_t>(bytes.size()));
  Put32(out, static_cast<uint32_t>(bytes.size()));
  Put16(out, static_cast<uint32_t>(name.size()));
  Put16(out, 0);  // extra field
}

}  // namespace

ZipWriter& ZipWriter::Add(std::string name, std::vector<uint8_t> bytes) {
  entries_.emplace_back(std::move(name), std::move(bytes));
  return *this;
}

std::vector<uint8_t> ZipWriter::Build() const {
  std::vector<uint8_t> out;
  std::vector<uint32_t> offsets;
  for (const auto& [name, bytes] : entries_) {
    offsets.push_back(static_cast<uint32_t>(out.size()));
    Put32(out, 0x04034B50);
    PutCommon(out, name, bytes);
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  const uint32_t directory = static_cast<uint32_t>(out.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    const auto& [name, bytes] = entries_[i];
    Put32(out, 0x02014B50);
    Put16(out, 20);  // made by
    PutCommon(out, name, bytes);
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, 0);  // external attributes
    Put32(out, offsets[i]);
    out.insert(out.end(), name.begin(), name.end());
  }
  const uint32_t directory_size = static_cast<uint32_t>(out.size()) - directory;
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(entries_.size()));
  Put16(out, static_cast<uint32_t>(entries_.size()));
  Put32(out, directory_size);
  Put32(out, directory);
  Put16(out, 0);
  return out;
}

}  // namespace quarn::testing

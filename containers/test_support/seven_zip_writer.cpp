#include "containers/test_support/seven_zip_writer.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

namespace quarn::testing {
namespace {

constexpr std::array<uint8_t, 6> kSignature = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr size_t kStartHeaderBytes = 32;
constexpr uint8_t kEnd = 0x00;
constexpr uint8_t kHeader = 0x01;
constexpr uint8_t kArchiveProperties = 0x02;
constexpr uint8_t kMainStreamsInfo = 0x04;
constexpr uint8_t kPackInfo = 0x06;
constexpr uint8_t kUnpackInfo = 0x07;
constexpr uint8_t kSize = 0x09;
constexpr uint8_t kCrc = 0x0A;
constexpr uint8_t kFolder = 0x0B;
constexpr uint8_t kCodersUnpackSize = 0x0C;
constexpr uint8_t kEncodedHeader = 0x17;
constexpr uint64_t kLzma = 0x030101;
constexpr uint64_t kLzma2 = 0x21;

void Append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutLe(std::vector<uint8_t>& out, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t LeAt(std::span<const uint8_t> bytes, size_t at, size_t count) {
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) value |= uint64_t{bytes[at + i]} << (8 * i);
  return value;
}

// The header's offset (from the start header's end) and size, as the start header says.
std::pair<size_t, size_t> HeaderPlace(const std::vector<uint8_t>& archive) {
  if (archive.size() < kStartHeaderBytes) throw std::invalid_argument("no 7z start header");
  const uint64_t offset = LeAt(archive, 12, 8);
  const uint64_t size = LeAt(archive, 20, 8);
  if (offset > archive.size() - kStartHeaderBytes ||
      size > archive.size() - kStartHeaderBytes - offset) {
    throw std::invalid_argument("7z header past the end");
  }
  return {static_cast<size_t>(offset), static_cast<size_t>(size)};
}

// The header CRC over its first `covered` bytes (all of them by default), then the start
// header's own.
void FixCrcs(std::vector<uint8_t>& archive, size_t covered = SIZE_MAX) {
  const auto [offset, size] = HeaderPlace(archive);
  const std::span<const uint8_t> header =
      std::span(archive).subspan(kStartHeaderBytes + offset, std::min(size, covered));
  PutLe(archive, 28, SevenZipCrc(header), 4);
  PutLe(archive, 8, SevenZipCrc(std::span(archive).subspan(12, 20)), 4);
}

// `header` packed by liblzma as 7z packs it, with the coder that unpacks it.
std::pair<std::vector<uint8_t>, SevenZipWrittenCoder> Packed(std::span<const uint8_t> header,
                                                             SevenZipHeaderForm form) {
  if (form == SevenZipHeaderForm::kStored) {
    return {std::vector<uint8_t>(header.begin(), header.end()), {0x00, {}}};
  }
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  options.dict_size = kSevenZipHeaderDictionary;
  const bool lzma2 = form == SevenZipHeaderForm::kLzma2;
  lzma_filter filters[2] = {{lzma2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, &options},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  std::vector<uint8_t> packed(header.size() + header.size() / 2 + 1024);
  size_t used = 0;
  if (lzma_raw_buffer_encode(filters, nullptr, header.data(), header.size(), packed.data(), &used,
                             packed.size()) != LZMA_OK) {
    throw std::runtime_error("liblzma cannot pack the header");
  }
  packed.resize(used);
  std::vector<uint8_t> properties(lzma2 ? 1 : 5);
  lzma_properties_encode(&filters[0], properties.data());
  return {packed, {lzma2 ? kLzma2 : kLzma, properties}};
}

}  // namespace

uint32_t SevenZipCrc(std::span<const uint8_t> bytes) {
  return lzma_crc32(bytes.data(), bytes.size(), 0);
}

std::vector<uint8_t> SevenZipNumber(uint64_t value) {
  // n bytes follow when the value needs more than 7 - n bits of the first byte besides them.
  for (size_t follow = 0; follow < 8; ++follow) {
    if (value < (uint64_t{1} << (7 * (follow + 1)))) {
      std::vector<uint8_t> bytes = {
          static_cast<uint8_t>((0xFF00 >> follow) | (value >> (8 * follow)))};
      for (size_t i = 0; i < follow; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
      return bytes;
    }
  }
  std::vector<uint8_t> bytes = {0xFF};
  for (size_t i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return bytes;
}

std::vector<uint8_t> LzmaProperties(uint32_t dictionary) {
  std::vector<uint8_t> properties = {0x5D, 0, 0, 0, 0};
  PutLe(properties, 1, dictionary, 4);
  return properties;
}

std::vector<uint8_t> PpmdProperties(uint32_t memory) {
  std::vector<uint8_t> properties = {6, 0, 0, 0, 0};
  PutLe(properties, 1, memory, 4);
  return properties;
}

std::vector<uint8_t> SevenZipCoderBytes(const SevenZipWrittenCoder& coder) {
  std::vector<uint8_t> id;
  for (uint64_t rest = coder.method; rest != 0; rest >>= 8) {
    id.insert(id.begin(), static_cast<uint8_t>(rest));
  }
  if (id.empty()) id.push_back(0);
  std::vector<uint8_t> bytes = {
      static_cast<uint8_t>(id.size() | (coder.properties.empty() ? 0x00 : 0x20))};
  Append(bytes, id);
  if (!coder.properties.empty()) {
    Append(bytes, SevenZipNumber(coder.properties.size()));
    Append(bytes, coder.properties);
  }
  return bytes;
}

SevenZipWriter& SevenZipWriter::AddFolder(std::vector<SevenZipWrittenCoder> coders,
                                          std::vector<uint8_t> packed, uint64_t unpacked_size) {
  folders_.push_back({std::move(coders), std::move(packed), unpacked_size});
  return *this;
}

SevenZipWriter& SevenZipWriter::Header(SevenZipHeaderForm form) {
  form_ = form;
  return *this;
}

std::vector<uint8_t> SevenZipWriter::PlainHeader() const {
  if (folders_.empty()) return {kHeader, kEnd};
  std::vector<uint8_t> header = {kHeader, kMainStreamsInfo, kPackInfo};
  Append(header, SevenZipNumber(0));
  Append(header, SevenZipNumber(folders_.size()));
  header.push_back(kSize);
  for (const Folder& folder : folders_) Append(header, SevenZipNumber(folder.packed.size()));
  header.insert(header.end(), {kEnd, kUnpackInfo, kFolder});
  Append(header, SevenZipNumber(folders_.size()));
  header.push_back(0);  // the folders follow here, not in a stream of their own
  for (const Folder& folder : folders_) {
    Append(header, SevenZipNumber(folder.coders.size()));
    for (const SevenZipWrittenCoder& coder : folder.coders)
      Append(header, SevenZipCoderBytes(coder));
    // Coder i reads what coder i + 1 writes.
    for (size_t i = 0; i + 1 < folder.coders.size(); ++i) {
      Append(header, SevenZipNumber(i));
      Append(header, SevenZipNumber(i + 1));
    }
  }
  header.push_back(kCodersUnpackSize);
  for (const Folder& folder : folders_) {
    for (size_t i = 0; i < folder.coders.size(); ++i) {
      Append(header, SevenZipNumber(folder.unpacked_size));
    }
  }
  header.insert(header.end(), {kEnd, kEnd, kEnd});
  return header;
}

std::vector<uint8_t> SevenZipWriter::Build() const {
  std::vector<uint8_t> streams;
  for (const Folder& folder : folders_) Append(streams, folder.packed);
  const std::vector<uint8_t> plain = SevenZipArchive(streams, PlainHeader());
  return form_ == SevenZipHeaderForm::kPlain ? plain : PackSevenZipHeader(plain, form_);
}

std::vector<uint8_t> SevenZipArchive(std::span<const uint8_t> packed,
                                     std::span<const uint8_t> header) {
  std::vector<uint8_t> archive(kStartHeaderBytes);
  std::copy(kSignature.begin(), kSignature.end(), archive.begin());
  archive[7] = 4;  // format version 0.4
  PutLe(archive, 12, packed.size(), 8);
  PutLe(archive, 20, header.size(), 8);
  Append(archive, packed);
  Append(archive, header);
  FixCrcs(archive);
  return archive;
}

std::vector<uint8_t> PackSevenZipHeader(const std::vector<uint8_t>& archive,
                                        SevenZipHeaderForm form, uint32_t claimed_dictionary) {
  const auto [offset, size] = HeaderPlace(archive);
  const std::span<const uint8_t> header =
      std::span(archive).subspan(kStartHeaderBytes + offset, size);
  auto [packed, coder] = Packed(header, form);
  if (claimed_dictionary != 0 && coder.method == kLzma)
    PutLe(coder.properties, 1, claimed_dictionary, 4);

  std::vector<uint8_t> streams(
      archive.begin() + kStartHeaderBytes,
      archive.begin() + static_cast<ptrdiff_t>(kStartHeaderBytes + offset));
  std::vector<uint8_t> encoded = {kEncodedHeader, kPackInfo};
  Append(encoded, SevenZipNumber(streams.size()));
  Append(encoded, SevenZipNumber(1));
  encoded.push_back(kSize);
  Append(encoded, SevenZipNumber(packed.size()));
  encoded.insert(encoded.end(), {kEnd, kUnpackInfo, kFolder});
  Append(encoded, SevenZipNumber(1));
  encoded.push_back(0);
  Append(encoded, SevenZipNumber(1));
  Append(encoded, SevenZipCoderBytes(coder));
  encoded.push_back(kCodersUnpackSize);
  Append(encoded, SevenZipNumber(header.size()));
  encoded.insert(encoded.end(), {kCrc, 1, 0, 0, 0, 0});
  PutLe(encoded, encoded.size() - 4, SevenZipCrc(header), 4);
  encoded.insert(encoded.end(), {kEnd, kEnd});
  Append(streams, packed);
  return SevenZipArchive(streams, encoded);
}

std::vector<uint8_t> ReplaceSevenZipProperties(std::vector<uint8_t> archive, uint64_t method,
                                               std::span<const uint8_t> properties) {
  const auto [offset, size] = HeaderPlace(archive);
  if (size == 0 || archive[kStartHeaderBytes + offset] != kHeader) return {};
  std::vector<uint8_t> coder =
      SevenZipCoderBytes({method, std::vector<uint8_t>(properties.size())});
  coder.resize(coder.size() - properties.size());
  const auto header = archive.begin() + static_cast<ptrdiff_t>(kStartHeaderBytes + offset);
  const auto found =
      std::search(header, header + static_cast<ptrdiff_t>(size), coder.begin(), coder.end());
  if (found == header + static_cast<ptrdiff_t>(size)) return {};
  std::copy(properties.begin(), properties.end(), found + static_cast<ptrdiff_t>(coder.size()));
  FixCrcs(archive);
  return archive;
}

std::vector<uint8_t> HideSevenZipHeaderInProperty(const std::vector<uint8_t>& archive) {
  const auto [offset, size] = HeaderPlace(archive);
  const auto header = archive.begin() + static_cast<ptrdiff_t>(kStartHeaderBytes + offset);
  if (size == 0 || *header != kHeader) return {};
  // Its first byte ends the properties for the reader that goes on after a property's size.
  std::vector<uint8_t> data = {kEnd};
  data.insert(data.end(), header + 1, header + static_cast<ptrdiff_t>(size));
  std::vector<uint8_t> hiding = {kHeader, kArchiveProperties, 0x42};
  Append(hiding, SevenZipNumber(data.size()));
  Append(hiding, data);
  const size_t read_by_size_alone = hiding.size();
  hiding.insert(hiding.end(), {kEnd, kEnd});
  std::vector<uint8_t> hidden =
      SevenZipArchive(std::span(archive).subspan(kStartHeaderBytes, offset), hiding);
  FixCrcs(hidden, read_by_size_alone);
  return hidden;
}

}  // namespace quarn::testing

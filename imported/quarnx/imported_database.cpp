#include "imported/quarnx/imported_database.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "imported/quarnx/database_layout.h"

namespace quarn {
namespace {

using namespace imported_layout;

static_assert(ImportedDatabase::kRecordBytes == kRecordBytes);

// Bytes of a section read at once to check its CRC.
constexpr uint64_t kCrcPiece = uint64_t{1} << 20;
// Bytes of a string read at once: a name fits.
constexpr uint64_t kStringPiece = 128;

bool IsHashKind(uint64_t kind) {
  return kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash) ||
         kind == static_cast<uint8_t>(ImportedSignature::Kind::kSectionHash);
}

// The CRC-32 of `size` bytes at `offset`, read a piece at a time; nothing when they cannot
// be read.
std::optional<uint32_t> CrcOf(const DatabaseReader& file, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> piece;
  uint32_t crc = 0;
  for (uint64_t done = 0; done < size; done += piece.size()) {
    piece.resize(std::min(kCrcPiece, size - done));
    if (!file.Read(offset + done, piece)) return std::nullopt;
    crc = Crc(piece, crc);
  }
  return crc;
}

std::optional<std::vector<uint8_t>> ReadExtent(const DatabaseReader& file, uint64_t offset,
                                               uint64_t size) {
  std::vector<uint8_t> bytes(size);
  if (!file.Read(offset, bytes)) return std::nullopt;
  return bytes;
}

// The text of a body record, "OFFSET:HEX", split and parsed; nothing when it is not one.
std::optional<std::pair<OffsetRule, BodyPattern>> ParseBody(std::string_view body) {
  const size_t colon = body.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::optional<OffsetRule> rule = ParseOffsetRule(body.substr(0, colon));
  if (!rule) return std::nullopt;
  ParsedPattern pattern = ParseBodyPattern(body.substr(colon + 1));
  if (!pattern.pattern) return std::nullopt;
  return std::pair(*rule, std::move(*pattern.pattern));
}

}  // namespace

Result<ImportedDatabase> ImportedDatabase::Decode(std::unique_ptr<DatabaseReader> file,
                                                  Checks checks) {
  const uint64_t file_size = file->size();
  std::array<uint8_t, kHeaderBytes> header{};
  if (file_size < kHeaderBytes || !file->Read(0, header) ||
      std::memcmp(header.data(), kMagic, kMagicBytes) != 0) {
    return Status::Error("not an imported signature database (no QUARNXDB header)");
  }
  const uint64_t version = Get(header, kVersionAt, 2);
  if (version != kImportedDatabaseVersion) {
    return Status::Error("format version " + std::to_string(version) + " is not supported");
  }
  const size_t section_count = Get(header, kSectionCountAt, 2);
  std::vector<uint8_t> directory(section_count * kEntryBytes);
  if (file_size - kHeaderBytes < directory.size() || !file->Read(kHeaderBytes, directory)) {
    return Status::Error("cut short in its section directory");
  }
  if (Crc(directory) != Get(header, kDirectoryCrcAt, 4)) {
    return Status::Error("the section directory fails its CRC");
  }
  std::map<uint32_t, Extent> sections;
  std::map<uint32_t, uint32_t> crcs;
  for (size_t index = 0; index < section_count; ++index) {
    const size_t entry = index * kEntryBytes;
    const uint32_t id = static_cast<uint32_t>(Get(directory, entry + kEntryIdAt, 4));
    const uint64_t offset = Get(directory, entry + kEntryOffsetAt, 8);
    const uint64_t size = Get(directory, entry + kEntrySizeAt, 8);
    const uint32_t crc = static_cast<uint32_t>(Get(directory, entry + kEntryCrcAt, 4));
    if (offset > file_size || size > file_size - offset) {
      return Status::Error("section " + std::to_string(id) + " lies past the end of the file");
    }
    // The strings, records and hash rows are read whole below anyway: their CRCs are taken
    // as they are read, so each byte is read once (docs/imported-database.md, "Reading").
    const bool checked_when_loaded = id == kMatcherSection && checks == Checks::kForScans;
    if (id != kStringsSection && id != kSignaturesSection && id != kHashesSection &&
        !checked_when_loaded) {
      const std::optional<uint32_t> read_crc = CrcOf(*file, offset, size);
      if (!read_crc) return Status::Error("section " + std::to_string(id) + " cannot be read");
      if (*read_crc != crc)
        return Status::Error("section " + std::to_string(id) + " fails its CRC");
    }
    // Sections of later minor additions are passed over; the three below are required.
    sections.emplace(id, Extent{offset, size});
    crcs.emplace(id, crc);
  }
  for (uint32_t id : {kStringsSection, kSignaturesSection, kHashesSection}) {
    if (!sections.contains(id))
      return Status::Error("section " + std::to_string(id) + " is missing");
  }
  const Extent hash_rows = sections[kHashesSection];
  if (sections[kSignaturesSection].size % kRecordBytes != 0 || hash_rows.size % kHashBytes != 0) {
    return Status::Error("a record section is not whole records");
  }
  // Held only while they are checked.
  const auto strings_read =
      ReadExtent(*file, sections[kStringsSection].offset, sections[kStringsSection].size);
  const auto records_read =
      ReadExtent(*file, sections[kSignaturesSection].offset, sections[kSignaturesSection].size);
  if (!strings_read || !records_read) return Status::Error("the records cannot be read");
  const std::vector<uint8_t>& strings = *strings_read;
  const std::vector<uint8_t>& records = *records_read;
  for (const auto& [id, bytes] :
       {std::pair(kStringsSection, &strings), {kSignaturesSection, &records}}) {
    if (Crc(*bytes) != crcs[id])
      return Status::Error("section " + std::to_string(id) + " fails its CRC");
  }
  // So every offset within the section starts a string that ends in it, and a record's
  // strings are checked without reading them: a file of millions whose records all name one
  // long string costs no more than any other.
  if (!strings.empty() && strings.back() != 0) {
    return Status::Error("the strings do not end with a NUL");
  }
  const auto string_at = [&](uint64_t offset) -> std::optional<std::string_view> {
    if (offset >= strings.size()) return std::nullopt;
    return std::string_view(reinterpret_cast<const char*>(strings.data() + offset));
  };

  ImportedDatabase database;
  const size_t count = records.size() / kRecordBytes;
  // Each signature's kind by index, for the hash rows to be checked against.
  std::vector<uint8_t> kinds(count);
  size_t hash_records = 0;
  for (size_t index = 0; index < count; ++index) {
    const size_t at = index * kRecordBytes;
    const uint64_t name = Get(records, at + kRecordNameAt, 4);
    const uint8_t kind = static_cast<uint8_t>(Get(records, at + kRecordKindAt, 1));
    const uint8_t target = static_cast<uint8_t>(Get(records, at + kRecordTargetAt, 1));
    if (name >= strings.size() || strings[name] == 0 ||
        Get(records, at + kRecordSourceAt, 4) >= strings.size()) {
      return Status::Error("signature " + std::to_string(index) + " names no string");
    }
    kinds[index] = kind;
    if (kind == static_cast<uint8_t>(ImportedSignature::Kind::kBody)) {
      const std::optional<std::string_view> body = string_at(Get(records, at + kRecordBodyAt, 4));
      if (target > 2 || !body || (checks == Checks::kAll && !ParseBody(*body))) {
        return Status::Error("signature " + std::to_string(index) +
                             " holds no pattern the matcher takes");
      }
      database.bodies_.push_back(static_cast<uint32_t>(index));
    } else if (IsHashKind(kind) && target == 0) {
      ++hash_records;
    } else {
      return Status::Error("signature " + std::to_string(index) + " is of an unknown kind");
    }
  }
  if (hash_rows.size / kHashBytes != hash_records) {
    return Status::Error("the hashes are not one for each hash signature");
  }
  if (checks == Checks::kForScans) {
    database.pending_hashes_ = PendingHashes{hash_rows, crcs[kHashesSection], std::move(kinds)};
  } else {
    Result<HashRows> hashes =
        HashRows::Load(*file, hash_rows.offset, hash_rows.size, crcs[kHashesSection], kinds);
    if (!hashes) return hashes.status();
    database.hashes_ = std::move(*hashes);
  }
  database.strings_ = sections[kStringsSection];
  database.records_ = sections[kSignaturesSection];
  if (const auto matcher = sections.find(kMatcherSection); matcher != sections.end()) {
    database.matcher_ = matcher->second;
  }
  database.file_ = std::move(file);
  return database;
}

std::string ImportedDatabase::StringAt(uint64_t offset) const {
  std::string text;
  std::array<uint8_t, kStringPiece> piece;
  while (offset < strings_.size) {
    const size_t length = static_cast<size_t>(std::min(kStringPiece, strings_.size - offset));
    if (!file_->Read(strings_.offset + offset, std::span(piece.data(), length))) return "";
    const auto end = std::find(piece.begin(), piece.begin() + length, 0);
    text.append(piece.begin(), end);
    if (end != piece.begin() + length) break;
    offset += length;
  }
  return text;
}

std::optional<std::array<uint8_t, ImportedDatabase::kRecordBytes>> ImportedDatabase::RecordAt(
    uint32_t index) const {
  std::array<uint8_t, kRecordBytes> record;
  if (index >= size() || !file_->Read(records_.offset + uint64_t{index} * kRecordBytes, record)) {
    return std::nullopt;
  }
  return record;
}

std::string ImportedDatabase::Name(uint32_t index) const {
  const auto record = RecordAt(index);
  if (!record) return "";
  return StringAt(Get(*record, kRecordNameAt, 4));
}

ImportedSignature ImportedDatabase::Signature(uint32_t index) const {
  ImportedSignature signature;
  const auto record = RecordAt(index);
  if (!record) return signature;
  signature.kind = static_cast<ImportedSignature::Kind>(Get(*record, kRecordKindAt, 1));
  signature.target = static_cast<ImportedSignature::Target>(Get(*record, kRecordTargetAt, 1));
  signature.name = StringAt(Get(*record, kRecordNameAt, 4));
  signature.source = StringAt(Get(*record, kRecordSourceAt, 4));
  if (const uint64_t line = Get(*record, kRecordLineAt, 4); line != 0) {
    signature.source += ":" + std::to_string(line);
  }
  if (signature.kind == ImportedSignature::Kind::kBody) {
    // Checked when the file was read; bytes changed in the file since give an empty pattern.
    if (auto body = ParseBody(StringAt(Get(*record, kRecordBodyAt, 4)))) {
      signature.offset = body->first;
      signature.pattern = std::move(body->second);
    }
    return signature;
  }
  if (const std::optional<HashRows::Row> row = hashes_.RowOf(*file_, index)) {
    signature.size = row->size;
    signature.digest.assign(row->digest().begin(), row->digest().end());
  }
  return signature;
}

bool ImportedDatabase::ForEachBody(const std::function<void(uint32_t, ImportedSignature::Target,
                                                            OffsetRule, BodyPattern)>& take) const {
  const auto strings = ReadExtent(*file_, strings_.offset, strings_.size);
  const auto records = ReadExtent(*file_, records_.offset, records_.size);
  if (!strings || !records) return false;
  for (uint32_t index : bodies_) {
    const size_t at = size_t{index} * kRecordBytes;
    const uint64_t offset = Get(*records, at + kRecordBodyAt, 4);
    if (offset >= strings->size()) return false;
    auto body =
        ParseBody(std::string_view(reinterpret_cast<const char*>(strings->data() + offset)));
    if (!body) return false;
    take(index, static_cast<ImportedSignature::Target>(Get(*records, at + kRecordTargetAt, 1)),
         body->first, std::move(body->second));
  }
  return true;
}

std::vector<uint8_t> ImportedDatabase::matcher() const {
  return ReadExtent(*file_, matcher_.offset, matcher_.size).value_or(std::vector<uint8_t>{});
}

Status ImportedDatabase::LoadHashRows() {
  if (!pending_hashes_) return Status::Ok();
  PendingHashes pending = std::move(*pending_hashes_);
  Result<HashRows> hashes =
      HashRows::Load(*file_, pending.rows.offset, pending.rows.size, pending.crc, pending.kinds);
  if (!hashes) return hashes.status();
  hashes_ = std::move(*hashes);
  pending_hashes_.reset();
  return Status::Ok();
}

bool ImportedDatabase::HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const {
  if (pending_hashes_) return true;  // so that FindHash says it failed
  return hashes_.HasSize(*file_, static_cast<uint8_t>(kind), size);
}

HashLookup ImportedDatabase::FindHash(ImportedSignature::Kind kind, uint64_t size,
                                      std::span<const uint8_t> digest) const {
  if (pending_hashes_) return {std::nullopt, true};
  const HashLookup found = hashes_.Find(*file_, static_cast<uint8_t>(kind), size, digest);
  if (!found.signature) return found;
  // Checked when the file was read; asked again for bytes changed in the file since.
  const auto record = RecordAt(*found.signature);
  if (!record) return {std::nullopt, true};
  if (Get(*record, kRecordKindAt, 1) != static_cast<uint8_t>(kind)) return {};
  return found;
}

}  // namespace quarn

#include "imported/imported_database.h"

#include <cstring>
#include <map>

#include "imported/database_layout.h"

namespace quarn {
namespace {

using namespace imported_layout;

static_assert(ImportedDatabase::kRecordBytes == kRecordBytes);

bool IsHashKind(uint64_t kind) {
  return kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash) ||
         kind == static_cast<uint8_t>(ImportedSignature::Kind::kSectionHash);
}

}  // namespace

Result<ImportedDatabase> ImportedDatabase::Decode(std::unique_ptr<FileBytes> file) {
  const std::span<const uint8_t> all = file->bytes();
  if (all.size() < kHeaderBytes || std::memcmp(all.data(), kMagic, kMagicBytes) != 0) {
    return Status::Error("not an imported signature database (no QUARNXDB header)");
  }
  const uint64_t version = Get(all, kVersionAt, 2);
  if (version != kImportedDatabaseVersion) {
    return Status::Error("format version " + std::to_string(version) + " is not supported");
  }
  const size_t section_count = Get(all, kSectionCountAt, 2);
  if (all.size() - kHeaderBytes < section_count * kEntryBytes) {
    return Status::Error("cut short in its section directory");
  }
  if (Crc(all.subspan(kHeaderBytes, section_count * kEntryBytes)) != Get(all, kDirectoryCrcAt, 4)) {
    return Status::Error("the section directory fails its CRC");
  }
  std::map<uint32_t, std::span<const uint8_t>> sections;
  for (size_t index = 0; index < section_count; ++index) {
    const size_t entry = kHeaderBytes + index * kEntryBytes;
    const uint32_t id = static_cast<uint32_t>(Get(all, entry + kEntryIdAt, 4));
    const uint64_t offset = Get(all, entry + kEntryOffsetAt, 8);
    const uint64_t size = Get(all, entry + kEntrySizeAt, 8);
    if (offset > all.size() || size > all.size() - offset) {
      return Status::Error("section " + std::to_string(id) + " lies past the end of the file");
    }
    const std::span<const uint8_t> section = all.subspan(offset, size);
    // The hash rows too: the filter of their sizes reads every row anyway, so their CRC costs
    // little more than the read (docs/imported-database.md, "Reading").
    if (Crc(section) != Get(all, entry + kEntryCrcAt, 4)) {
      return Status::Error("section " + std::to_string(id) + " fails its CRC");
    }
    // Sections of later minor additions are passed over; the three below are required.
    sections.emplace(id, section);
  }
  for (uint32_t id : {kStringsSection, kSignaturesSection, kHashesSection}) {
    if (!sections.contains(id))
      return Status::Error("section " + std::to_string(id) + " is missing");
  }
  const std::span<const uint8_t> strings = sections[kStringsSection];
  const std::span<const uint8_t> records = sections[kSignaturesSection];
  const std::span<const uint8_t> hash_rows = sections[kHashesSection];
  if (records.size() % kRecordBytes != 0 || hash_rows.size() % kHashBytes != 0) {
    return Status::Error("a record section is not whole records");
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
      const size_t colon = body ? body->find(':') : std::string_view::npos;
      if (target > 2 || colon == std::string_view::npos ||
          !ParseOffsetRule(body->substr(0, colon)) ||
          !ParseBodyPattern(body->substr(colon + 1)).pattern) {
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
  if (hash_rows.size() / kHashBytes != hash_records) {
    return Status::Error("the hashes are not one for each hash signature");
  }
  Result<HashRows> hashes = HashRows::Load(hash_rows, kinds);
  if (!hashes) return hashes.status();
  database.hashes_ = std::move(*hashes);
  database.strings_ = strings;
  database.records_ = records;
  if (const auto matcher = sections.find(kMatcherSection); matcher != sections.end()) {
    database.matcher_ = matcher->second;
  }
  // The spans point into the file's bytes, which stay where they are as the owner moves.
  database.file_ = std::move(file);
  return database;
}

std::string ImportedDatabase::StringAt(uint64_t offset) const {
  if (offset >= strings_.size()) return "";
  const auto* start = reinterpret_cast<const char*>(strings_.data() + offset);
  return std::string(start, strnlen(start, strings_.size() - offset));
}

uint8_t ImportedDatabase::KindAt(uint32_t index) const {
  return static_cast<uint8_t>(Get(records_, index * kRecordBytes + kRecordKindAt, 1));
}

std::string ImportedDatabase::Name(uint32_t index) const {
  if (index >= size()) return "";
  return StringAt(Get(records_, index * kRecordBytes + kRecordNameAt, 4));
}

ImportedSignature ImportedDatabase::Signature(uint32_t index) const {
  const size_t at = index * kRecordBytes;
  ImportedSignature signature;
  signature.kind = static_cast<ImportedSignature::Kind>(KindAt(index));
  signature.target = static_cast<ImportedSignature::Target>(Get(records_, at + kRecordTargetAt, 1));
  signature.name = Name(index);
  signature.source = StringAt(Get(records_, at + kRecordSourceAt, 4));
  if (const uint64_t line = Get(records_, at + kRecordLineAt, 4); line != 0) {
    signature.source += ":" + std::to_string(line);
  }
  if (signature.kind == ImportedSignature::Kind::kBody) {
    const std::string body = StringAt(Get(records_, at + kRecordBodyAt, 4));
    const size_t colon = body.find(':');
    // Checked when the file was read; a mapping's bytes changed since give an empty pattern.
    if (colon == std::string::npos) return signature;
    signature.offset =
        ParseOffsetRule(std::string_view(body).substr(0, colon)).value_or(OffsetRule{});
    signature.pattern =
        ParseBodyPattern(std::string_view(body).substr(colon + 1)).pattern.value_or(BodyPattern{});
    return signature;
  }
  if (const std::optional<uint64_t> row = hashes_.RowOf(index)) {
    signature.size = hashes_.SizeAt(*row);
    const std::span<const uint8_t> digest = hashes_.DigestAt(*row);
    signature.digest.assign(digest.begin(), digest.end());
  }
  return signature;
}

bool ImportedDatabase::HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const {
  return hashes_.HasSize(static_cast<uint8_t>(kind), size);
}

std::optional<uint32_t> ImportedDatabase::FindHash(ImportedSignature::Kind kind, uint64_t size,
                                                   std::span<const uint8_t> digest) const {
  const std::optional<uint32_t> found = hashes_.Find(static_cast<uint8_t>(kind), size, digest);
  // Checked when the file was read; asked again for bytes changed under a mapping since.
  if (!found || *found >= this->size() || KindAt(*found) != static_cast<uint8_t>(kind)) {
    return std::nullopt;
  }
  return found;
}

}  // namespace quarn

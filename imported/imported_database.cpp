#include "imported/imported_database.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <tuple>

namespace quarn {
namespace {

// The layout; docs/imported-database.md tells it in prose.
constexpr char kMagic[] = "QUARNXDB";
constexpr size_t kMagicBytes = 8;
constexpr size_t kVersionAt = 8;
constexpr size_t kSectionCountAt = 10;
constexpr size_t kDirectoryCrcAt = 12;
constexpr size_t kHeaderBytes = 16;

constexpr size_t kEntryIdAt = 0;
constexpr size_t kEntryCrcAt = 4;
constexpr size_t kEntryOffsetAt = 8;
constexpr size_t kEntrySizeAt = 16;
constexpr size_t kEntryBytes = 24;

constexpr uint32_t kStringsSection = 1;
constexpr uint32_t kSignaturesSection = 2;
constexpr uint32_t kHashesSection = 3;
constexpr uint32_t kMatcherSection = 4;

constexpr size_t kRecordNameAt = 0;
constexpr size_t kRecordSourceAt = 4;
constexpr size_t kRecordLineAt = 8;
constexpr size_t kRecordKindAt = 12;
constexpr size_t kRecordTargetAt = 13;
constexpr size_t kRecordBodyAt = 16;
constexpr size_t kRecordBytes = ImportedDatabase::kRecordBytes;
constexpr uint32_t kNoBody = 0xFFFFFFFF;

constexpr size_t kHashSizeAt = 0;
constexpr size_t kHashSignatureAt = 8;
constexpr size_t kHashKindAt = 12;
constexpr size_t kHashLengthAt = 13;
constexpr size_t kHashDigestAt = 16;
constexpr size_t kHashBytes = ImportedDatabase::kHashBytes;
constexpr size_t kLongestDigest = 32;

void Put(std::vector<uint8_t>& out, size_t at, uint64_t value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t Get(std::span<const uint8_t> in, size_t at, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint64_t{in[at + i]} << (8 * i);
  return value;
}

uint32_t Crc(std::span<const uint8_t> bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  // zlib takes lengths in uInt: feed a large section in pieces.
  constexpr size_t kPiece = size_t{1} << 30;
  for (size_t at = 0; at < bytes.size(); at += kPiece) {
    const size_t length = std::min(kPiece, bytes.size() - at);
    crc = crc32(crc, bytes.data() + at, static_cast<uInt>(length));
  }
  return static_cast<uint32_t>(crc);
}

// Strings stored once each, NUL-terminated, referred to by their offset.
class StringTable {
 public:
  uint32_t Add(const std::string& text) {
    const auto [found, added] = offsets_.try_emplace(text, static_cast<uint32_t>(bytes_.size()));
    if (added) {
      bytes_.insert(bytes_.end(), text.begin(), text.end());
      bytes_.push_back(0);
    }
    return found->second;
  }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::map<std::string, uint32_t> offsets_;
  std::vector<uint8_t> bytes_;
};

// "main.cvd:main.ndb:12" as its file and member, and its line.
std::pair<std::string, uint32_t> SplitSource(const std::string& source) {
  const size_t colon = source.rfind(':');
  if (colon == std::string::npos) return {source, 0};
  const std::string line = source.substr(colon + 1);
  if (line.empty() || line.size() > 9 ||
      !std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return {source, 0};
  }
  return {source.substr(0, colon), static_cast<uint32_t>(std::stoul(line))};
}

// Whether hash row `earlier` sorts strictly before row `later`: by kind, size, digest, then
// signature, as the writer sorted them.
bool InOrder(std::span<const uint8_t> rows, size_t earlier, size_t later) {
  const size_t a = earlier * kHashBytes;
  const size_t b = later * kHashBytes;
  const auto head = [&](size_t at) {
    return std::tuple(Get(rows, at + kHashKindAt, 1), Get(rows, at + kHashSizeAt, 8));
  };
  if (head(a) != head(b)) return head(a) < head(b);
  const auto digest = [&](size_t at) {
    return rows.subspan(at + kHashDigestAt, Get(rows, at + kHashLengthAt, 1));
  };
  const std::span<const uint8_t> first = digest(a);
  const std::span<const uint8_t> second = digest(b);
  if (!std::equal(first.begin(), first.end(), second.begin(), second.end())) {
    return std::lexicographical_compare(first.begin(), first.end(), second.begin(), second.end());
  }
  return Get(rows, a + kHashSignatureAt, 4) < Get(rows, b + kHashSignatureAt, 4);
}

bool IsHashKind(uint8_t kind) {
  return kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash) ||
         kind == static_cast<uint8_t>(ImportedSignature::Kind::kSectionHash);
}

}  // namespace

std::vector<uint8_t> EncodeImportedDatabase(const std::vector<ImportedSignature>& signatures,
                                            std::span<const uint8_t> matcher) {
  StringTable strings;
  std::vector<uint8_t> records(signatures.size() * kRecordBytes);
  struct HashRow {
    uint8_t kind;
    uint64_t size;
    std::vector<uint8_t> digest;
    uint32_t signature;
  };
  std::vector<HashRow> hashes;
  for (uint32_t index = 0; index < signatures.size(); ++index) {
    const ImportedSignature& signature = signatures[index];
    const size_t at = index * kRecordBytes;
    const auto [source, line] = SplitSource(signature.source);
    Put(records, at + kRecordNameAt, strings.Add(signature.name), 4);
    Put(records, at + kRecordSourceAt, strings.Add(source), 4);
    Put(records, at + kRecordLineAt, line, 4);
    Put(records, at + kRecordKindAt, static_cast<uint8_t>(signature.kind), 1);
    Put(records, at + kRecordTargetAt, static_cast<uint8_t>(signature.target), 1);
    uint32_t body = kNoBody;
    if (signature.kind == ImportedSignature::Kind::kBody) {
      body = strings.Add(FormatOffsetRule(signature.offset) + ":" +
                         FormatBodyPattern(signature.pattern));
    } else {
      hashes.push_back(
          {static_cast<uint8_t>(signature.kind), signature.size, signature.digest, index});
    }
    Put(records, at + kRecordBodyAt, body, 4);
  }
  std::sort(hashes.begin(), hashes.end(), [](const HashRow& a, const HashRow& b) {
    return std::tie(a.kind, a.size, a.digest, a.signature) <
           std::tie(b.kind, b.size, b.digest, b.signature);
  });
  std::vector<uint8_t> hash_bytes(hashes.size() * kHashBytes);
  for (size_t row = 0; row < hashes.size(); ++row) {
    const size_t at = row * kHashBytes;
    Put(hash_bytes, at + kHashSizeAt, hashes[row].size, 8);
    Put(hash_bytes, at + kHashSignatureAt, hashes[row].signature, 4);
    Put(hash_bytes, at + kHashKindAt, hashes[row].kind, 1);
    const size_t length = std::min(hashes[row].digest.size(), kLongestDigest);
    Put(hash_bytes, at + kHashLengthAt, length, 1);
    std::copy_n(hashes[row].digest.begin(), length, hash_bytes.begin() + at + kHashDigestAt);
  }

  const std::vector<uint8_t> matcher_bytes(matcher.begin(), matcher.end());
  std::vector<std::pair<uint32_t, const std::vector<uint8_t>*>> sections = {
      {kStringsSection, &strings.bytes()},
      {kSignaturesSection, &records},
      {kHashesSection, &hash_bytes}};
  if (!matcher_bytes.empty()) sections.push_back({kMatcherSection, &matcher_bytes});
  std::vector<uint8_t> out(kHeaderBytes + sections.size() * kEntryBytes);
  std::copy_n(kMagic, kMagicBytes, out.begin());
  Put(out, kVersionAt, kImportedDatabaseVersion, 2);
  Put(out, kSectionCountAt, sections.size(), 2);
  for (size_t index = 0; index < sections.size(); ++index) {
    const size_t entry = kHeaderBytes + index * kEntryBytes;
    const std::vector<uint8_t>& bytes = *sections[index].second;
    Put(out, entry + kEntryIdAt, sections[index].first, 4);
    Put(out, entry + kEntryCrcAt, Crc(bytes), 4);
    Put(out, entry + kEntryOffsetAt, out.size(), 8);
    Put(out, entry + kEntrySizeAt, bytes.size(), 8);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  const std::span<const uint8_t> directory(out.data() + kHeaderBytes,
                                           sections.size() * kEntryBytes);
  Put(out, kDirectoryCrcAt, Crc(directory), 4);
  return out;
}

Result<ImportedDatabase> ImportedDatabase::Decode(std::vector<uint8_t> bytes) {
  const std::span<const uint8_t> all(bytes);
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
  const auto string_at = [&](uint64_t offset) -> std::optional<std::string> {
    if (offset >= strings.size()) return std::nullopt;
    const auto* start = strings.data() + offset;
    const void* end = std::memchr(start, 0, strings.size() - offset);
    if (end == nullptr) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(start),
                       static_cast<const uint8_t*>(end) - start);
  };

  ImportedDatabase database;
  const size_t count = records.size() / kRecordBytes;
  size_t hash_records = 0;
  for (size_t index = 0; index < count; ++index) {
    const size_t at = index * kRecordBytes;
    const std::string where = "signature " + std::to_string(index);
    const std::optional<std::string> name = string_at(Get(records, at + kRecordNameAt, 4));
    const std::optional<std::string> source = string_at(Get(records, at + kRecordSourceAt, 4));
    const uint8_t kind = static_cast<uint8_t>(Get(records, at + kRecordKindAt, 1));
    const uint8_t target = static_cast<uint8_t>(Get(records, at + kRecordTargetAt, 1));
    if (!name || name->empty() || !source) return Status::Error(where + " names no string");
    if (kind == static_cast<uint8_t>(ImportedSignature::Kind::kBody)) {
      const std::optional<std::string> body = string_at(Get(records, at + kRecordBodyAt, 4));
      const size_t colon = body ? body->find(':') : std::string::npos;
      if (target > 2 || colon == std::string::npos ||
          !ParseOffsetRule(std::string_view(*body).substr(0, colon)) ||
          !ParseBodyPattern(std::string_view(*body).substr(colon + 1)).pattern) {
        return Status::Error(where + " holds no pattern the matcher takes");
      }
      database.bodies_.push_back(static_cast<uint32_t>(index));
    } else if (IsHashKind(kind) && target == 0) {
      ++hash_records;
    } else {
      return Status::Error(where + " is of an unknown kind");
    }
  }
  const size_t rows = hash_rows.size() / kHashBytes;
  if (rows != hash_records) return Status::Error("the hashes are not one for each hash signature");
  std::vector<bool> hashed(count, false);
  for (size_t row = 0; row < rows; ++row) {
    const size_t at = row * kHashBytes;
    const uint8_t kind = static_cast<uint8_t>(Get(hash_rows, at + kHashKindAt, 1));
    const size_t length = Get(hash_rows, at + kHashLengthAt, 1);
    const uint64_t signature = Get(hash_rows, at + kHashSignatureAt, 4);
    if (!IsHashKind(kind) || (length != 16 && length != 20 && length != 32) || signature >= count ||
        hashed[signature] || Get(records, signature * kRecordBytes + kRecordKindAt, 1) != kind) {
      return Status::Error("hash " + std::to_string(row) + " is malformed");
    }
    hashed[signature] = true;
    if (kind == static_cast<uint8_t>(ImportedSignature::Kind::kFileHash)) ++database.file_hashes_;
    if (row > 0 && !InOrder(hash_rows, row - 1, row)) {
      return Status::Error("the hashes are out of order at " + std::to_string(row));
    }
  }
  const uint8_t* base = bytes.data();
  database.bytes_ = std::move(bytes);
  // The spans point into the vector's buffer, which moving it keeps.
  const uint8_t* moved = database.bytes_.data();
  database.strings_ = std::span(moved + (strings.data() - base), strings.size());
  database.records_ = std::span(moved + (records.data() - base), records.size());
  database.hashes_ = std::span(moved + (hash_rows.data() - base), hash_rows.size());
  if (const auto matcher = sections.find(kMatcherSection); matcher != sections.end()) {
    database.matcher_ = std::span(moved + (matcher->second.data() - base), matcher->second.size());
  }
  return database;
}

std::string ImportedDatabase::StringAt(uint64_t offset) const {
  const auto* start = reinterpret_cast<const char*>(strings_.data() + offset);
  return std::string(start, strnlen(start, strings_.size() - offset));
}

std::string ImportedDatabase::Name(uint32_t index) const {
  return StringAt(Get(records_, index * kRecordBytes + kRecordNameAt, 4));
}

ImportedSignature ImportedDatabase::Signature(uint32_t index) const {
  const size_t at = index * kRecordBytes;
  ImportedSignature signature;
  signature.kind = static_cast<ImportedSignature::Kind>(Get(records_, at + kRecordKindAt, 1));
  signature.target = static_cast<ImportedSignature::Target>(Get(records_, at + kRecordTargetAt, 1));
  signature.name = Name(index);
  signature.source = StringAt(Get(records_, at + kRecordSourceAt, 4));
  if (const uint64_t line = Get(records_, at + kRecordLineAt, 4); line != 0) {
    signature.source += ":" + std::to_string(line);
  }
  if (signature.kind == ImportedSignature::Kind::kBody) {
    const std::string body = StringAt(Get(records_, at + kRecordBodyAt, 4));
    const size_t colon = body.find(':');
    signature.offset = *ParseOffsetRule(std::string_view(body).substr(0, colon));
    signature.pattern = *ParseBodyPattern(std::string_view(body).substr(colon + 1)).pattern;
    return signature;
  }
  for (size_t row = 0; row < hashes_.size() / kHashBytes; ++row) {
    const size_t hash = row * kHashBytes;
    if (Get(hashes_, hash + kHashSignatureAt, 4) != index) continue;
    signature.size = Get(hashes_, hash + kHashSizeAt, 8);
    const size_t length = Get(hashes_, hash + kHashLengthAt, 1);
    signature.digest.assign(hashes_.begin() + hash + kHashDigestAt,
                            hashes_.begin() + hash + kHashDigestAt + length);
    break;
  }
  return signature;
}

size_t ImportedDatabase::LowerHash(uint8_t kind, uint64_t size,
                                   std::span<const uint8_t> digest) const {
  size_t low = 0;
  size_t high = hashes_.size() / kHashBytes;
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    const size_t at = middle * kHashBytes;
    const std::span<const uint8_t> stored =
        hashes_.subspan(at + kHashDigestAt, Get(hashes_, at + kHashLengthAt, 1));
    const auto row =
        std::tuple(Get(hashes_, at + kHashKindAt, 1), Get(hashes_, at + kHashSizeAt, 8));
    const auto wanted = std::tuple(uint64_t{kind}, size);
    const bool below = row < wanted || (row == wanted &&
                                        std::lexicographical_compare(stored.begin(), stored.end(),
                                                                     digest.begin(), digest.end()));
    if (below) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool ImportedDatabase::HasHashOfSize(ImportedSignature::Kind kind, uint64_t size) const {
  const size_t row = LowerHash(static_cast<uint8_t>(kind), size, {});
  if (row >= hashes_.size() / kHashBytes) return false;
  const size_t at = row * kHashBytes;
  return Get(hashes_, at + kHashKindAt, 1) == static_cast<uint8_t>(kind) &&
         Get(hashes_, at + kHashSizeAt, 8) == size;
}

std::optional<uint32_t> ImportedDatabase::FindHash(ImportedSignature::Kind kind, uint64_t size,
                                                   std::span<const uint8_t> digest) const {
  const size_t row = LowerHash(static_cast<uint8_t>(kind), size, digest);
  if (row >= hashes_.size() / kHashBytes) return std::nullopt;
  const size_t at = row * kHashBytes;
  const std::span<const uint8_t> stored =
      hashes_.subspan(at + kHashDigestAt, Get(hashes_, at + kHashLengthAt, 1));
  if (Get(hashes_, at + kHashKindAt, 1) != static_cast<uint8_t>(kind) ||
      Get(hashes_, at + kHashSizeAt, 8) != size ||
      !std::equal(stored.begin(), stored.end(), digest.begin(), digest.end())) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(Get(hashes_, at + kHashSignatureAt, 4));
}

}  // namespace quarn

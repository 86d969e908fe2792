#include "imported/quarnx/database_encoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "imported/matching/packed_pattern.h"
#include "imported/quarnx/database_layout.h"
#include "imported/quarnx/imported_database.h"

namespace quarn {
namespace {

using namespace imported_layout;

// Room kept below 4 GiB for one more signature's strings: a name and a source of a few
// hundred bytes, a body's text of at most a few hundred KiB.
constexpr uint64_t kStringRoom = uint64_t{1} << 24;

// "main.cvd:main.ndb:12" as its file and member, and its line; 0 when it names none.
std::pair<std::string_view, uint32_t> SplitSource(std::string_view source) {
  const size_t colon = source.rfind(':');
  if (colon == std::string_view::npos) return {source, 0};
  const std::string_view line = source.substr(colon + 1);
  if (line.empty() || line.size() > 9 ||
      !std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return {source, 0};
  }
  uint32_t number = 0;
  for (const char digit : line) number = number * 10 + static_cast<uint32_t>(digit - '0');
  return {source.substr(0, colon), number};
}

}  // namespace

void ImportedDatabaseEncoder::Take(ImportedSignature signature) {
  if (finished_ || overflowed_ || count_ == std::numeric_limits<uint32_t>::max() ||
      strings_.bytes().size() > std::numeric_limits<uint32_t>::max() - kStringRoom) {
    overflowed_ = true;
    return;
  }
  const uint32_t index = count_++;
  const auto [source, line] = SplitSource(signature.source);
  uint8_t* record = records_.Append(kRecordBytes, 0);
  const std::span<uint8_t> out(record, kRecordBytes);
  // The strings in the order the file has always added them: name, source, body.
  Put(out, kRecordNameAt, strings_.Add(signature.name), 4);
  Put(out, kRecordSourceAt, strings_.Add(source), 4);
  Put(out, kRecordLineAt, line, 4);
  Put(out, kRecordKindAt, static_cast<uint8_t>(signature.kind), 1);
  Put(out, kRecordTargetAt, static_cast<uint8_t>(signature.target), 1);
  uint32_t body = kNoBody;
  if (signature.kind == ImportedSignature::Kind::kBody) {
    body = strings_.Add(FormatOffsetRule(signature.offset) + ":" +
                        FormatBodyPattern(signature.pattern));
    const size_t packed_at = packed_bodies_.size();
    AppendPackedPattern(signature.pattern, packed_bodies_);
    bodies_.push_back({index, static_cast<SignatureTarget>(signature.target), signature.offset,
                       packed_at, static_cast<uint32_t>(packed_bodies_.size() - packed_at)});
  } else {
    HashRow row{};
    row.size = signature.size;
    row.signature = index;
    row.kind = static_cast<uint8_t>(signature.kind);
    row.length = static_cast<uint8_t>(std::min(signature.digest.size(), kLongestDigest));
    std::copy_n(signature.digest.begin(), row.length, row.digest);
    hashes_.push_back(row);
  }
  Put(out, kRecordBodyAt, body, 4);
}

std::string ImportedDatabaseEncoder::SourceOf(uint32_t index) const {
  const std::span<const uint8_t> record = records_.bytes().subspan(index * kRecordBytes);
  std::string source(strings_.At(static_cast<uint32_t>(Get(record, kRecordSourceAt, 4))));
  if (const uint64_t line = Get(record, kRecordLineAt, 4); line != 0) {
    source += ":" + std::to_string(line);
  }
  return source;
}

void ImportedDatabaseEncoder::Drop(std::span<const uint32_t> indexes) {
  if (indexes.empty()) return;
  // How far signature `index` moves down: the dropped before it.
  const auto shift = [&](uint32_t index) {
    return static_cast<uint32_t>(std::lower_bound(indexes.begin(), indexes.end(), index) -
                                 indexes.begin());
  };
  // The strings of the dropped leave too, and the order of the rest follows the signatures
  // that stay: the table is made again from them.
  StringPool kept;
  uint32_t stays = 0;
  for (uint32_t index = 0; index < count_; ++index) {
    if (std::binary_search(indexes.begin(), indexes.end(), index)) continue;
    const std::span<uint8_t> from(&records_[index * kRecordBytes], kRecordBytes);
    for (const size_t field : {kRecordNameAt, kRecordSourceAt, kRecordBodyAt}) {
      const auto offset = static_cast<uint32_t>(Get(from, field, 4));
      if (field == kRecordBodyAt && offset == kNoBody) continue;  // a hash has no body text
      Put(from, field, kept.Add(strings_.At(offset)), 4);
    }
    std::memmove(&records_[stays * kRecordBytes], from.data(), kRecordBytes);
    ++stays;
  }
  records_.Truncate(stays * kRecordBytes);
  count_ = stays;
  strings_ = std::move(kept);
  // Dropping moves indexes down but never past one another, so the rows stay in order.
  for (HashRow& row : hashes_) row.signature -= shift(row.signature);
  // A dropped body's packed pattern stays in packed_bodies_, unread.
  std::erase_if(bodies_, [&](const Body& body) {
    return std::binary_search(indexes.begin(), indexes.end(), body.index);
  });
  for (Body& body : bodies_) body.index -= shift(body.index);
}

void ImportedDatabaseEncoder::ForEachBody(
    const std::function<void(const BodySignature&)>& take) const {
  BodySignature signature;
  for (const Body& body : bodies_) {
    signature.index = body.index;
    signature.target = body.target;
    signature.offset = body.offset;
    // Packed here, so it unpacks.
    UnpackPattern(std::string_view(packed_bodies_).substr(body.packed_at, body.packed_length),
                  signature.pattern);
    take(signature);
  }
}

Result<std::vector<std::span<const uint8_t>>> ImportedDatabaseEncoder::Finish(
    std::vector<uint8_t> matcher) {
  if (overflowed_) return Status::Error("more signatures than one QUARNX.DAT can hold");
  if (finished_) return Status::Error("QUARNX.DAT was finished already");
  finished_ = true;
  matcher_ = std::move(matcher);
  std::sort(hashes_.begin(), hashes_.end(), [](const HashRow& a, const HashRow& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.size != b.size) return a.size < b.size;
    // Digests compare as byte strings: a shorter one sorts before a longer it begins.
    if (const int order = std::memcmp(a.digest, b.digest, std::min(a.length, b.length))) {
      return order < 0;
    }
    if (a.length != b.length) return a.length < b.length;
    return a.signature < b.signature;
  });
  for (HashRow& row : hashes_) {
    const HashRow sorted = row;
    const std::span<uint8_t> out(reinterpret_cast<uint8_t*>(&row), kHashBytes);
    std::fill(out.begin(), out.end(), 0);
    Put(out, kHashSizeAt, sorted.size, 8);
    Put(out, kHashSignatureAt, sorted.signature, 4);
    Put(out, kHashKindAt, sorted.kind, 1);
    Put(out, kHashLengthAt, sorted.length, 1);
    std::copy_n(sorted.digest, sorted.length, out.begin() + kHashDigestAt);
  }
  static_assert(sizeof(HashRow) == kHashBytes);

  std::vector<std::pair<uint32_t, std::span<const uint8_t>>> sections = {
      {kStringsSection, strings_.bytes()},
      {kSignaturesSection, records_.bytes()},
      {kHashesSection, hashes_.bytes()}};
  if (!matcher_.empty()) sections.push_back({kMatcherSection, matcher_});
  head_.assign(kHeaderBytes + sections.size() * kEntryBytes, 0);
  std::copy_n(kMagic, kMagicBytes, head_.begin());
  Put(head_, kVersionAt, kImportedDatabaseVersion, 2);
  Put(head_, kSectionCountAt, sections.size(), 2);
  std::vector<std::span<const uint8_t>> pieces = {head_};
  uint64_t offset = head_.size();
  for (size_t index = 0; index < sections.size(); ++index) {
    const size_t entry = kHeaderBytes + index * kEntryBytes;
    const std::span<const uint8_t> bytes = sections[index].second;
    Put(head_, entry + kEntryIdAt, sections[index].first, 4);
    Put(head_, entry + kEntryCrcAt, Crc(bytes), 4);
    Put(head_, entry + kEntryOffsetAt, offset, 8);
    Put(head_, entry + kEntrySizeAt, bytes.size(), 8);
    offset += bytes.size();
    pieces.push_back(bytes);
  }
  Put(head_, kDirectoryCrcAt,
      Crc(std::span(head_).subspan(kHeaderBytes, sections.size() * kEntryBytes)), 4);
  return pieces;
}

std::vector<uint8_t> EncodeImportedDatabase(const std::vector<ImportedSignature>& signatures,
                                            std::span<const uint8_t> matcher) {
  ImportedDatabaseEncoder encoder;
  for (const ImportedSignature& signature : signatures) encoder.Take(signature);
  auto pieces = encoder.Finish(std::vector<uint8_t>(matcher.begin(), matcher.end()));
  std::vector<uint8_t> bytes;
  if (!pieces) return bytes;  // more than 4 billion signatures: none in memory here
  for (const std::span<const uint8_t> piece : *pieces) {
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  }
  return bytes;
}

}  // namespace quarn

#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "imported/imported_signature.h"
#include "imported/quarnx/database_layout.h"
#include "imported/quarnx/imported_database.h"

namespace quarn::testing {

// QUARNX.DAT for `signatures` written the plainest way, from the signatures held whole: the
// encoder an import once used, kept as the reference the streaming encoder must equal byte
// for byte.
inline std::vector<uint8_t> EncodeReferenceDatabase(
    const std::vector<ImportedSignature>& signatures, std::span<const uint8_t> matcher = {}) {
  using namespace imported_layout;
  std::map<std::string, uint32_t> offsets;
  std::vector<uint8_t> strings;
  const auto add = [&](const std::string& text) {
    const auto [found, added] = offsets.try_emplace(text, static_cast<uint32_t>(strings.size()));
    if (added) {
      strings.insert(strings.end(), text.begin(), text.end());
      strings.push_back(0);
    }
    return found->second;
  };
  std::vector<uint8_t> records(signatures.size() * kRecordBytes);
  std::vector<std::tuple<uint8_t, uint64_t, std::vector<uint8_t>, uint32_t>> hashes;
  for (uint32_t index = 0; index < signatures.size(); ++index) {
    const ImportedSignature& signature = signatures[index];
    std::string source = signature.source;
    uint32_t line = 0;
    const size_t colon = source.rfind(':');
    const std::string digits = colon == std::string::npos ? "" : source.substr(colon + 1);
    if (!digits.empty() && digits.size() <= 9 &&
        digits.find_first_not_of("0123456789") == std::string::npos) {
      line = static_cast<uint32_t>(std::stoul(digits));
      source.resize(colon);
    }
    const size_t at = index * kRecordBytes;
    Put(records, at + kRecordNameAt, add(signature.name), 4);
    Put(records, at + kRecordSourceAt, add(source), 4);
    Put(records, at + kRecordLineAt, line, 4);
    Put(records, at + kRecordKindAt, static_cast<uint8_t>(signature.kind), 1);
    Put(records, at + kRecordTargetAt, static_cast<uint8_t>(signature.target), 1);
    uint32_t body = kNoBody;
    if (signature.kind == ImportedSignature::Kind::kBody) {
      body = add(FormatOffsetRule(signature.offset) + ":" + FormatBodyPattern(signature.pattern));
    } else {
      hashes.emplace_back(static_cast<uint8_t>(signature.kind), signature.size, signature.digest,
                          index);
    }
    Put(records, at + kRecordBodyAt, body, 4);
  }
  std::sort(hashes.begin(), hashes.end());
  std::vector<uint8_t> rows(hashes.size() * kHashBytes);
  for (size_t row = 0; row < hashes.size(); ++row) {
    const auto& [kind, size, digest, signature] = hashes[row];
    const size_t at = row * kHashBytes;
    Put(rows, at + kHashSizeAt, size, 8);
    Put(rows, at + kHashSignatureAt, signature, 4);
    Put(rows, at + kHashKindAt, kind, 1);
    Put(rows, at + kHashLengthAt, digest.size(), 1);
    std::copy(digest.begin(), digest.end(), rows.begin() + at + kHashDigestAt);
  }
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> sections = {
      {kStringsSection, strings}, {kSignaturesSection, records}, {kHashesSection, rows}};
  if (!matcher.empty()) sections.push_back({kMatcherSection, {matcher.begin(), matcher.end()}});
  std::vector<uint8_t> out(kHeaderBytes + sections.size() * kEntryBytes);
  std::copy_n(kMagic, kMagicBytes, out.begin());
  Put(out, kVersionAt, kImportedDatabaseVersion, 2);
  Put(out, kSectionCountAt, sections.size(), 2);
  for (size_t index = 0; index < sections.size(); ++index) {
    const size_t entry = kHeaderBytes + index * kEntryBytes;
    Put(out, entry + kEntryIdAt, sections[index].first, 4);
    Put(out, entry + kEntryCrcAt, Crc(sections[index].second), 4);
    Put(out, entry + kEntryOffsetAt, out.size(), 8);
    Put(out, entry + kEntrySizeAt, sections[index].second.size(), 8);
    out.insert(out.end(), sections[index].second.begin(), sections[index].second.end());
  }
  Put(out, kDirectoryCrcAt,
      Crc(std::span(out).subspan(kHeaderBytes, sections.size() * kEntryBytes)), 4);
  return out;
}

// `bytes` with every section's CRC and the directory's made to fit what the sections now
// hold: damage a CRC would catch made into damage only the later checks can. Entries of
// sections past the end, and a directory past it, are left as they are.
inline std::vector<uint8_t> Resealed(std::vector<uint8_t> bytes) {
  using namespace imported_layout;
  if (bytes.size() < kHeaderBytes) return bytes;
  const size_t count =
      std::min<size_t>(Get(bytes, kSectionCountAt, 2), (bytes.size() - kHeaderBytes) / kEntryBytes);
  for (size_t index = 0; index < count; ++index) {
    const size_t entry = kHeaderBytes + index * kEntryBytes;
    const uint64_t offset = Get(bytes, entry + kEntryOffsetAt, 8);
    const uint64_t size = Get(bytes, entry + kEntrySizeAt, 8);
    if (offset > bytes.size() || size > bytes.size() - offset) continue;
    Put(bytes, entry + kEntryCrcAt, Crc(std::span<const uint8_t>(bytes).subspan(offset, size)), 4);
  }
  Put(bytes, kDirectoryCrcAt, Crc(std::span(bytes).subspan(kHeaderBytes, count * kEntryBytes)), 4);
  return bytes;
}

}  // namespace quarn::testing

#include "imported/clamav_records.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace quarn {
namespace {

// Fields of an .ndb line: Name:Target:Offset:Hex[:MinLevel[:MaxLevel]].
constexpr size_t kBodyName = 0;
constexpr size_t kBodyTarget = 1;
constexpr size_t kBodyOffset = 2;
constexpr size_t kBodyHex = 3;
// .hdb/.hsb: Hash:Size:Name[:MinLevel]; .mdb/.msb: Size:Hash:Name[:MinLevel].
constexpr size_t kHashFields = 3;
constexpr size_t kMostFields = 6;
constexpr size_t kLongestName = 256;

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  while (fields.size() < kMostFields + 1) {
    const size_t colon = line.find(':');
    fields.push_back(line.substr(0, colon));
    if (colon == std::string_view::npos) break;
    line = line.substr(colon + 1);
  }
  return fields;
}

std::optional<uint64_t> Number(std::string_view text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

// A name is shown in result lines and JSON: printable ASCII only, never a control byte.
bool IsFitName(std::string_view name) {
  return !name.empty() && name.size() <= kLongestName &&
         std::all_of(name.begin(), name.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

std::optional<std::vector<uint8_t>> Digest(std::string_view hex) {
  if (hex.size() != 32 && hex.size() != 40 && hex.size() != 64) return std::nullopt;
  std::vector<uint8_t> digest(hex.size() / 2);
  for (size_t index = 0; index < digest.size(); ++index) {
    const char* pair = hex.data() + 2 * index;
    const auto [end, error] = std::from_chars(pair, pair + 2, digest[index], 16);
    if (error != std::errc() || end != pair + 2) return std::nullopt;
  }
  return digest;
}

RecordLine Skipped(std::string reason) {
  return {std::nullopt, std::move(reason)};
}

RecordLine ParseBody(const std::vector<std::string_view>& fields, std::string source) {
  if (fields.size() < 4 || fields.size() > kMostFields || !IsFitName(fields[kBodyName])) {
    return Skipped("malformed");
  }
  const std::optional<uint64_t> target = Number(fields[kBodyTarget]);
  if (!target) return Skipped("malformed");
  if (*target > 2) return Skipped("target " + std::to_string(*target));
  const std::optional<OffsetRule> offset = ParseOffsetRule(fields[kBodyOffset]);
  if (!offset) return Skipped("offset form");
  ParsedPattern parsed = ParseBodyPattern(fields[kBodyHex]);
  if (!parsed.pattern) return Skipped(std::string(PatternSkipName(parsed.skip)));
  ImportedSignature signature;
  signature.kind = ImportedSignature::Kind::kBody;
  signature.target = static_cast<ImportedSignature::Target>(*target);
  signature.name = std::string(fields[kBodyName]);
  signature.source = std::move(source);
  signature.pattern = std::move(*parsed.pattern);
  signature.offset = *offset;
  return {std::move(signature), ""};
}

RecordLine ParseHash(RecordForm form, const std::vector<std::string_view>& fields,
                     std::string source) {
  if (fields.size() < kHashFields || fields.size() > kHashFields + 1 || !IsFitName(fields[2])) {
    return Skipped("malformed");
  }
  const bool section = form == RecordForm::kSectionHash;
  const std::string_view size_text = section ? fields[0] : fields[1];
  const std::string_view hash_text = section ? fields[1] : fields[0];
  if (size_text == "*") return Skipped("any size");
  const std::optional<uint64_t> size = Number(size_text);
  std::optional<std::vector<uint8_t>> digest = Digest(hash_text);
  if (!size || !digest) return Skipped("malformed");
  ImportedSignature signature;
  signature.kind =
      section ? ImportedSignature::Kind::kSectionHash : ImportedSignature::Kind::kFileHash;
  signature.name = std::string(fields[2]);
  signature.source = std::move(source);
  signature.digest = std::move(*digest);
  signature.size = *size;
  return {std::move(signature), ""};
}

}  // namespace

std::string FormName(std::string_view name) {
  const size_t dot = name.rfind('.');
  std::string form(dot == std::string_view::npos ? "" : name.substr(dot + 1));
  std::transform(form.begin(), form.end(), form.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return form;
}

RecordForm FormOfMember(std::string_view name) {
  const std::string form = FormName(name);
  if (form == "ndb") return RecordForm::kBody;
  if (form == "hdb" || form == "hsb") return RecordForm::kFileHash;
  if (form == "mdb" || form == "msb") return RecordForm::kSectionHash;
  // Signatures of other kinds: logical, bytecode, allow lists, the unofficial variants,
  // containers, icons, phishing, YARA.
  static constexpr std::string_view kOtherSignatures[] = {
      "ldb", "ldu", "cbc", "fp",  "sfp", "ndu", "hdu", "hsu", "mdu",  "msu", "cdb",
      "crb", "idb", "ftm", "pdb", "gdb", "wdb", "imp", "yar", "yara", "ign", "ign2"};
  for (std::string_view other : kOtherSignatures) {
    if (form == other) return RecordForm::kNotImported;
  }
  return RecordForm::kNoSignatures;
}

RecordLine ParseRecordLine(RecordForm form, std::string_view line, std::string source) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return {};
  const std::vector<std::string_view> fields = Fields(line);
  switch (form) {
    case RecordForm::kBody:
      return ParseBody(fields, std::move(source));
    case RecordForm::kFileHash:
    case RecordForm::kSectionHash:
      return ParseHash(form, fields, std::move(source));
    case RecordForm::kNotImported:
    case RecordForm::kNoSignatures:
      break;
  }
  return Skipped("form not imported");
}

}  // namespace quarn

#include "imported/clamav/clamav_records.h"

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
constexpr size_t kBodyMinLevel = 4;
constexpr size_t kBodyMaxLevel = 5;
// .hdb/.hsb: Hash:Size:Name[:MinLevel[:MaxLevel]]; .mdb/.msb: Size:Hash:Name[:MinLevel…].
constexpr size_t kHashFields = 3;
constexpr size_t kHashMinLevel = 3;
constexpr size_t kHashMaxLevel = 4;
constexpr size_t kMostFields = 6;
// ClamAV holds a hash record's size in 32 bits, all ones meaning none.
constexpr uint64_t kLargestHashedSize = 0xFFFFFFFE;
constexpr size_t kLongestName = 256;
// The level from which ClamAV reads a hash of any size: a record of such a hash must name it.
constexpr uint64_t kAnySizeLevel = 73;

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

// A name is shown in result lines and JSON: printable ASCII only (spaces too, as ClamAV
// takes them), never a control byte.
bool IsFitName(std::string_view name) {
  return !name.empty() && name.size() <= kLongestName &&
         std::all_of(name.begin(), name.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// A level as ClamAV reads it from a body record: digits only, none meaning 0.
std::optional<uint64_t> BodyLevel(std::string_view text) {
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return text.empty() ? 0 : Number(text).value_or(UINT64_MAX);
}

// A level as ClamAV reads it from a hash record: the leading digits (after blanks), what
// follows them ignored, none meaning 0.
uint64_t HashLevel(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  return digits == 0 ? 0 : Number(text.substr(0, digits)).value_or(UINT64_MAX);
}

// Whether a record of levels `min` (and `max`, when given) is for this engine.
bool IsForThisLevel(uint64_t min, std::optional<uint64_t> max) {
  return min <= kClamavFunctionalityLevel && (!max || *max >= kClamavFunctionalityLevel);
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
  std::optional<uint64_t> levels[2];
  for (size_t field = kBodyMinLevel; field < fields.size(); ++field) {
    levels[field - kBodyMinLevel] = BodyLevel(fields[field]);
    if (!levels[field - kBodyMinLevel]) return Skipped("malformed functionality level");
  }
  // Before the rest: a record for a later engine may use forms this one does not know.
  if (levels[0] && !IsForThisLevel(*levels[0], levels[1])) return Skipped("functionality level");
  // "*" is ClamAV's any file, as 0.
  const std::optional<uint64_t> target =
      fields[kBodyTarget] == "*" ? 0 : Number(fields[kBodyTarget]);
  if (!target) return Skipped("malformed");
  if (*target > 2) return Skipped("target " + std::to_string(*target));
  const std::optional<OffsetRule> offset = ParseOffsetRule(fields[kBodyOffset]);
  if (!offset) return Skipped("offset form");
  // ClamAV refuses an entry point or section offset but for executables.
  if (NeedsPeLayout(*offset) && *target != 1) {
    return Skipped("PE offset in target " + std::to_string(*target));
  }
  ParsedPattern parsed = ParseBodyPattern(fields[kBodyHex]);
  if (!parsed.pattern) return Skipped(std::string(PatternSkipName(parsed.skip)));
  if (const std::optional<PatternSkip> refused = PieceClamavRefuses(*parsed.pattern)) {
    return Skipped(std::string(PatternSkipName(*refused)));
  }
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
  if (fields.size() < kHashFields || fields.size() > kHashMaxLevel + 1 || !IsFitName(fields[2])) {
    return Skipped("malformed");
  }
  // Before the rest, as ClamAV: a record for a later engine may use forms this one does not
  // know.
  const uint64_t min = fields.size() > kHashMinLevel ? HashLevel(fields[kHashMinLevel]) : 0;
  if (fields.size() > kHashMinLevel) {
    const std::optional<uint64_t> max = fields.size() > kHashMaxLevel
                                            ? std::optional(HashLevel(fields[kHashMaxLevel]))
                                            : std::nullopt;
    if (!IsForThisLevel(min, max)) {
      return Skipped("functionality level");
    }
  }
  const bool section = form == RecordForm::kSectionHash;
  const std::string_view size_text = section ? fields[0] : fields[1];
  const std::string_view hash_text = section ? fields[1] : fields[0];
  // ClamAV refuses a hash of any size in a record that does not say it needs that level.
  const bool any_size = size_text == "*";
  if (any_size && min < kAnySizeLevel) return Skipped("any size below level 73");
  const std::optional<uint64_t> size = any_size ? ImportedSignature::kAnySize : Number(size_text);
  std::optional<std::vector<uint8_t>> digest = Digest(hash_text);
  // A size of 0 would flag every empty file; ClamAV refuses it, as a size it cannot hold.
  if (size == uint64_t{0}) return Skipped("size 0");
  if (!size || (!any_size && *size > kLargestHashedSize) || !digest) return Skipped("malformed");
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

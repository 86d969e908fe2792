#include "engine/record_formats.h"

#include <array>

#include "engine/section_directory.h"

namespace quarn {
namespace {

using K = FieldKind;

constexpr FieldFormat kEntryFields[] = {
    {"code", 0, 8, K::kBytes},
    {"id", 8, 2, K::kNumber},
    {"confirm-offset", 10, 1, K::kNumber},
    {"confirm", 11, 4, K::kBytes},
    {"code-offset", 15, 1, K::kNumber},
};
constexpr FieldFormat kOffsetFields[] = {
    {"code", 0, 2, K::kBytes},          {"id", 2, 2, K::kNumber},   {"distance", 4, 2, K::kNumber},
    {"confirm", 6, 6, K::kBytes},       {"gap", 12, 1, K::kNumber}, {"confirm2", 13, 2, K::kBytes},
    {"code-offset", 15, 1, K::kNumber},
};
constexpr FieldFormat kPatternFields[] = {
    {"id", 0, 2, K::kNumber},      {"length", 2, 1, K::kNumber, "pattern"},
    {"window", 3, 1, K::kNumber},  {"area", 4, 1, K::kNumber},
    {"pattern", 5, 15, K::kBytes},
};
constexpr FieldFormat kEndFields[] = {
    {"id", 0, 2, K::kNumber},
    {"offset", 2, 1, K::kNumber},
    {"length", 3, 1, K::kNumber, "pattern"},
    {"pattern", 4, 8, K::kBytes},
    {"distance", 12, 2, K::kNumber},
    {"length2", 14, 1, K::kNumber, "pattern2"},
    {"pattern2", 15, 4, K::kBytes},
};
constexpr FieldFormat kMbrPatternFields[] = {
    {"pattern", 0, 8, K::kBytes},          {"offset", 8, 2, K::kNumber},  {"id", 10, 2, K::kNumber},
    {"confirm-offset", 12, 2, K::kNumber}, {"confirm", 14, 4, K::kBytes},
};
constexpr FieldFormat kBootPatternFields[] = {
    {"pattern", 0, 8, K::kBytes},  {"offset", 8, 2, K::kNumber},
    {"id", 10, 2, K::kNumber},     {"confirm-offset", 12, 2, K::kNumber},
    {"confirm", 14, 4, K::kBytes}, {"follow-jump", 18, 1, K::kNumber},
};
constexpr FieldFormat kSubsequenceFields[] = {
    {"id", 0, 2, K::kNumber},
    {"required", 2, 2, K::kNumber, "pattern"},
    {"pattern", 4, 12, K::kBytes},
};
constexpr FieldFormat kExeCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"cs", 2, 2, K::kNumber},
    {"ip", 4, 2, K::kNumber},
    {"ss", 6, 2, K::kNumber},
    {"sp", 8, 2, K::kNumber},
    {"length", 10, 2, K::kNumber},
    {"entry-distance", 12, 2, K::kNumber},
};
constexpr FieldFormat kEncryptedExeCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"cs", 2, 2, K::kNumber},
    {"ip", 4, 2, K::kNumber},
    {"ss", 6, 2, K::kNumber},
    {"sp", 8, 2, K::kNumber},
    {"length", 10, 2, K::kNumber},
    {"entry-distance", 12, 2, K::kNumber},
    {"scheme", 14, 2, K::kNumber},
    {"params", 16, 8, K::kBytes},
};
constexpr FieldFormat kComCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"saved-offset", 2, 2, K::kNumber},
    {"saved-length", 4, 2, K::kNumber},
    {"length", 6, 2, K::kNumber},
    {"entry-distance", 8, 2, K::kNumber},
    {"end-distance", 10, 2, K::kNumber},
};
constexpr FieldFormat kPrependCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"prefix", 2, 2, K::kNumber},
};
constexpr FieldFormat kEncryptedComCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"saved-offset", 2, 2, K::kNumber},
    {"saved-length", 4, 2, K::kNumber},
    {"length", 6, 2, K::kNumber},
    {"entry-distance", 8, 2, K::kNumber},
    {"end-distance", 10, 2, K::kNumber},
    {"scheme", 12, 2, K::kNumber},
    {"params", 14, 10, K::kBytes},
};
constexpr FieldFormat kMacroCleanFields[] = {
    {"id", 0, 2, K::kNumber},
};
constexpr FieldFormat kMacroFields[] = {
    {"id", 0, 2, K::kNumber},       {"offset", 2, 2, K::kNumber},   {"pattern", 4, 8, K::kBytes},
    {"offset2", 12, 2, K::kNumber}, {"pattern2", 14, 4, K::kBytes},
};
constexpr FieldFormat kMemoryPatternFields[] = {
    {"pattern", 0, 12, K::kBytes},
    {"spare", 12, 2, K::kNumber},
    {"id", 14, 2, K::kNumber},
    {"upper", 16, 1, K::kNumber},
    {"confirm-offset", 17, 1, K::kNumber},
    {"confirm", 18, 2, K::kNumber},
};
constexpr FieldFormat kBootRemovalFields[] = {
    {"id", 0, 2, K::kNumber},
    {"saved-sector", 2, 2, K::kNumber},
    {"saved-head", 4, 2, K::kNumber},
    {"increment", 6, 1, K::kNumber},
};
constexpr FieldFormat kMemoryNameFields[] = {
    {"id", 0, 2, K::kNumber},
    {"name", 2, 28, K::kText},
};
constexpr FieldFormat kPeCleanFields[] = {
    {"id", 0, 2, K::kNumber},
    {"entry-offset", 2, 2, K::kNumber},
    {"entry-distance", 4, 2, K::kNumber},
    {"size-adjust", 6, 1, K::kNumber},
    {"delta-offset", 7, 2, K::kNumber},
    {"delta-distance", 9, 2, K::kNumber},
    {"wipe", 11, 2, K::kNumber},
    {"entry-width", 13, 1, K::kNumber},
};
constexpr FieldFormat kRawFields[] = {
    {"bytes", 0, 255, K::kBytes},
};

constexpr std::string_view kEntry = "EntrySignatureRecord";
constexpr std::string_view kOffset = "OffsetSignatureRecord";
constexpr std::string_view kPattern = "PatternRecord";
constexpr std::string_view kRaw = "raw bytes";

constexpr std::array<RecordFormat, kSectionCount - 1> kFormats = {{
    {"exe-entry", kEntry, 0, 16, kEntryFields},
    {"exe-call", kOffset, 1, 16, kOffsetFields},
    {"exe-forward", kOffset, 2, 16, kOffsetFields},
    {"exe-backward", kOffset, 3, 16, kOffsetFields},
    {"exe-pattern", kPattern, 4, 20, kPatternFields},
    {"raw-5", kRaw, 5, 0, kRawFields, ""},
    {"com-tail-paragraph", kOffset, 6, 16, kOffsetFields},
    {"com-tail", kOffset, 7, 16, kOffsetFields},
    {"com-entry", kEntry, 8, 16, kEntryFields},
    {"com-call", kOffset, 9, 16, kOffsetFields},
    {"com-forward", kOffset, 10, 16, kOffsetFields},
    {"com-backward", kOffset, 11, 16, kOffsetFields},
    {"com-end", "EndSignatureRecord", 12, 19, kEndFields},
    {"com-pattern", kPattern, 13, 20, kPatternFields},
    {"boot-pattern", "boot sector pattern record", 14, 19, kBootPatternFields},
    {"mbr-pattern", "MBR pattern record", 15, 18, kMbrPatternFields},
    {"mbr-subsequence", "MBR subsequence record", 16, 16, kSubsequenceFields},
    {"raw-17", kRaw, 17, 0, kRawFields, ""},
    {"raw-18", kRaw, 18, 0, kRawFields, ""},
    {"raw-19", kRaw, 19, 0, kRawFields, ""},
    {"exe-clean", "ExeCleanRecord", 20, 14, kExeCleanFields},
    {"exe-crypt-clean", "EncryptedExeCleanRecord", 21, 24, kEncryptedExeCleanFields},
    {"raw-22", kRaw, 22, 0, kRawFields, ""},
    {"com-clean", "ComCleanRecord", 23, 12, kComCleanFields},
    {"prepend-clean", "PrependCleanRecord", 24, 4, kPrependCleanFields},
    {"com-crypt-clean", "EncryptedComCleanRecord", 25, 24, kEncryptedComCleanFields},
    {"macro-clean", "MacroCleanRecord", 26, 2, kMacroCleanFields},
    {"macro", "MacroSignatureRecord", 27, 18, kMacroFields},
    {"memory-pattern", "MemoryPatternRecord", 28, 20, kMemoryPatternFields},
    {"boot-removal", "BootRemovalRecord", 29, 7, kBootRemovalFields},
    {"memory-name", "MemoryNameRecord", 30, 30, kMemoryNameFields},
    {"raw-31", kRaw, 31, 0, kRawFields, ""},
    {"pe-entry", kOffset, 32, 16, kOffsetFields},
    {"pe-clean", "PeCleanRecord", 33, 14, kPeCleanFields},
}};

}  // namespace

std::span<const RecordFormat> AllRecordFormats() {
  return kFormats;
}

const RecordFormat* FindRecordFormat(std::string_view keyword) {
  for (const RecordFormat& format : kFormats) {
    if (format.keyword == keyword) return &format;
  }
  return nullptr;
}

const RecordFormat& RecordFormatOfSection(int section) {
  return kFormats.at(section);
}

}  // namespace quarn

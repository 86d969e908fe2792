#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "imported/imported_signature.h"

namespace quarn {

// The ClamAV functionality level whose record forms this program reads (ClamAV 1.4's): a
// record whose MinFL is above it, or whose MaxFL is below it, is left at import and counted.
inline constexpr uint32_t kClamavFunctionalityLevel = 216;

// The record files of a ClamAV database this program reads, by their extension.
enum class RecordForm : uint8_t {
  kBody,          // .ndb
  kFileHash,      // .hdb, .hsb
  kSectionHash,   // .mdb, .msb
  kNotImported,   // .ldb, .cbc, .fp, .sfp and the other signature files: counted, not taken
  kNoSignatures,  // anything else (.info, .cfg, COPYING…): passed over without a count
};

// The form of a member named `name` ("main.ndb", "daily.ldb").
RecordForm FormOfMember(std::string_view name);

// The member's extension in lower case, without the dot: the form's name in the report.
std::string FormName(std::string_view name);

// What one line of a record file gave: a signature, or why it was skipped. A blank line or a
// comment gives neither.
struct RecordLine {
  std::optional<ImportedSignature> signature;
  std::string skipped;  // the reason, for the import report; empty when nothing was there
};

// Parses one line of a record file of `form` (without its line end). `source` is stored with
// the signature.
RecordLine ParseRecordLine(RecordForm form, std::string_view line, std::string source);

}  // namespace quarn

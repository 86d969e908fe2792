#include "imported/imported_database_build.h"

#include <set>

#include "imported/clamav_records.h"
#include "imported/imported_database.h"
#include "imported/signature_matcher.h"

namespace quarn {
namespace {

std::vector<BodySignature> BodiesOf(const std::vector<ImportedSignature>& signatures) {
  std::vector<BodySignature> bodies;
  for (uint32_t index = 0; index < signatures.size(); ++index) {
    const ImportedSignature& signature = signatures[index];
    if (signature.kind != ImportedSignature::Kind::kBody) continue;
    bodies.push_back({index, signature.pattern, signature.offset,
                      static_cast<SignatureTarget>(signature.target)});
  }
  return bodies;
}

// "main.cvd:main.ndb:12" → "ndb".
std::string FormOfSource(const std::string& source) {
  const size_t line = source.rfind(':');
  return FormName(line == std::string::npos ? source : source.substr(0, line));
}

}  // namespace

Result<std::vector<uint8_t>> BuildImportedDatabase(std::vector<ImportedSignature> signatures,
                                                   ImportReport& report) {
  Result<SignatureMatcher> matcher = SignatureMatcher::Compile(BodiesOf(signatures));
  if (!matcher) return matcher.status();
  if (!matcher->refused().empty()) {
    // The refused leave the file, and the indexes the matcher was compiled with move: it is
    // compiled again over what stays.
    std::set<uint32_t> refused;
    for (const RefusedSignature& signature : matcher->refused()) {
      refused.insert(signature.index);
      report.CountImported(FormOfSource(signatures[signature.index].source), -1);
      report.CountSkipped(FormOfSource(signatures[signature.index].source),
                          "refused by the matcher");
    }
    std::vector<ImportedSignature> kept;
    for (uint32_t index = 0; index < signatures.size(); ++index) {
      if (!refused.contains(index)) kept.push_back(std::move(signatures[index]));
    }
    signatures = std::move(kept);
    matcher = SignatureMatcher::Compile(BodiesOf(signatures));
    if (!matcher) return matcher.status();
  }
  return EncodeImportedDatabase(signatures, matcher->Serialize());
}

}  // namespace quarn

#include "imported/quarnx/database_build.h"

#include <algorithm>

#include "imported/clamav/clamav_records.h"
#include "imported/matching/signature_matcher.h"

namespace quarn {
namespace {

// "main.cvd:main.ndb:12" → "ndb".
std::string FormOfSource(const std::string& source) {
  const size_t line = source.rfind(':');
  return FormName(line == std::string::npos ? source : source.substr(0, line));
}

Result<SignatureMatcher> CompileBodies(const ImportedDatabaseEncoder& encoder) {
  SignatureMatcher::Taker taker(encoder.body_count());
  encoder.ForEachBody([&](const BodySignature& signature) { taker.Take(signature); });
  return SignatureMatcher::CompileTaken(std::move(taker));
}

}  // namespace

Result<std::vector<std::span<const uint8_t>>> BuildImportedDatabase(
    ImportedDatabaseEncoder& encoder, ImportReport& report) {
  Result<SignatureMatcher> matcher = CompileBodies(encoder);
  if (!matcher) return matcher.status();
  if (!matcher->refused().empty()) {
    // The refused leave the file, and the indexes the matcher was compiled with move: it is
    // compiled again over what stays.
    std::vector<uint32_t> refused;
    for (const RefusedSignature& signature : matcher->refused()) {
      refused.push_back(signature.index);
      const std::string form = FormOfSource(encoder.SourceOf(signature.index));
      report.CountImported(form, -1);
      report.CountSkipped(form, "refused by the matcher");
    }
    std::sort(refused.begin(), refused.end());
    refused.erase(std::unique(refused.begin(), refused.end()), refused.end());
    encoder.Drop(refused);
    matcher = CompileBodies(encoder);
    if (!matcher) return matcher.status();
  }
  std::vector<uint8_t> image = matcher->Serialize();
  // Let go before the file's pieces are made: a million patterns' databases are 100 MiB.
  { const SignatureMatcher let_go = std::move(*matcher); }
  return encoder.Finish(std::move(image));
}

}  // namespace quarn

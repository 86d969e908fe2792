#include "engine/file_verdict.h"

#include "engine/executable_chain.h"
#include "engine/heuristics.h"
#include "engine/non_executable_chain.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

bool StartsWithMz(File& file) {
  uint8_t magic[2] = {};
  return ReadAt(file, 0, magic, sizeof magic) == sizeof magic && magic[0] == 'M' && magic[1] == 'Z';
}

}  // namespace

FileVerdict DetectFile(const DatabaseImage& signatures, File& file, bool heuristics_enabled,
                       ImportedScan imported) {
  FileVerdict verdict;
  verdict.executable = StartsWithMz(file);
  verdict.virus = verdict.executable ? DetectExecutable(signatures, file, &verdict.variant)
                                     : DetectNonExecutable(signatures, file, &verdict.variant);
  if (verdict.virus == 0 && imported.detector != nullptr) {
    const ImportedMatch match = imported.detector->MatchFile(file, imported.byte_limit);
    if (match.index) {
      verdict.virus = kImportedVirusIdBase + *match.index;
      verdict.variant = 0;
    } else {
      verdict.unverified = match.unverified;
    }
    verdict.imported_unfinished = match.unfinished;
  }
  if (verdict.virus == 0 && heuristics_enabled) {
    verdict.suspicious = verdict.executable ? CheckExecutableHeuristics(signatures, file)
                                            : CheckNonExecutableHeuristics(signatures, file);
  }
  return verdict;
}

}  // namespace quarn

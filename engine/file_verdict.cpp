#include "engine/file_verdict.h"

#include "engine/executable_chain.h"
#include "engine/file_reads.h"
#include "engine/heuristics.h"
#include "engine/non_executable_chain.h"

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
    const ImportedVerdict matched = imported.detector->MatchFile(file, imported.byte_limit);
    if (matched.signature) {
      verdict.virus = kImportedVirusIdBase + *matched.signature;
      verdict.variant = 0;
    }
    verdict.imported_unfinished = matched.unfinished;
  }
  if (verdict.virus == 0 && heuristics_enabled) {
    verdict.suspicious = verdict.executable ? CheckExecutableHeuristics(signatures, file)
                                            : CheckNonExecutableHeuristics(signatures, file);
  }
  return verdict;
}

}  // namespace quarn

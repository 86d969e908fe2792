#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/file.h"

namespace quarn {

// A detection by an imported signature reports this plus the signature's index: ids above
// 65535 never come from QUARN.DAT, whose records hold 16-bit ids.
inline constexpr uint32_t kImportedVirusIdBase = 65536;

inline bool IsImportedVirusId(uint32_t virus_id) {
  return virus_id >= kImportedVirusIdBase;
}

// What the imported signatures say of one file.
struct ImportedMatch {
  std::optional<uint32_t> index;  // the lowest signature matched; none when none did
  // Some pattern's verification reached its bound: with no match, the file was not judged
  // whole.
  bool unverified = false;
  // No signature matched, but a lookup could not be made (QUARNX.DAT was cut short under the
  // running scan): the file is not known to be clean.
  bool unfinished = false;
};

// Why a file with an unfinished look is not judged, as the scan reports it.
inline constexpr char kImportedUnfinishedCause[] = "QUARNX.DAT was cut short since it was loaded";

// Signatures from outside the program's own database (QUARNX.DAT), looked for after its
// detector chains found nothing and before the heuristics. Safe to call from several threads
// at once.
class ImportedDetector {
 public:
  virtual ~ImportedDetector() = default;
  // The lowest index of an imported signature the file matches, reading at most
  // `byte_limit` of its bytes; no index when none does or the file cannot be read.
  virtual ImportedMatch MatchFile(File& file, uint64_t byte_limit) const = 0;
  // The same for a boot sector or master boot record, against the patterns for any file.
  virtual std::optional<uint32_t> MatchBootArea(std::span<const uint8_t> sector) const = 0;
  // The signature's name ("Win.Trojan.Junkie-6").
  virtual std::string NameOf(uint32_t index) const = 0;
};

// What DetectFile needs to look for imported signatures: none when `detector` is null.
struct ImportedScan {
  const ImportedDetector* detector = nullptr;
  uint64_t byte_limit = 0;
};

}  // namespace quarn

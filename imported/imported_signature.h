#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imported/body_pattern.h"
#include "imported/offset_rule.h"

namespace quarn {

// One signature taken from a user's ClamAV database, as QUARNX.DAT keeps it.
struct ImportedSignature {
  enum class Kind : uint8_t {
    kBody = 1,        // a byte pattern with its offset rule (.ndb)
    kFileHash = 2,    // a whole file's MD5, SHA-1 or SHA-256 and size (.hdb, .hsb)
    kSectionHash = 3  // a PE section's MD5, SHA-1 or SHA-256 and size (.mdb, .msb)
  };
  // Which files a body pattern is looked for in.
  enum class Target : uint8_t { kAnyFile = 0, kPe = 1, kOle2 = 2 };

  Kind kind = Kind::kBody;
  Target target = Target::kAnyFile;
  std::string name;    // "Win.Trojan.Junkie-6"
  std::string source;  // where it came from: "main.cvd:main.ndb:12" (file, member, line)
  BodyPattern pattern;
  OffsetRule offset;
  std::vector<uint8_t> digest;  // 16, 20 or 32 bytes: the hash kind follows from the length
  uint64_t size = 0;            // of the file or the section a hash is of, or kAnySize

  // The size of a hash written "*": it is of a file or section of any size. No file has it.
  static constexpr uint64_t kAnySize = UINT64_MAX;

  friend bool operator==(const ImportedSignature&, const ImportedSignature&) = default;
};

}  // namespace quarn

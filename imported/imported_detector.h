#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/imported_detector.h"
#include "imported/matching/signature_matcher.h"
#include "imported/quarnx/imported_database.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn {

// QUARNX.DAT as a scan uses it: every body pattern in one pass over a file through the
// matcher (and over each stream of a compound document, where patterns for those streams
// and those for any file are looked for), a whole-file digest only when the file's size is one some
// hash has, and a PE section's digest only when its size is. Safe to share between threads.
class ImportedSignatures : public ImportedDetector {
 public:
  // The matcher QUARNX.DAT carries, or one compiled anew when it does not load here.
  static Result<std::unique_ptr<ImportedSignatures>> Open(ImportedDatabase database);

  ImportedMatch MatchFile(File& file, uint64_t byte_limit) const override;
  std::optional<uint32_t> MatchBootArea(std::span<const uint8_t> sector) const override;
  std::string NameOf(uint32_t index) const override { return database_.Name(index); }

  const ImportedDatabase& database() const { return database_; }
  const SignatureMatcher& matcher() const { return matcher_; }

 private:
  ImportedSignatures(ImportedDatabase database, SignatureMatcher matcher)
      : database_(std::move(database)), matcher_(std::move(matcher)) {}
  // The lowest body signature found in a stream of `file` when it is a compound document,
  // or in the deciphered text of a Word 6 macro that a "WordDocument" stream lists; sets
  // `unverified` when a verification in some stream reached its bound.
  std::optional<uint32_t> MatchStreams(File& file, uint64_t byte_limit, bool& unverified) const;
  // The lowest hash signature of `kind` for `length` bytes of `file` from `offset`.
  HashLookup MatchHash(File& file, ImportedSignature::Kind kind, uint64_t offset,
                       uint64_t length) const;

  ImportedDatabase database_;
  SignatureMatcher matcher_;
};

// The body signatures of `database` as the matcher takes them.
Result<std::vector<BodySignature>> BodySignaturesOf(const ImportedDatabase& database);

// QUARNX.DAT of the data folder, ready to scan with: nothing when the folder has none, an
// error naming the file and the cause when it is damaged.
Result<std::unique_ptr<ImportedDetector>> LoadImportedSignatures(FileSystem& files,
                                                                 const std::string& folder_path);

}  // namespace quarn

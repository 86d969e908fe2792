#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "imported/matching/signature_matcher.h"
#include "imported/quarnx/growing_array.h"
#include "imported/quarnx/string_pool.h"
#include "imported/signature_sink.h"
#include "platform/status.h"

namespace quarn {

// QUARNX.DAT built as an import reads: each signature goes into the file's own form as it is
// taken (its record, its strings stored once, a hash signature's row), so an import of
// millions of hashes holds about the file's size and never the signatures as objects. The
// body signatures are kept besides, packed, for the matcher to be compiled from them.
// The bytes are those EncodeImportedDatabase gives for the same signatures.
class ImportedDatabaseEncoder : public SignatureSink {
 public:
  // Appends `signature`: its index is the number taken before it. Past what one file can
  // number or hold, it is not taken, and Finish fails.
  void Take(ImportedSignature signature) override;

  uint32_t size() const { return count_; }
  // The body signatures taken so far, by index, as the matcher takes them.
  size_t body_count() const { return bodies_.size(); }
  void ForEachBody(const std::function<void(const BodySignature&)>& take) const;
  // Where signature `index` came from, as the import named it ("main.cvd:main.ndb:12").
  std::string SourceOf(uint32_t index) const;

  // Takes out the body signatures at `indexes` (ascending); those after them move down, as
  // though the dropped had never been taken.
  void Drop(std::span<const uint32_t> indexes);

  // The file, with `matcher` as its compiled matcher (none when empty), as pieces to be
  // written one after another. They lie in this encoder, which takes nothing more after.
  Result<std::vector<std::span<const uint8_t>>> Finish(std::vector<uint8_t> matcher);

 private:
  // A hash row as it is sorted; Finish writes each over with its file form, of one length.
  struct HashRow {
    uint64_t size;
    uint32_t signature;
    uint8_t kind;
    uint8_t length;
    uint16_t zero;
    uint8_t digest[32];
  };

  struct Body {
    uint32_t index;
    SignatureTarget target;
    OffsetRule offset;
    uint64_t packed_at;
    uint32_t packed_length;
  };

  StringPool strings_;
  GrowingArray<uint8_t> records_;
  GrowingArray<HashRow> hashes_;
  std::vector<Body> bodies_;
  std::string packed_bodies_;  // each body's pattern, packed, from its packed_at on
  std::vector<uint8_t> head_;  // the header and section directory, made by Finish
  std::vector<uint8_t> matcher_;
  uint32_t count_ = 0;
  bool overflowed_ = false;
  bool finished_ = false;
};

// QUARNX.DAT's bytes for `signatures`, in their order: a signature's index there is its index
// in the file (docs/imported-database.md has the layout). `matcher`: the compiled matcher of
// their body signatures, stored for the scanner to load instead of compiling.
std::vector<uint8_t> EncodeImportedDatabase(const std::vector<ImportedSignature>& signatures,
                                            std::span<const uint8_t> matcher = {});

}  // namespace quarn

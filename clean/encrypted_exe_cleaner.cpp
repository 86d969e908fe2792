#include "clean/encrypted_exe_cleaner.h"

#include <array>

#include "clean/appended_body.h"
#include "clean/exe_decrypt_schemes.h"
#include "engine/section_directory.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr uint32_t kWordSize = 2;

// Scheme 5: the extra words A and B go to the header offsets the record names, then the
// four words are restored in plain form. False when an extra word lies outside the file.
bool RestorePlainWords(File& file, std::span<const uint8_t> record, const AppendedBody& body,
                       DosHeaderCopy& header) {
  const uint16_t word_a = ReadU16(record, kScheme5WordAField);
  const uint16_t word_b = ReadU16(record, kScheme5WordBField);
  const bool has_b = word_b != kLeaveHeaderWord;
  if (!BodyBytesInFile(body, word_a, kWordSize)) return false;
  if (has_b && !BodyBytesInFile(body, word_b, kWordSize)) return false;
  // A header offset is at most 255, so the word stays inside the 512-byte copy.
  ReadAt(file, static_cast<int64_t>(body.virus_start + word_a),
         header.data() + ReadU8(record, kScheme5HeaderAField), kWordSize);
  if (has_b) {
    ReadAt(file, static_cast<int64_t>(body.virus_start + word_b),
           header.data() + ReadU8(record, kScheme5HeaderBField), kWordSize);
  }
  RestoreHeaderWords(file, record, header, body.virus_start);
  return true;
}

// Every other scheme: each saved word is read as two bytes and deciphered with the key.
bool RestoreEncipheredWords(File& file, std::span<const uint8_t> record, const AppendedBody& body,
                            DosHeaderCopy& header) {
  std::optional<SchemeKey> key = ReadSchemeKey(file, record, body);
  if (!key) return false;
  for (int index = 0; index < static_cast<int>(kSavedHeaderWords.size()); ++index) {
    const SavedHeaderWord& word = kSavedHeaderWords[index];
    const uint16_t offset = ReadU16(record, word.record_field);
    if (offset == kLeaveHeaderWord) continue;
    std::array<uint8_t, kWordSize> stored{};
    ReadAt(file, static_cast<int64_t>(body.virus_start + offset), stored.data(), kWordSize);
    const uint16_t current = ReadU16(header, word.header_field);
    WriteU16(header.data() + word.header_field,
             DecipherSavedWord(record, *key, index, offset, stored[0], stored[1], current));
  }
  return true;
}

}  // namespace

uint32_t CleanEncryptedExe(const CleaningContext& context, const CleanRecord& record, File& copy) {
  if (record.size < kEncryptedExeCleanRecordSize) return 0;
  std::span<const uint8_t> fields = record.view();
  const uint16_t scheme = ReadU16(fields, kDecryptSchemeField);
  if (scheme < kFirstDecryptScheme || scheme > kLastDecryptScheme) return 0;
  std::optional<AppendedBody> body = LocateAppendedBody(context, copy, fields);
  if (!body) return 0;

  DosHeaderCopy header = ReadDosHeaderCopy(copy);
  bool keep_length = false;
  if (scheme == kPlainWordsScheme) {
    if (!RestorePlainWords(copy, fields, *body, header)) return 0;
    keep_length = ReadU8(fields, kScheme5KeepLengthField) != 0;
  } else if (!RestoreEncipheredWords(copy, fields, *body, header)) {
    return 0;
  }
  if (!keep_length) SetHeaderLengthFields(header, body->new_length);
  return CutAppendedBody(context, copy, header, *body);
}

}  // namespace quarn

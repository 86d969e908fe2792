#include "clean/encrypted_com_cleaner.h"

#include <optional>

#include "clean/com_cut.h"
#include "clean/com_decrypt_schemes.h"
#include "clean/com_virus_start.h"
#include "engine/section_directory.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr int kDecryptSchemeField = 12;

}  // namespace

uint32_t CleanEncryptedCom(const CleaningContext& context, const CleanRecord& record, File& copy) {
  if (record.size < kEncryptedComCleanRecordSize) return 0;
  const std::optional<ComCleanFields> fields = ReadComCleanFields(record.view());
  if (!fields) return 0;
  const std::optional<uint64_t> size = copy.Size();
  if (!size) return 0;
  const std::optional<uint64_t> virus_start = LocateComVirusStart(copy, *fields, *size);
  if (!virus_start) return 0;

  DecryptBuffer work{};
  const uint32_t length = fields->saved_length;
  if (!ReadExactlyAt(copy, *virus_start + fields->saved_offset, work.data(), length)) return 0;
  const EncryptedComInfection infection{copy, *size, *virus_start, *fields, record.view()};
  if (!DecipherSavedBytes(ReadU16(record.view(), kDecryptSchemeField), infection, work)) return 0;
  return CutComVirus(context, copy, {work.data(), length}, fields->virus_length);
}

}  // namespace quarn

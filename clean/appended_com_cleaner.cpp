#include "clean/appended_com_cleaner.h"

#include <array>
#include <optional>

#include "clean/com_cut.h"
#include "clean/com_virus_start.h"
#include "platform/file_reads.h"

namespace quarn {

uint32_t CleanAppendedCom(const CleaningContext& context, const CleanRecord& record, File& copy) {
  const std::optional<ComCleanFields> fields = ReadComCleanFields(record.view());
  if (!fields) return 0;
  const std::optional<uint64_t> size = copy.Size();
  if (!size) return 0;
  const std::optional<uint64_t> virus_start = LocateComVirusStart(copy, *fields, *size);
  if (!virus_start) return 0;

  std::array<uint8_t, kMaxSavedBytes> saved;
  const uint32_t length = fields->saved_length;
  if (!ReadExactlyAt(copy, *virus_start + fields->saved_offset, saved.data(), length)) return 0;
  return CutComVirus(context, copy, {saved.data(), length}, fields->virus_length);
}

}  // namespace quarn

#include "clean/appended_exe_cleaner.h"

#include "clean/appended_body.h"
#include "engine/section_directory.h"

namespace quarn {

uint32_t CleanAppendedExe(const CleaningContext& context, const CleanRecord& record, File& copy) {
  if (record.size < kExeCleanRecordSize) return 0;
  std::optional<AppendedBody> body = LocateAppendedBody(context, copy, record.view());
  if (!body) return 0;
  DosHeaderCopy header = ReadDosHeaderCopy(copy);
  RestoreHeaderWords(copy, record.view(), header, body->virus_start);
  SetHeaderLengthFields(header, body->new_length);
  return CutAppendedBody(context, copy, header, *body);
}

}  // namespace quarn

#include "clean/clean_record.h"

#include <algorithm>
#include <cstdint>

#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "platform/byte_reader.h"

namespace quarn {

std::optional<CleanRecord> FindCleanRecord(const DatabaseImage& signatures, int section_index,
                                           uint32_t virus) {
  const uint8_t size = ReaderRecordSize(section_index);
  if (size == 0 || size > kMaxCleanRecordSize) return std::nullopt;
  const uint16_t wanted = static_cast<uint16_t>(virus);
  for (SectionWalk walk(signatures, DirectoryOffset(section_index), size); !walk.AtEnd();
       walk.Next()) {
    if (ReadU16(walk.Record(), 0) != wanted) continue;
    CleanRecord record;
    record.size = size;
    std::copy_n(walk.Record().begin(), size, record.bytes.begin());
    return record;
  }
  return std::nullopt;
}

}  // namespace quarn

#include "engine/virus_names.h"

#include "engine/section_directory.h"

namespace quarn {

std::string GetVirusName(const DatabaseImage& names, uint32_t virus_id) {
  if (virus_id == 0 || virus_id > NameRecordCount(names)) return "#" + std::to_string(virus_id);
  const uint8_t* field = names.data() + kNameTableStart +
                         static_cast<uint64_t>(kNameRecordSize) * (virus_id - 1) + kNameFieldOffset;
  uint32_t length = 0;
  while (length < kNameFieldLength && field[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(field), length);
}

uint32_t NameRecordCount(const DatabaseImage& names) {
  if (names.size() < kNameTableStart) return 0;
  return static_cast<uint32_t>((names.size() - kNameTableStart) / kNameRecordSize);
}

}  // namespace quarn

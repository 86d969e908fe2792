#include "clean/com_cut.h"

#include <array>
#include <optional>

namespace quarn {
namespace {

constexpr std::array<uint8_t, kWipeBlockSize> kWipeBlock{};

}  // namespace

uint32_t CutComVirus(const CleaningContext& context, File& file,
                     std::span<const uint8_t> first_bytes, uint16_t virus_length) {
  const std::optional<uint64_t> size = file.Size();
  if (!size || virus_length > *size || first_bytes.size() > *size) return 0;

  if (!WriteAt(file, 0, first_bytes.data(), static_cast<uint32_t>(first_bytes.size()))) {
    ReportWriteFailure(context);
    return 0;
  }
  const uint64_t new_length = *size - virus_length;
  // The block may run past the end for a short virus; the end set next cuts it off again.
  if (!WriteAt(file, new_length, kWipeBlock.data(), kWipeBlockSize)) {
    ReportWriteFailure(context);
    return 0;
  }
  if (!file.Seek(static_cast<int64_t>(new_length), SeekOrigin::kBegin)) return 0;
  return file.SetEndOfFile() ? 1 : 0;
}

}  // namespace quarn

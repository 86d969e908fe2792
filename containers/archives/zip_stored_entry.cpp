#include "containers/archives/zip_stored_entry.h"

#include <algorithm>
#include <span>
#include <vector>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr size_t kLocalHeaderBytes = 30;
// Names and extra fields longer than this make the entry read as any other.
constexpr uint64_t kSearchBytes = 4096;
constexpr uint16_t kEncrypted = 0x0001;
constexpr uint32_t kZip64Size = 0xFFFFFFFF;

}  // namespace

bool IsStoredZipEntry(File& archive, uint64_t data_start, uint64_t size) {
  if (size >= kZip64Size || data_start < kLocalHeaderBytes) return false;
  const uint64_t from = data_start - std::min(data_start, kSearchBytes);
  std::vector<uint8_t> window(static_cast<size_t>(data_start - from));
  if (archive.Seek(static_cast<int64_t>(from), SeekOrigin::kBegin) != from ||
      archive.Read(window.data(), static_cast<uint32_t>(window.size())) != window.size()) {
    return false;
  }
  const std::span<const uint8_t> bytes(window);
  // The nearest header whose name and extra field end where the data starts.
  for (size_t at = window.size() - kLocalHeaderBytes + 1; at-- > 0;) {
    if (ReadU32(bytes, at) != kLocalHeaderSignature) continue;
    const uint64_t header_end =
        from + at + kLocalHeaderBytes + ReadU16(bytes, at + 26) + ReadU16(bytes, at + 28);
    if (header_end != data_start) continue;
    return (ReadU16(bytes, at + 6) & kEncrypted) == 0 && ReadU16(bytes, at + 8) == 0 &&
           ReadU32(bytes, at + 18) == size && ReadU32(bytes, at + 22) == size;
  }
  return false;
}

}  // namespace quarn

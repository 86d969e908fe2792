#include "containers/wrappers/floppy_reader.h"

#include <cstddef>
// libdsk's header uses size_t without including what declares it.
#include <libdsk.h>

#include <mutex>

#include "containers/wrappers/floppy_formats.h"
#include "containers/wrappers/read_only_device.h"
#include "platform/file_reads.h"
#include "platform/sealed_memory_file.h"

namespace quarn {
namespace {

// libdsk keeps global state (its table of formats, read on the first open): one image at a
// time goes through it.
std::mutex library_mutex;

// A compression libdsk is named so that it never guesses one: each of its compressions
// unpacks into a temporary file it creates by name. This one claims only files that start
// with its own two bytes, which none of the images given to libdsk do, so the image is read
// as it is.
constexpr char kNoCompression[] = "sq";

const char* DriverName(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::kTd0:
      return "tele";
    case ContainerKind::kCqm:
      return "copyqm";
    default:
      return "imd";
  }
}

// The disk's sectors, all read when the image was opened; a sector that could not be read
// stops every read that reaches it.
class FloppyDevice : public ReadOnlyDevice {
 public:
  FloppyDevice(std::vector<uint8_t> bytes, size_t sector_size, std::vector<bool> readable)
      : bytes_(std::move(bytes)), sector_size_(sector_size), readable_(std::move(readable)) {}

  uint64_t Size() const override { return bytes_.size(); }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override {
    if (offset >= bytes_.size()) return 0;
    size_t end = static_cast<size_t>(std::min<uint64_t>(offset + length, bytes_.size()));
    for (size_t sector = offset / sector_size_; sector * sector_size_ < end; ++sector) {
      if (!readable_[sector]) {
        end = std::max<size_t>(offset, sector * sector_size_);
        break;
      }
    }
    std::copy(bytes_.begin() + static_cast<ptrdiff_t>(offset),
              bytes_.begin() + static_cast<ptrdiff_t>(end), static_cast<uint8_t*>(buffer));
    return end - offset;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t sector_size_;
  std::vector<bool> readable_;
};

bool SaneGeometry(const DSK_GEOMETRY& geometry) {
  const uint64_t size = geometry.dg_secsize;
  const uint64_t sectors =
      uint64_t{geometry.dg_cylinders} * geometry.dg_heads * uint64_t{geometry.dg_sectors};
  return size >= 128 && size <= 8192 && (size & (size - 1)) == 0 && geometry.dg_heads >= 1 &&
         geometry.dg_heads <= 2 && sectors > 0 && sectors * size <= kMostFloppyBytes;
}

// The disk libdsk reads from `layout`'s image; the wrapper's damage when some sectors, or all,
// cannot be read.
WrappedDisk ReadSectors(const FloppyLayout& layout) {
  WrappedDisk wrapped{layout.kind, nullptr, {}};
  const bool packed = layout.kind != ContainerKind::kImd;
  if (packed) wrapped.unpacked = layout.sector_bytes;
  const std::optional<SealedMemoryFile> copy = SealedMemoryFile::Create(layout.image);
  if (!copy) {
    wrapped.damage.push_back({"", IncompleteReason::kResource});
    return wrapped;
  }
  std::lock_guard lock(library_mutex);
  DSK_PDRIVER driver = nullptr;
  DSK_GEOMETRY geometry{};
  if (dsk_open(&driver, copy->LibraryName().c_str(), DriverName(layout.kind), kNoCompression) !=
          DSK_ERR_OK ||
      dsk_getgeom(driver, &geometry) != DSK_ERR_OK || !SaneGeometry(geometry)) {
    if (driver != nullptr) dsk_close(&driver);
    wrapped.damage.push_back({"", IncompleteReason::kDamaged});
    return wrapped;
  }
  const size_t sector_size = geometry.dg_secsize;
  const size_t sectors = size_t{geometry.dg_cylinders} * geometry.dg_heads * geometry.dg_sectors;
  std::vector<uint8_t> bytes(sectors * sector_size);
  std::vector<bool> readable(sectors, true);
  for (size_t sector = 0; sector < sectors; ++sector) {
    readable[sector] =
        dsk_lread(driver, &geometry, bytes.data() + sector * sector_size, sector) == DSK_ERR_OK;
  }
  dsk_close(&driver);
  if (std::find(readable.begin(), readable.end(), false) != readable.end()) {
    wrapped.damage.push_back({"", IncompleteReason::kDamaged});
  }
  wrapped.disk = std::make_shared<FloppyDevice>(std::move(bytes), sector_size, std::move(readable));
  return wrapped;
}

}  // namespace

std::optional<WrappedDisk> ReadFloppy(const std::shared_ptr<File>& file) {
  std::vector<uint8_t> head(kContainerHeadBytes);
  head.resize(ReadFullyAt(*file, 0, head.data(), static_cast<uint32_t>(head.size())));
  const std::optional<ContainerKind> kind = FloppyKind(head);
  const std::optional<uint64_t> size = file->Size();
  if (!kind || !size) return std::nullopt;
  if (*size > kMostFloppyBytes) return WrappedDisk{*kind, nullptr, {{"", IncompleteReason::kSize}}};
  std::vector<uint8_t> bytes(*size);
  if (!ReadExactlyAt(*file, 0, bytes)) {
    return WrappedDisk{*kind, nullptr, {{"", IncompleteReason::kDamaged}}};
  }
  std::optional<FloppyLayout> layout = ReadFloppyLayout(bytes);
  if (!layout) return std::nullopt;
  if (layout->refused) return WrappedDisk{layout->kind, nullptr, {{"", *layout->refused}}};
  return ReadSectors(*layout);
}

}  // namespace quarn

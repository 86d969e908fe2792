#include "containers/wrappers/library_readers.h"

#include <libqcow.h>
#include <libvhdi.h>

#include <cstring>

#include "containers/wrappers/library_block_device.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/library_file_name.h"

namespace quarn {
namespace {

constexpr uint8_t kQcowMagic[] = {'Q', 'F', 'I', 0xFB};
constexpr uint64_t kQcowVersionOffset = 4;
constexpr uint32_t kQcowLastVersion = 3;
constexpr uint8_t kVhdxMagic[] = {'v', 'h', 'd', 'x', 'f', 'i', 'l', 'e'};

std::vector<uint8_t> Head(File& file) {
  std::vector<uint8_t> head(kContainerHeadBytes);
  head.resize(ReadFullyAt(file, 0, head.data(), head.size()));
  return head;
}

// The failure a library may give back is left unasked for (a null error): a library's
// message is never what the scan reports, and none is allocated to be freed.
std::optional<WrappedDisk> OpenQcow(const std::string& name) {
  libqcow_file_t* handle = nullptr;
  if (libqcow_file_initialize(&handle, nullptr) != 1) return std::nullopt;
  auto closer = [](void* opened) {
    auto* qcow = static_cast<libqcow_file_t*>(opened);
    libqcow_file_close(qcow, nullptr);
    libqcow_file_free(&qcow, nullptr);
  };
  if (libqcow_file_open(handle, name.c_str(), LIBQCOW_OPEN_READ, nullptr) != 1) {
    libqcow_file_free(&handle, nullptr);
    return std::nullopt;
  }
  std::shared_ptr<void> owned(handle, closer);
  size_t backing = 0;
  if (libqcow_file_get_utf8_backing_filename_size(handle, &backing, nullptr) == 1 && backing > 0) {
    return UnsupportedWrapper(ContainerKind::kQcow);
  }
  if (libqcow_file_is_locked(handle, nullptr) != 0) {
    return WrappedDisk{ContainerKind::kQcow, nullptr, {{"", IncompleteReason::kEncrypted}}};
  }
  size64_t size = 0;
  if (libqcow_file_get_media_size(handle, &size, nullptr) != 1) return std::nullopt;
  auto read = [handle](void* buffer, size_t length, uint64_t offset) -> int64_t {
    return libqcow_file_read_buffer_at_offset(handle, buffer, length, static_cast<off64_t>(offset),
                                              nullptr);
  };
  return WrappedDisk{
      ContainerKind::kQcow, std::make_shared<LibraryBlockDevice>(size, read, std::move(owned)), {}};
}

std::optional<WrappedDisk> OpenVhdx(const std::string& name) {
  libvhdi_file_t* handle = nullptr;
  if (libvhdi_file_initialize(&handle, nullptr) != 1) return std::nullopt;
  auto closer = [](void* opened) {
    auto* vhdi = static_cast<libvhdi_file_t*>(opened);
    libvhdi_file_close(vhdi, nullptr);
    libvhdi_file_free(&vhdi, nullptr);
  };
  if (libvhdi_file_open(handle, name.c_str(), LIBVHDI_OPEN_READ, nullptr) != 1) {
    libvhdi_file_free(&handle, nullptr);
    return std::nullopt;
  }
  std::shared_ptr<void> owned(handle, closer);
  uint32_t type = 0;
  if (libvhdi_file_get_disk_type(handle, &type, nullptr) != 1) return std::nullopt;
  if (type == LIBVHDI_DISK_TYPE_DIFFERENTIAL) return UnsupportedWrapper(ContainerKind::kVhdx);
  size64_t size = 0;
  if (libvhdi_file_get_media_size(handle, &size, nullptr) != 1) return std::nullopt;
  auto read = [handle](void* buffer, size_t length, uint64_t offset) -> int64_t {
    return libvhdi_file_read_buffer_at_offset(handle, buffer, length, static_cast<off64_t>(offset),
                                              nullptr);
  };
  return WrappedDisk{
      ContainerKind::kVhdx, std::make_shared<LibraryBlockDevice>(size, read, std::move(owned)), {}};
}

std::optional<WrappedDisk> ReadByLibrary(const std::shared_ptr<File>& file, ContainerKind kind,
                                         bool (*may_be)(std::span<const uint8_t>),
                                         std::optional<WrappedDisk> (*open)(const std::string&)) {
  if (!may_be(Head(*file))) return std::nullopt;
  const std::optional<std::string> name = LibraryFileName(*file);
  if (!name) return UnsupportedWrapper(kind);
  return open(*name);
}

}  // namespace

bool MayBeQcow(std::span<const uint8_t> head) {
  if (!BytesEqual(head, 0, kQcowMagic, sizeof kQcowMagic)) return false;
  const uint32_t version = ReadBigU32(head, kQcowVersionOffset);
  return version >= 1 && version <= kQcowLastVersion;
}

bool MayBeVhdx(std::span<const uint8_t> head) {
  return BytesEqual(head, 0, kVhdxMagic, sizeof kVhdxMagic);
}

std::optional<WrappedDisk> ReadQcow(const std::shared_ptr<File>& file) {
  return ReadByLibrary(file, ContainerKind::kQcow, MayBeQcow, OpenQcow);
}

std::optional<WrappedDisk> ReadVhdx(const std::shared_ptr<File>& file) {
  return ReadByLibrary(file, ContainerKind::kVhdx, MayBeVhdx, OpenVhdx);
}

}  // namespace quarn

#include "containers/wrappers/library_readers.h"

#include <libbfio.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

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
constexpr uint8_t kVmdkSparseMagic[] = {'K', 'D', 'M', 'V'};

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

// The handle and the pool that holds its one extent, closed and freed together.
struct VmdkHandle {
  libvmdk_handle_t* handle = nullptr;
  libbfio_pool_t* extents = nullptr;
  ~VmdkHandle() {
    if (handle != nullptr) {
      libvmdk_handle_close(handle, nullptr);
      libvmdk_handle_free(&handle, nullptr);
    }
    if (extents != nullptr) libbfio_pool_free(&extents, nullptr);
  }
};

// A pool holding the file `name` itself, for the extent list of a disk held in one file.
libbfio_pool_t* PoolOfItself(const std::string& name) {
  libbfio_pool_t* pool = nullptr;
  if (libbfio_pool_initialize(&pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) !=
      1) {
    return nullptr;
  }
  libbfio_handle_t* file = nullptr;
  int entry = 0;
  if (libbfio_file_initialize(&file, nullptr) != 1) {
    libbfio_pool_free(&pool, nullptr);
    return nullptr;
  }
  if (libbfio_file_set_name(file, name.c_str(), name.size(), nullptr) != 1 ||
      libbfio_pool_append_handle(pool, &entry, file, LIBBFIO_OPEN_READ, nullptr) != 1) {
    libbfio_handle_free(&file, nullptr);
    libbfio_pool_free(&pool, nullptr);
    return nullptr;
  }
  return pool;
}

// A monolithic sparse or stream-optimized VMDK: one file, its descriptor embedded. Its extent
// is the file itself, handed to the library whatever name the descriptor gives it, so the
// library never opens a file by a name the image holds; any other layout, and a parent, are
// `unsupported`.
std::optional<WrappedDisk> OpenVmdk(const std::string& name) {
  auto opened = std::make_shared<VmdkHandle>();
  if (libvmdk_handle_initialize(&opened->handle, nullptr) != 1) return std::nullopt;
  if (libvmdk_handle_open(opened->handle, name.c_str(), LIBVMDK_OPEN_READ, nullptr) != 1) {
    libvmdk_handle_free(&opened->handle, nullptr);
    return std::nullopt;
  }
  libvmdk_handle_t* handle = opened->handle;
  int type = 0;
  int extents = 0;
  size_t parent = 0;
  if (libvmdk_handle_get_disk_type(handle, &type, nullptr) != 1 ||
      libvmdk_handle_get_number_of_extents(handle, &extents, nullptr) != 1) {
    return std::nullopt;
  }
  if ((type != LIBVMDK_DISK_TYPE_MONOLITHIC_SPARSE && type != LIBVMDK_DISK_TYPE_STREAM_OPTIMIZED) ||
      extents != 1 ||
      (libvmdk_handle_get_utf8_parent_filename_size(handle, &parent, nullptr) == 1 && parent > 0)) {
    return UnsupportedWrapper(ContainerKind::kVmdk);
  }
  opened->extents = PoolOfItself(name);
  size64_t size = 0;
  if (opened->extents == nullptr ||
      libvmdk_handle_open_extent_data_files_file_io_pool(handle, opened->extents, nullptr) != 1 ||
      libvmdk_handle_get_media_size(handle, &size, nullptr) != 1) {
    return std::nullopt;
  }
  auto read = [handle](void* buffer, size_t length, uint64_t offset) -> int64_t {
    return libvmdk_handle_read_buffer_at_offset(handle, buffer, length,
                                                static_cast<off64_t>(offset), nullptr);
  };
  return WrappedDisk{ContainerKind::kVmdk,
                     std::make_shared<LibraryBlockDevice>(size, read, std::move(opened)),
                     {}};
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

bool MayBeVmdk(std::span<const uint8_t> head) {
  return BytesEqual(head, 0, kVmdkSparseMagic, sizeof kVmdkSparseMagic);
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

std::optional<WrappedDisk> ReadVmdk(const std::shared_ptr<File>& file) {
  return ReadByLibrary(file, ContainerKind::kVmdk, MayBeVmdk, OpenVmdk);
}

}  // namespace quarn

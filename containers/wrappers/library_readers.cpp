#include "containers/wrappers/library_readers.h"

#include <libbfio.h>
#include <libqcow.h>
#include <libvhdi.h>
#include <libvmdk.h>

#include <algorithm>
#include <cstring>

#include "containers/wrappers/library_block_device.h"
#include "containers/wrappers/qcow_clusters.h"
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
constexpr char kVmdkDescriptorStart[] = "# Disk DescriptorFile";

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

// The handle, the pool of its extents and the files they are read from, whose /proc/self/fd
// names the pool opens again: closed and freed together.
struct VmdkHandle {
  libvmdk_handle_t* handle = nullptr;
  libbfio_pool_t* extents = nullptr;
  std::vector<std::shared_ptr<File>> files;
  ~VmdkHandle() {
    if (handle != nullptr) {
      libvmdk_handle_close(handle, nullptr);
      libvmdk_handle_free(&handle, nullptr);
    }
    if (extents != nullptr) libbfio_pool_free(&extents, nullptr);
  }
};

// A descriptor naming more extents than this is not followed: each is a file held open. A
// set of 2 GiB extents this long holds a disk far larger than any of the era's.
constexpr int kMostVmdkExtents = 64;
// The pool keeps at most this many of them open at once, opening the others again by name.
constexpr int kMostOpenExtents = 8;

// Adds the file `name` (a /proc/self/fd name) to `pool`, read only.
bool AppendFile(libbfio_pool_t* pool, const std::string& name) {
  libbfio_handle_t* file = nullptr;
  int entry = 0;
  if (libbfio_file_initialize(&file, nullptr) != 1) return false;
  if (libbfio_file_set_name(file, name.c_str(), name.size(), nullptr) != 1 ||
      libbfio_pool_append_handle(pool, &entry, file, LIBBFIO_OPEN_READ, nullptr) != 1) {
    libbfio_handle_free(&file, nullptr);
    return false;
  }
  return true;
}

// The extent file named by extent `index`'s descriptor, opened as a sibling: its
// /proc/self/fd name, or nothing when it may not be opened.
std::optional<std::string> OpenExtent(VmdkHandle& opened, int index,
                                      const SiblingOpener& siblings) {
  libvmdk_extent_descriptor_t* extent = nullptr;
  if (libvmdk_handle_get_extent_descriptor(opened.handle, index, &extent, nullptr) != 1) {
    return std::nullopt;
  }
  int type = 0;
  size_t size = 0;
  std::string name;
  if (libvmdk_extent_descriptor_get_type(extent, &type, nullptr) == 1 &&
      (type == LIBVMDK_EXTENT_TYPE_FLAT || type == LIBVMDK_EXTENT_TYPE_SPARSE) &&
      libvmdk_extent_descriptor_get_utf8_filename_size(extent, &size, nullptr) == 1 && size > 1 &&
      size <= 4096) {
    name.resize(size);
    if (libvmdk_extent_descriptor_get_utf8_filename(extent, reinterpret_cast<uint8_t*>(name.data()),
                                                    size, nullptr) != 1) {
      name.clear();
    }
    name.resize(std::min(name.size(), size - 1));
  }
  libvmdk_extent_descriptor_free(&extent, nullptr);
  if (name.find('\0') != std::string::npos) return std::nullopt;
  std::shared_ptr<File> sibling = siblings(name);
  if (!sibling) return std::nullopt;
  std::optional<std::string> library_name = LibraryFileName(*sibling);
  if (library_name) opened.files.push_back(std::move(sibling));
  return library_name;
}

// A VMDK: one file holding its descriptor and its one sparse extent (monolithic sparse,
// stream-optimized), whose extent is the file itself, handed to the library whatever name the
// descriptor gives it; or a descriptor whose flat or sparse extents are each opened through
// `siblings`. The library never opens a file by a name the image holds: an extent that may
// not be opened, any other extent type, and a parent are `unsupported`.
std::optional<WrappedDisk> OpenVmdk(const std::shared_ptr<File>& file, const std::string& name,
                                    const SiblingOpener& siblings) {
  auto opened = std::make_shared<VmdkHandle>();
  opened->files.push_back(file);
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
  const bool one_file =
      type == LIBVMDK_DISK_TYPE_MONOLITHIC_SPARSE || type == LIBVMDK_DISK_TYPE_STREAM_OPTIMIZED;
  if ((one_file && extents != 1) || (!one_file && !siblings) || extents < 1 ||
      extents > kMostVmdkExtents ||
      (libvmdk_handle_get_utf8_parent_filename_size(handle, &parent, nullptr) == 1 && parent > 0)) {
    return UnsupportedWrapper(ContainerKind::kVmdk);
  }
  if (libbfio_pool_initialize(&opened->extents, 0, kMostOpenExtents, nullptr) != 1) {
    return std::nullopt;
  }
  for (int index = 0; index < extents; ++index) {
    const std::optional<std::string> extent =
        one_file ? std::optional<std::string>(name) : OpenExtent(*opened, index, siblings);
    if (!extent) return UnsupportedWrapper(ContainerKind::kVmdk);
    if (!AppendFile(opened->extents, *extent)) return std::nullopt;
  }
  size64_t size = 0;
  if (libvmdk_handle_open_extent_data_files_file_io_pool(handle, opened->extents, nullptr) != 1 ||
      libvmdk_handle_get_media_size(handle, &size, nullptr) != 1) {
    return std::nullopt;
  }
  auto read = [handle](void* buffer, size_t length, uint64_t offset) -> int64_t {
    return libvmdk_handle_read_buffer_at_offset(handle, buffer, length,
                                                static_cast<off64_t>(offset), nullptr);
  };
  return WrappedDisk{ContainerKind::kVmdk,
                     std::make_shared<LibraryBlockDevice>(size, read, std::move(opened)),
                     {},
                     type == LIBVMDK_DISK_TYPE_STREAM_OPTIMIZED};
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
  return BytesEqual(head, 0, kVmdkSparseMagic, sizeof kVmdkSparseMagic) ||
         BytesEqual(head, 0, reinterpret_cast<const uint8_t*>(kVmdkDescriptorStart),
                    sizeof kVmdkDescriptorStart - 1);
}

bool MayBeVhdx(std::span<const uint8_t> head) {
  return BytesEqual(head, 0, kVhdxMagic, sizeof kVhdxMagic);
}

std::optional<WrappedDisk> ReadQcow(const std::shared_ptr<File>& file) {
  std::optional<WrappedDisk> wrapped =
      ReadByLibrary(file, ContainerKind::kQcow, MayBeQcow, OpenQcow);
  if (wrapped && wrapped->disk) wrapped->unpacks = MayHoldCompressedClusters(*file);
  return wrapped;
}

std::optional<WrappedDisk> ReadVhdx(const std::shared_ptr<File>& file) {
  return ReadByLibrary(file, ContainerKind::kVhdx, MayBeVhdx, OpenVhdx);
}

std::optional<WrappedDisk> ReadVmdk(const std::shared_ptr<File>& file,
                                    const SiblingOpener& siblings) {
  if (!MayBeVmdk(Head(*file))) return std::nullopt;
  const std::optional<std::string> name = LibraryFileName(*file);
  if (!name) return UnsupportedWrapper(ContainerKind::kVmdk);
  return OpenVmdk(file, *name, siblings);
}

}  // namespace quarn

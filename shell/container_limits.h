#pragma once

#include <cstdint>
#include <string_view>

#include "containers/container.h"
#include "platform/registry_document.h"

namespace quarn {

inline constexpr std::string_view kContainersKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Containers";

// Which kinds of container a scan opens: the "Kinds" value and --containers.
enum ContainerKinds : uint32_t {
  kNoContainers = 0,
  kImageContainers = 1,
  kArchiveContainers = 2,
  kAllContainers = 3,
};

inline constexpr uint64_t kMebibyte = uint64_t{1} << 20;

// How far a scan goes into containers, so that a hostile one ends in a reported skip, never
// a hang. Sizes in bytes, the time in seconds.
struct ContainerLimits {
  uint32_t max_depth = 10;
  uint32_t max_entries = 100000;
  uint64_t max_file_size = 100 * kMebibyte;
  uint64_t max_scan_size = 1024 * kMebibyte;
  uint32_t max_ratio = 1000;
  uint32_t max_time = 120;
  uint32_t kinds = kAllContainers;
  bool operator==(const ContainerLimits&) const = default;
};

// The limits of the settings' "Containers" key: each value a 4-byte number ("MaxScanSize" in
// MiB, the others as above); one that is absent or unreadable, or a "Kinds" above 3, keeps
// its default.
ContainerLimits ReadContainerLimits(const RegistryDocument& settings);

// Whether `kinds` lets a container of `kind` be opened: FAT volumes and partitioned images
// are images.
bool OpensKind(uint32_t kinds, ContainerKind kind);

}  // namespace quarn

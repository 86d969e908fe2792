#include "shell/container_limits.h"

namespace quarn {

ContainerLimits ReadContainerLimits(const RegistryDocument& settings) {
  ContainerLimits limits;
  const auto read = [&](std::string_view name) {
    return settings.ReadNumber(kContainersKey, name);
  };
  limits.max_depth = read("MaxDepth").value_or(limits.max_depth);
  limits.max_entries = read("MaxEntries").value_or(limits.max_entries);
  limits.max_file_size = read("MaxFileSize").value_or(limits.max_file_size);
  if (auto mebibytes = read("MaxScanSize")) limits.max_scan_size = *mebibytes * kMebibyte;
  limits.max_ratio = read("MaxRatio").value_or(limits.max_ratio);
  limits.max_time = read("MaxTime").value_or(limits.max_time);
  if (auto kinds = read("Kinds"); kinds && *kinds <= kAllContainers) limits.kinds = *kinds;
  return limits;
}

bool OpensKind(uint32_t kinds, ContainerKind kind) {
  return (kinds & (IsImageKind(kind) ? kImageContainers : kArchiveContainers)) != 0;
}

}  // namespace quarn

#include "containers/test_support/memory_container.h"

namespace quarn::testing {

void MarkedContainerOpener::Add(std::string mark, Builder builder) {
  containers_.emplace_back(std::move(mark), std::move(builder));
}

std::optional<OpenedContainer> MarkedContainerOpener::Open(std::shared_ptr<File> file) {
  std::string start(64, '\0');
  start.resize(file->Read(start.data(), static_cast<uint32_t>(start.size())));
  for (const auto& [mark, builder] : containers_) {
    if (start.starts_with(mark)) {
      ++opened_;
      return builder();
    }
  }
  return std::nullopt;
}

ContainerVolume MemoryContainerVolume(ContainerKind kind, std::string letter,
                                      std::shared_ptr<MemoryFileSystem> files,
                                      uint32_t partition_number, std::vector<uint8_t> boot_sector) {
  ContainerVolume volume;
  volume.kind = kind;
  volume.letter = std::move(letter);
  volume.partition_number = partition_number;
  volume.boot_sector = std::move(boot_sector);
  volume.files = std::make_unique<MemoryVolume>(std::move(files));
  return volume;
}

}  // namespace quarn::testing

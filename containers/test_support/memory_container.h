#pragma once

// For tests: disk images without a disk image. A volume is a MemoryFileSystem, and the
// opener recognises the files that start with a mark the test chose.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "containers/container.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::testing {

// A MemoryFileSystem as a container's volume; the damage a test queued comes out of the
// first TakeDamage after it was queued.
class MemoryVolume : public ContainerFileSystem {
 public:
  explicit MemoryVolume(std::shared_ptr<MemoryFileSystem> files) : files_(std::move(files)) {}

  Result<std::unique_ptr<Folder>> OpenFolder(const std::string& path) override {
    return files_->OpenFolder(path.empty() ? "/" : path);
  }
  Status CreateFolders(const std::string& path) override { return files_->CreateFolders(path); }
  Result<std::string> ReadLink(const std::string& path) override { return files_->ReadLink(path); }
  std::vector<ContainerDamage> TakeDamage() override { return std::move(damage_); }
  void StartOver() override {}

  void QueueDamage(ContainerDamage damage) { damage_.push_back(std::move(damage)); }

 private:
  std::shared_ptr<MemoryFileSystem> files_;
  std::vector<ContainerDamage> damage_;
};

// Opens a file whose bytes begin with a registered mark as the container its builder makes,
// a new one at each open; every other file is no container.
class MarkedContainerOpener : public ContainerOpener {
 public:
  using Builder = std::function<OpenedContainer()>;

  void Add(std::string mark, Builder builder);
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;

  int opened() const { return opened_; }

 private:
  std::vector<std::pair<std::string, Builder>> containers_;
  int opened_ = 0;
};

// A volume of `kind` whose files are `files`, with a boot sector of its own.
ContainerVolume MemoryContainerVolume(ContainerKind kind, std::string letter,
                                      std::shared_ptr<MemoryFileSystem> files,
                                      uint32_t partition_number = 0,
                                      std::vector<uint8_t> boot_sector = std::vector<uint8_t>(512));

}  // namespace quarn::testing

#pragma once

// The walk the disk image fuzz targets share: every folder of a volume lists, every listed
// entry opens and refuses to be written, and every file reads to its end without a read past
// what the file says it holds.
#include <cstdint>
#include <memory>
#include <vector>

#include "containers/container.h"
#include "fuzz/fuzz_input_file.h"

namespace quarn::fuzz {

// What one input may cost to read, all volumes together: the walk of a real scan has its
// own limits, this keeps each fuzz run short.
constexpr uint64_t kMaxBytesRead = uint64_t{64} << 20;
constexpr size_t kMaxEntries = 200000;

inline void WalkVolume(ContainerFileSystem& files, uint64_t& budget) {
  auto root = files.OpenFolder("/");
  Check(root.ok());
  std::vector<std::unique_ptr<Folder>> pending;
  pending.push_back(std::move(*root));
  size_t entries = 0;
  std::vector<uint8_t> buffer(4096);
  while (!pending.empty() && entries < kMaxEntries) {
    std::unique_ptr<Folder> folder = std::move(pending.back());
    pending.pop_back();
    auto listed = folder->List();
    Check(listed.ok());
    for (const FolderEntry& entry : *listed) {
      if (++entries > kMaxEntries) break;
      if (entry.kind == EntryKind::kFolder) {
        auto inner = folder->OpenFolder(entry.name);
        Check(inner.ok());
        pending.push_back(std::move(*inner));
        continue;
      }
      auto file = folder->OpenListedFile(entry.name);
      Check(file.ok());
      Check(!folder->OpenFile(entry.name, OpenMode::kReadWrite).ok());
      const uint64_t size = (*file)->Size().value_or(0);
      uint64_t read = 0;
      while (budget > 0) {
        const uint32_t got = (*file)->Read(buffer.data(), static_cast<uint32_t>(buffer.size()));
        if (got == 0) break;
        read += got;
        budget -= std::min<uint64_t>(budget, got);
      }
      Check(read <= size);
    }
    for (const ContainerDamage& damage : files.TakeDamage()) {
      Check(damage.reason == IncompleteReason::kDamaged);
    }
  }
}

}  // namespace quarn::fuzz

#pragma once

// The walk the disk image fuzz targets share: every folder of a volume lists, every listed
// entry opens and refuses to be written, and every file reads to its end without a read past
// what the file says it holds.
#include <cstdint>
#include <memory>
#include <vector>

#include "containers/container.h"
#include "containers/test_support/fat_image_writer.h"
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

// A wrapper the opener took: its own damage is damage or unsupported, nothing under it is
// changeable, and every volume it holds is walked.
inline void WalkWrapper(OpenedContainer& opened, uint64_t& budget) {
  Check(opened.wrapper.has_value() && !opened.BootRecordOnly() && !opened.Changeable());
  for (const ContainerDamage& damage : opened.wrapper->damage) {
    Check(damage.inner_path.empty() && (damage.reason == IncompleteReason::kDamaged ||
                                        damage.reason == IncompleteReason::kUnsupported));
  }
  for (ContainerVolume& volume : opened.volumes) {
    Check(volume.files != nullptr);
    WalkVolume(*volume.files, budget);
  }
}

// The small FAT volume the wrapper targets' seeds wrap: a folder, a program of a few clusters
// and a one-byte file.
inline std::vector<uint8_t> SeedVolume() {
  testing::FatLayout small;
  small.total_sectors = 128;
  small.root_entries = 16;
  small.sectors_per_fat = 1;
  small.media = 0xF8;
  return testing::FatImageWriter(small)
      .AddFile("DOS/KEYB.COM", std::vector<uint8_t>(9000, 0xC3))
      .AddFile("README.TXT", {'r'})
      .Build();
}

}  // namespace quarn::fuzz

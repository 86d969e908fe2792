// Any bytes as a disk image: the opener recognises it or not, and every folder of every
// volume lists, every listed entry opens, and every file reads to its end, without a fault,
// a hang or a read past what the file says it holds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "containers/disks/disk_image_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "containers/test_support/fat_image_writer.h"

namespace {

// What one input may cost to read, all volumes together: the walk of a real scan has its
// own limits, this keeps each fuzz run short.
constexpr uint64_t kMaxBytesRead = uint64_t{64} << 20;
constexpr size_t kMaxEntries = 200000;

void WalkVolume(quarn::ContainerFileSystem& files, uint64_t& budget) {
  auto root = files.OpenFolder("/");
  Check(root.ok());
  std::vector<std::unique_ptr<quarn::Folder>> pending;
  pending.push_back(std::move(*root));
  size_t entries = 0;
  std::vector<uint8_t> buffer(4096);
  while (!pending.empty() && entries < kMaxEntries) {
    std::unique_ptr<quarn::Folder> folder = std::move(pending.back());
    pending.pop_back();
    auto listed = folder->List();
    Check(listed.ok());
    for (const quarn::FolderEntry& entry : *listed) {
      if (++entries > kMaxEntries) break;
      if (entry.kind == quarn::EntryKind::kFolder) {
        auto inner = folder->OpenFolder(entry.name);
        Check(inner.ok());
        pending.push_back(std::move(*inner));
        continue;
      }
      auto file = folder->OpenListedFile(entry.name);
      Check(file.ok());
      Check(!folder->OpenFile(entry.name, quarn::OpenMode::kReadWrite).ok());
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
    for (const quarn::ContainerDamage& damage : files.TakeDamage()) {
      Check(damage.reason == quarn::IncompleteReason::kDamaged);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::DiskImageOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return 0;
  const bool partitioned = opened->kind == quarn::ContainerKind::kMbr;
  Check(partitioned || opened->volumes.size() <= 1);
  // The first sector is judged on its own exactly when no volume of its own stands for it.
  Check(opened->boot_record.size() == (partitioned || opened->BootRecordOnly() ? 512u : 0u));
  uint64_t budget = kMaxBytesRead;
  for (quarn::ContainerVolume& volume : opened->volumes) {
    Check(volume.files != nullptr);
    WalkVolume(*volume.files, budget);
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using quarn::testing::FatImageWriter;
  auto bytes = [](size_t size, uint8_t fill) { return std::vector<uint8_t>(size, fill); };
  // A small FAT12 volume: a few clusters of files, folders and a long name.
  quarn::testing::FatLayout small;
  small.total_sectors = 128;
  small.root_entries = 32;
  small.sectors_per_fat = 1;
  small.media = 0xF8;
  auto fill = [&](FatImageWriter& writer) -> FatImageWriter& {
    return writer.AddFile("COMMAND.COM", bytes(1500, 0xC3))
        .AddFolder("DOS/UTIL")
        .AddFile("DOS/A long name here.txt", bytes(700, 'a'))
        .AddFile("DOS/UTIL/EMPTY.TXT", {})
        .Label("QUARN");
  };
  FatImageWriter plain(small);
  const std::vector<uint8_t> volume = fill(plain).Build();
  FatImageWriter scattered(small);
  const std::vector<uint8_t> fragmented = fill(scattered).Fragment().Build();
  quarn::testing::FatLayout dos1 = quarn::testing::FloppyLayout(160);
  dos1.parameter_block = false;
  FatImageWriter old_floppy(dos1);
  const std::vector<uint8_t> floppy = old_floppy.AddFile("README", bytes(600, 'r')).Build();
  const std::vector<uint8_t> partitioned = quarn::testing::PartitionedImageBuilder()
                                               .Primary(0x01, volume)
                                               .Primary(0x83, bytes(2048, 0))
                                               .Logical(0x01, fragmented)
                                               .Logical(0x11, volume)
                                               .Build();
  // A whole 1.44 MB floppy, so that mutations start from the largest input the target takes
  // as well: libFuzzer's length limit grows only slowly from the seeds it was given.
  FatImageWriter full_writer(quarn::testing::FloppyLayout(1440));
  const std::vector<uint8_t> full = fill(full_writer).Build();
  // A master boot record whose table is empty: an image by its first sector alone.
  const std::vector<uint8_t> empty_table = [&] {
    std::vector<uint8_t> sectors = bytes(4096, 0);
    sectors[510] = 0x55;
    sectors[511] = 0xAA;
    return sectors;
  }();
  std::vector<std::string> seeds;
  for (const auto* image : {&volume, &fragmented, &floppy, &partitioned, &full, &empty_table}) {
    seeds.emplace_back(image->begin(), image->end());
  }
  return seeds;
}

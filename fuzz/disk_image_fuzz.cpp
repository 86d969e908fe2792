// Any bytes as a raw disk image: the opener recognises it or not, and every folder of every
// volume lists, every listed entry opens, and every file reads to its end, without a fault, a
// hang or a read past what the file says it holds. Wrappers have a target of their own.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "containers/disks/disk_image_opener.h"
#include "containers/test_support/fat_image_writer.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "fuzz/volume_walk.h"

namespace {

void OpenRaw(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::DiskImageOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return;
  const bool partitioned = opened->kind == quarn::ContainerKind::kMbr;
  Check(partitioned || opened->volumes.size() <= 1);
  // The first sector is judged on its own exactly when no volume of its own stands for it.
  Check(opened->boot_record.size() == (partitioned || opened->BootRecordOnly() ? 512u : 0u));
  uint64_t budget = quarn::fuzz::kMaxBytesRead;
  for (quarn::ContainerVolume& volume : opened->volumes) {
    Check(volume.files != nullptr);
    quarn::fuzz::WalkVolume(*volume.files, budget);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OpenRaw(data, size);
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

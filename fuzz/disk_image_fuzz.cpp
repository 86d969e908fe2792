// Any bytes as a disk image, raw or in a wrapper (VDI, VHD, raw CD): each opener recognises
// it or not, and every folder of every volume lists, every listed entry opens, and every file
// reads to its end, without a fault, a hang or a read past what the file says it holds.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "containers/disks/disk_image_opener.h"
#include "containers/test_support/fat_image_writer.h"
#include "containers/wrappers/wrapper_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"

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

void OpenRaw(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::DiskImageOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return;
  const bool partitioned = opened->kind == quarn::ContainerKind::kMbr;
  Check(partitioned || opened->volumes.size() <= 1);
  // The first sector is judged on its own exactly when no volume of its own stands for it.
  Check(opened->boot_record.size() == (partitioned || opened->BootRecordOnly() ? 512u : 0u));
  uint64_t budget = kMaxBytesRead;
  for (quarn::ContainerVolume& volume : opened->volumes) {
    Check(volume.files != nullptr);
    WalkVolume(*volume.files, budget);
  }
}

// A wrapper's own damage is damage or a parent it will not open; what lies inside is walked
// as a raw image's volumes are.
void OpenWrapper(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::WrapperOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return;
  Check(opened->wrapper.has_value() && !opened->BootRecordOnly() && !opened->Changeable());
  for (const quarn::ContainerDamage& damage : opened->wrapper->damage) {
    Check(damage.inner_path.empty() && (damage.reason == quarn::IncompleteReason::kDamaged ||
                                        damage.reason == quarn::IncompleteReason::kUnsupported));
  }
  uint64_t budget = kMaxBytesRead;
  for (quarn::ContainerVolume& volume : opened->volumes) {
    Check(volume.files != nullptr);
    WalkVolume(*volume.files, budget);
  }
}

void PutBig(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int length) {
  for (int i = 0; i < length; ++i) {
    bytes[offset + i] = static_cast<uint8_t>(value >> (8 * (length - 1 - i)));
  }
}

void PutLittle(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int length) {
  for (int i = 0; i < length; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A VHD footer or dynamic header with its check sum: the ones' complement of its bytes' sum.
void SumVhd(std::vector<uint8_t>& bytes, size_t start, size_t length, size_t checksum) {
  uint32_t sum = 0;
  for (size_t i = start; i < start + length; ++i) sum += bytes[i];
  PutBig(bytes, checksum, ~sum, 4);
}

std::vector<uint8_t> VhdFooter(uint64_t disk_size, uint32_t type, uint64_t data_offset) {
  std::vector<uint8_t> footer(512, 0);
  std::copy_n("conectix", 8, footer.begin());
  PutBig(footer, 12, 0x00010000, 4);
  PutBig(footer, 16, data_offset, 8);
  PutBig(footer, 48, disk_size, 8);
  PutBig(footer, 60, type, 4);
  SumVhd(footer, 0, 512, 64);
  return footer;
}

// The volume as a fixed VHD, a dynamic VHD and a VDI, in blocks of 4 KiB with the second
// block never written; and a raw CD.
std::vector<std::vector<uint8_t>> Wrapped(std::vector<uint8_t> volume) {
  constexpr size_t kBlock = 4096;
  volume.resize((volume.size() + kBlock - 1) / kBlock * kBlock);
  const size_t blocks = volume.size() / kBlock;
  std::vector<uint8_t> fixed = volume;
  const std::vector<uint8_t> fixed_footer = VhdFooter(volume.size(), 2, ~uint64_t{0});
  fixed.insert(fixed.end(), fixed_footer.begin(), fixed_footer.end());

  const std::vector<uint8_t> footer = VhdFooter(volume.size(), 3, 512);
  std::vector<uint8_t> dynamic = footer;
  dynamic.resize(512 + 1024 + (blocks * 4 + 511) / 512 * 512, 0xFF);
  std::fill_n(dynamic.begin() + 512, 1024, 0);
  std::copy_n("cxsparse", 8, dynamic.begin() + 512);
  PutBig(dynamic, 512 + 8, ~uint64_t{0}, 8);
  PutBig(dynamic, 512 + 16, 1536, 8);
  PutBig(dynamic, 512 + 24, 0x00010000, 4);
  PutBig(dynamic, 512 + 28, blocks, 4);
  PutBig(dynamic, 512 + 32, kBlock, 4);
  SumVhd(dynamic, 512, 1024, 512 + 36);
  std::vector<uint8_t> vdi(512 + (blocks * 4 + 511) / 512 * 512, 0);
  PutLittle(vdi, 0x40, 0xBEDA107F, 4);
  PutLittle(vdi, 0x44, 0x00010001, 4);
  PutLittle(vdi, 0x48, 0x180, 4);
  PutLittle(vdi, 0x4C, 1, 4);
  PutLittle(vdi, 0x154, 512, 4);
  PutLittle(vdi, 0x158, vdi.size(), 4);
  PutLittle(vdi, 0x170, volume.size(), 8);
  PutLittle(vdi, 0x178, kBlock, 4);
  PutLittle(vdi, 0x180, blocks, 4);
  uint32_t stored = 0;
  for (size_t block = 0; block < blocks; ++block) {
    const auto data = volume.begin() + static_cast<ptrdiff_t>(block * kBlock);
    if (block == 1) {
      PutLittle(vdi, 512 + 4 * block, 0xFFFFFFFF, 4);
      continue;
    }
    PutBig(dynamic, 1536 + 4 * block, dynamic.size() / 512, 4);
    dynamic.insert(dynamic.end(), 512, 0xFF);
    dynamic.insert(dynamic.end(), data, data + kBlock);
    PutLittle(vdi, 512 + 4 * block, stored++, 4);
    vdi.insert(vdi.end(), data, data + kBlock);
  }
  dynamic.insert(dynamic.end(), footer.begin(), footer.end());
  // A raw CD of mode 1 sectors whose user data holds a volume descriptor and its set's end.
  std::vector<uint8_t> cd(18 * 2352, 0);
  for (size_t sector = 0; sector < 18; ++sector) {
    std::fill_n(cd.begin() + static_cast<ptrdiff_t>(sector * 2352 + 1), 10, 0xFF);
    cd[sector * 2352 + 15] = 1;
  }
  for (const auto& [sector, type] : {std::pair{16, 1}, std::pair{17, 255}}) {
    const auto data = cd.begin() + sector * 2352 + 16;
    data[0] = static_cast<uint8_t>(type);
    std::copy_n("CD001", 5, data + 1);
    data[6] = 1;
  }
  return {fixed, dynamic, vdi, cd};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OpenRaw(data, size);
  OpenWrapper(data, size);
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
  for (const std::vector<uint8_t>& wrapped : Wrapped(volume)) {
    seeds.emplace_back(wrapped.begin(), wrapped.end());
  }
  return seeds;
}

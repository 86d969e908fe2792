// Any bytes as a preservation floppy image (ImageDisk, TeleDisk plain or packed, CopyQM): the
// reader takes it or not, never hands libdsk records that break off or lie, never unpacks past
// a floppy's size, and the disk it gives reads to its end without a read past what it holds.
// The FAT volume on that disk is disk_image_fuzz's to walk.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/floppy_image_writer.h"
#include "containers/wrappers/floppy_formats.h"
#include "containers/wrappers/floppy_reader.h"
#include "containers/wrappers/teledisk_lzhuf.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"

namespace {

constexpr size_t kUnpackLimit = size_t{1} << 20;
// The packed stream alone: its first bytes, as each bit costs a step of the tree.
constexpr size_t kMostPackedBytes = 4096;

void ReadDisk(quarn::BlockDevice& disk) {
  Check(disk.Size() <= quarn::kMostFloppyBytes && !disk.Writable());
  std::vector<uint8_t> buffer(65536);
  for (uint64_t at = 0; at < disk.Size(); at += buffer.size()) {
    const size_t got = disk.ReadAt(at, buffer.data(), buffer.size());
    Check(got <= buffer.size() && at + got <= disk.Size());
  }
  Check(disk.ReadAt(disk.Size(), buffer.data(), buffer.size()) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::optional<std::vector<uint8_t>> unpacked =
      quarn::UnpackTeleDisk(bytes.first(std::min(size, kMostPackedBytes)), kUnpackLimit);
  Check(!unpacked || unpacked->size() <= kUnpackLimit);
  std::optional<quarn::WrappedDisk> wrapped = quarn::ReadFloppy(quarn::fuzz::InputFile(data, size));
  if (!wrapped) return 0;
  Check(wrapped->kind == quarn::ContainerKind::kImd ||
        wrapped->kind == quarn::ContainerKind::kTd0 || wrapped->kind == quarn::ContainerKind::kCqm);
  Check(wrapped->unpacked <= quarn::kMostFloppyBytes);
  // No disk is never silence: the wrapper says why.
  Check(wrapped->disk != nullptr || !wrapped->damage.empty());
  if (wrapped->disk) ReadDisk(*wrapped->disk);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using quarn::testing::FatImageWriter;
  FatImageWriter writer(quarn::testing::FloppyLayout(160));
  const std::vector<uint8_t> raw = writer.AddFolder("DOS")
                                       .AddFile("COMMAND.COM", std::vector<uint8_t>(1500, 0xC3))
                                       .AddFile("DOS/README.TXT", std::vector<uint8_t>(700, 'r'))
                                       .Build();
  const quarn::testing::FloppyShape shape{40, 1, 8};
  const std::vector<uint8_t> td0 = quarn::testing::Td0Image(raw, shape);
  std::vector<std::string> seeds;
  for (const std::vector<uint8_t>& image :
       {quarn::testing::ImdImage(raw, shape), td0, quarn::testing::PackTeleDisk(td0),
        quarn::testing::CqmImage(raw, shape)}) {
    seeds.emplace_back(image.begin(), image.end());
  }
  return seeds;
}

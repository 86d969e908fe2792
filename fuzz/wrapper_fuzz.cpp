// Any bytes as a disk image wrapper of the program's own readers (VDI, VHD, a raw CD, a cue
// sheet whose named file is a raw CD): the opener recognises it or not, the wrapper's own damage
// is damage or unsupported, nothing under it is changeable, and what it holds is walked or read
// to its end without a fault, a hang or a read past what a file says it holds.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "containers/wrappers/wrapper_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "fuzz/volume_walk.h"

namespace {

// A raw CD of mode 1 sectors whose user data holds a volume descriptor and its set's end.
std::vector<uint8_t> RawCd() {
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
  return cd;
}

// The file every name a cue sheet gives opens: a raw CD, which the sheet's mode and index
// may read wrong.
std::shared_ptr<quarn::File> SiblingCd(const std::string& name) {
  (void)name;
  static const std::vector<uint8_t> cd = RawCd();
  return quarn::fuzz::InputFile(cd.data(), cd.size());
}

// A wrapper's own damage is damage or a parent or sibling it will not open; what lies inside
// is walked as a raw image's volumes are, or read as an archive's entries.
void OpenWrapper(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened = quarn::WrapperOpener().OpenWithSiblings(
      quarn::fuzz::InputFile(data, size), quarn::SiblingOpener{SiblingCd, "CD.CUE"});
  if (!opened) return;
  uint64_t budget = quarn::fuzz::kMaxBytesRead;
  quarn::fuzz::WalkWrapper(*opened, budget);
  if (!opened->archive) return;
  std::vector<uint8_t> buffer(4096);
  size_t entries = 0;
  while (opened->archive->NextEntry() && ++entries < quarn::fuzz::kMaxEntries && budget > 0) {
    while (budget > 0) {
      const quarn::EntryRead read = opened->archive->ReadData(buffer.data(), buffer.size());
      if (read.bytes == 0) break;
      budget -= std::min<uint64_t>(budget, read.bytes);
    }
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
// block never written.
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
  return {fixed, dynamic, vdi};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  OpenWrapper(data, size);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  const std::vector<uint8_t> volume = quarn::fuzz::SeedVolume();
  std::vector<std::string> seeds;
  for (const std::vector<uint8_t>& wrapped : Wrapped(volume)) {
    seeds.emplace_back(wrapped.begin(), wrapped.end());
  }
  const std::vector<uint8_t> cd = RawCd();
  seeds.emplace_back(cd.begin(), cd.end());
  seeds.emplace_back("FILE \"CD.BIN\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n");
  seeds.emplace_back(
      "\xEF\xBB\xBFREM GENRE Shareware\r\nCATALOG 0000000000000\r\nFILE cd.bin BINARY\r\n"
      "TRACK 01 MODE2/2352\r\nFLAGS DCP\r\nPREGAP 00:02:00\r\nINDEX 00 00:00:00\r\n"
      "INDEX 01 00:00:10\r\nTRACK 02 AUDIO\r\nINDEX 01 00:00:17\r\n");
  return seeds;
}

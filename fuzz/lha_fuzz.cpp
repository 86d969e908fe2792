// Any bytes as an LHA archive: the opener recognises them or not, and every entry lists and
// every readable entry's data reads to its end through liblhasa's decoders, without a fault,
// a hang or more data than its header claims.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "containers/archives/lha_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "containers/test_support/lzh_writer.h"
#include "platform/test_support/pattern_bytes.h"

namespace {

// What one input may cost to read: the scan has its own limits, this keeps each run short.
constexpr uint64_t kMaxBytesRead = uint64_t{16} << 20;
constexpr size_t kMaxEntries = 100000;

// Reads the current entry's data to its end, its failure or the budget.
void ReadEntry(quarn::ArchiveReader& archive, const quarn::ArchiveEntry& entry, uint64_t size,
               uint64_t& budget) {
  std::vector<uint8_t> buffer(8192);
  uint64_t read = 0;
  while (budget > 0) {
    const uint64_t packed_before = archive.PackedBytesRead();
    const quarn::EntryRead got = archive.ReadData(buffer.data(), buffer.size());
    Check(got.bytes <= buffer.size());
    Check(archive.PackedBytesRead() >= packed_before && archive.PackedBytesRead() <= size);
    if (got.failure) {
      Check(got.bytes == 0 && got.failure == quarn::IncompleteReason::kDamaged);
      // A failure stays: the entry gives nothing more.
      Check(archive.ReadData(buffer.data(), buffer.size()).failure == got.failure);
      return;
    }
    if (got.bytes == 0) break;
    read += got.bytes;
    budget -= std::min<uint64_t>(budget, got.bytes);
  }
  Check(!entry.size || read <= *entry.size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::LhaOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return 0;
  Check(opened->kind == quarn::ContainerKind::kLha && opened->archive != nullptr);
  Check(opened->volumes.empty());
  quarn::ArchiveReader& archive = *opened->archive;
  uint64_t budget = kMaxBytesRead;
  size_t entries = 0;
  while (std::optional<quarn::ArchiveEntry> entry = archive.NextEntry()) {
    if (++entries > kMaxEntries) return 0;
    if (!entry->regular || entry->unreadable) {
      Check(!entry->unreadable || entry->unreadable == quarn::IncompleteReason::kUnsupported);
      uint8_t byte;
      Check(archive.ReadData(&byte, 1).bytes == 0);
      continue;
    }
    ReadEntry(archive, *entry, size, budget);
  }
  Check(!archive.NextEntry().has_value());
  Check(archive.PackedBytesRead() <= size);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using quarn::testing::LzhCrc16;
  using quarn::testing::LzhWriter;
  using quarn::testing::PatternBytes;
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', '\r', '\n'};
  std::vector<std::vector<uint8_t>> archives;
  // Stored entries and folders under every header level, the way DOS and Unix wrote them.
  for (int level = 0; level <= 2; ++level) {
    LzhWriter writer;
    writer.Level(level)
        .Os(level == 2 ? LzhWriter::kOsUnix : LzhWriter::kOsMsDos)
        .AddFolder("DOS/UTIL")
        .AddFile("DOS/UTIL/KEYB.COM", PatternBytes(1500, level))
        .AddFile("README.TXT", text)
        .AddFile("EMPTY.DAT", {});
    archives.push_back(writer.Build());
  }
  // One entry of every method the library decodes, its packed bytes noise for the decoder
  // to take apart; and one it does not, and one whose CRC is wrong.
  LzhWriter packed;
  uint32_t seed = 100;
  for (const char* method : {"-lh1-", "-lh4-", "-lh5-", "-lh6-", "-lh7-", "-lhx-", "-lz5-", "-lzs-",
                             "-pm1-", "-pm2-", "-lh2-"}) {
    packed.Level(seed % 3).AddPacked(std::string("F") + method + ".BIN", method,
                                     PatternBytes(700, seed), 4000, 0);
    ++seed;
  }
  packed.AddPacked("BAD.TXT", "-lh0-", text, static_cast<uint32_t>(text.size()),
                   LzhCrc16(text) ^ 1);
  archives.push_back(packed.Build());
  // A large stored entry, so that mutations start from the longest input the target takes
  // as well.
  archives.push_back(LzhWriter().Level(1).AddFile("BIG.EXE", PatternBytes(250000, 7)).Build());
  std::vector<std::string> seeds;
  for (const std::vector<uint8_t>& archive : archives)
    seeds.emplace_back(archive.begin(), archive.end());
  return seeds;
}

// Any sector against any sector records: the boot detectors, the loader tracer and the boot
// heuristics stay inside the sector and the image, end, and keep the detectors' protocol
// (a chain's flag is 1 only beside a nonzero id, a heuristic verdict is 0 or 1).
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/byte_reader.h"
#include "sysarea/boot_detectors.h"

namespace {

// The input: 512 sector bytes (zeros when short), then records, each a selector byte that
// picks section 14, 15 or 16 followed by that section's record bytes.
constexpr int kSections[] = {quarn::kBootPatternSection, quarn::kMbrPatternSection,
                             quarn::kMbrSubsequenceSection};
constexpr size_t kMaxRecords = 64;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string Seed(std::array<uint8_t, quarn::kSectorSize> sector,
                 const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& records) {
  std::string input(sector.begin(), sector.end());
  for (const auto& [selector, record] : records) {
    input.push_back(static_cast<char>(selector));
    input.append(record.begin(), record.end());
  }
  return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::array<uint8_t, quarn::kSectorSize> sector{};
  std::copy_n(data, std::min<size_t>(size, sector.size()), sector.begin());
  const quarn::SectorView view(sector);

  quarn::DatabaseContent content;
  size_t at = sector.size();
  for (size_t records = 0; records < kMaxRecords && at < size; ++records) {
    const int section = kSections[data[at] % std::size(kSections)];
    const size_t record_size = quarn::ReaderRecordSize(section);
    if (size - at - 1 < record_size) break;
    content.sections[section].records.emplace_back(data + at + 1, data + at + 1 + record_size);
    at += 1 + record_size;
  }
  auto image_bytes = quarn::BuildSignatureImage(content);
  Check(image_bytes.ok());
  const quarn::DatabaseImage image(*image_bytes);

  for (auto detect : {quarn::DetectMbrVirus, quarn::DetectBootSectorVirus}) {
    uint16_t flag = 7;
    const uint32_t id = detect(image, view, &flag);
    Check(flag == 0 || (flag == 1 && id != 0));
  }
  for (int section : kSections) {
    uint16_t flag = 7;
    const uint16_t directory_offset = quarn::DirectoryOffset(section);
    const uint32_t id = section == quarn::kMbrSubsequenceSection
                            ? quarn::MatchSectorSubsequence(image, view, &flag, directory_offset)
                            : quarn::MatchSectorPatterns(image, view, &flag, directory_offset);
    Check(id == 0 ? flag == 7 : flag <= 1);
  }
  uint16_t flag = 7;
  const uint32_t traced = quarn::TraceBootLoader(view, &flag);
  Check(traced == 0 ? flag == 7
                    : flag == 0 && (traced == quarn::kBootLoaderCopyToBootAreaId ||
                                    traced == quarn::kBootLoaderCopyPastBootAreaId));
  const int heuristics = quarn::CheckBootHeuristics(image, view);
  Check(heuristics == 0 || heuristics == 1);
  Check(quarn::FollowEntryJump(view) <= 0x10002);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::array<uint8_t, quarn::kSectorSize> floppy{};
  const uint8_t loader[] = {0xEB, 0x3C, 0x90};
  std::copy(std::begin(loader), std::end(loader), floppy.begin());
  floppy[0x18] = 18;
  floppy[0x1A] = 2;
  floppy[0x1FE] = 0x55;
  floppy[0x1FF] = 0xAA;

  // A loader that reads the saved sector the way a boot virus does, and lowers DOS memory.
  std::array<uint8_t, quarn::kSectorSize> infected = floppy;
  const uint8_t code[] = {0x83, 0x2E, 0x13, 0x04, 0x02, 0xB8, 0x03, 0x02, 0xBB, 0x00, 0x7C, 0xB5,
                          0x4F, 0xBA, 0x00, 0x01, 0xCD, 0x13, 0xB1, 0x06, 0xD3, 0xE0, 0xCB};
  std::copy(std::begin(code), std::end(code), infected.begin() + 0x3E);

  // Records that match `infected`: a pattern counted from the entry, one from the start, a
  // subsequence.
  std::vector<uint8_t> boot(quarn::kBootPatternRecordSize, 0);
  std::copy_n(code, 8, boot.begin());
  quarn::WriteU16(&boot[10], 5);
  quarn::WriteU16(&boot[12], 16);
  std::copy_n(code + 16, 4, boot.begin() + 14);
  boot[18] = 1;
  std::vector<uint8_t> mbr(quarn::kMbrPatternRecordSize, 0);
  std::copy_n(infected.begin(), 8, mbr.begin());
  quarn::WriteU16(&mbr[10], 6);
  std::vector<uint8_t> subsequence(quarn::kSubsequenceRecordSize, 0);
  quarn::WriteU16(&subsequence[0], 7);
  quarn::WriteU16(&subsequence[2], 12);
  std::copy_n(code, 12, subsequence.begin() + 4);

  return {Seed(floppy, {}), Seed(infected, {}),
          Seed(infected, {{0, boot}, {1, mbr}, {2, subsequence}}),
          Seed(floppy, {{0, boot}, {1, mbr}, {2, subsequence}})};
}

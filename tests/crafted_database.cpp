#include "tests/crafted_database.h"

#include <algorithm>
#include <array>
#include <random>

#include "engine/behaviour_mask.h"
#include "engine/com_detectors.h"
#include "engine/database_builder.h"
#include "engine/detector_state.h"
#include "engine/entry_locator.h"
#include "engine/section_walk.h"
#include "engine/signature_records.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::corpus {
namespace {

constexpr uint16_t kFirstId = 1000;

// What the detectors of one file compare records with.
struct FileView {
  std::vector<uint8_t> bytes;
  DetectorState exe;  // after LocateEntryCode
  DetectorState pe;   // after LocatePeEntry
  DetectorState com;  // after the COM entry detector
  std::array<uint8_t, kDetectorBufferSize> start{};
  std::array<uint8_t, kDetectorBufferSize> tail{};

  uint8_t At(int64_t offset, uint8_t otherwise) const {
    return offset >= 0 && static_cast<uint64_t>(offset) < bytes.size() ? bytes[offset] : otherwise;
  }
};

FileView ViewOf(CorpusFiles& files, const CorpusFile& file) {
  FileView view;
  view.bytes = file.bytes;
  auto opened = files.Open(file);
  LocateEntryCode(*opened, view.exe);
  uint32_t pe_offset = 0;
  uint64_t section_header = 0;
  LocatePeEntry(*opened, view.pe, &pe_offset, &section_header);
  uint16_t flag = 0;
  ScanComEntrySignatures(DatabaseImage(), *opened, &flag, 0, view.com);
  std::copy_n(file.bytes.begin(), std::min<size_t>(16, file.bytes.size()), view.start.begin());
  const size_t tail_start = file.bytes.size() > 80 ? file.bytes.size() - 80 : 0;
  std::copy(file.bytes.begin() + tail_start, file.bytes.end(), view.tail.begin());
  return view;
}

class Crafter {
 public:
  Crafter(const std::vector<FileView>& views, uint32_t seed, bool confirm_every_pattern)
      : views_(views), random_(seed), confirm_every_pattern_(confirm_every_pattern) {}

  size_t Below(size_t bound) { return bound == 0 ? 0 : random_() % bound; }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
  uint8_t Byte() { return static_cast<uint8_t>(random_()); }
  const FileView& AnyFile() { return views_[Below(views_.size())]; }

  // Mostly within the 16 bytes read, sometimes into the scratch or the zeros past it.
  uint8_t CodeOffset(size_t length) {
    if (Chance(70)) return static_cast<uint8_t>(Below(16 - length + 1));
    return static_cast<uint8_t>(Below(48));
  }
  // `length` bytes of `source` from `offset`, or at random; one byte spoilt now and then.
  void Take(uint8_t* out, const uint8_t* source, size_t length, int percent_real) {
    const bool real = Chance(percent_real);
    for (size_t i = 0; i < length; ++i) out[i] = real ? source[i] : Byte();
    if (real && Chance(15)) out[Below(length)] ^= static_cast<uint8_t>(1 + Below(255));
  }
  void TakeFile(uint8_t* out, const FileView& view, int64_t offset, size_t length) {
    const bool real = Chance(50);
    for (size_t i = 0; i < length; ++i) out[i] = real ? view.At(offset + i, Byte()) : Byte();
  }

  std::vector<uint8_t> Entry(DetectorState FileView::*state, uint16_t id) {
    const FileView& view = AnyFile();
    const DetectorState& at = view.*state;
    std::vector<uint8_t> record(kEntrySignatureRecordSize);
    const uint8_t offset = CodeOffset(kEntryBytesLength);
    record[kEntryCodeOffsetField] = offset;
    Take(&record[kEntryBytesField], at.entry_code_buffer.data() + offset, kEntryBytesLength, 85);
    WriteU16(&record[kEntryIdField], id);
    record[kEntryConfirmOffsetField] = Byte();
    TakeFile(&record[kEntryConfirmField], view,
             int64_t{at.entry_position} + record[kEntryConfirmOffsetField], kEntryConfirmLength);
    return record;
  }

  enum class Measure { kForward, kBackward, kTail, kTailParagraph };

  std::vector<uint8_t> Offset(DetectorState FileView::*state, Measure measure, uint16_t id) {
    const FileView& view = AnyFile();
    const DetectorState& at = view.*state;
    const bool tail = measure == Measure::kTail || measure == Measure::kTailParagraph;
    const uint8_t* code = tail ? view.start.data() : at.entry_code_buffer.data();
    std::vector<uint8_t> record(kOffsetSignatureRecordSize);
    const uint8_t offset = CodeOffset(kOffsetCodeLength);
    record[kOffsetCodeOffsetField] = offset;
    Take(&record[kOffsetCodeField], code + offset, kOffsetCodeLength, 85);
    WriteU16(&record[kOffsetIdField], id);
    const uint16_t distance = static_cast<uint16_t>(Chance(80) ? Below(400) : Below(0x10000));
    WriteU16(&record[kOffsetDistanceField], distance);
    const int64_t size = static_cast<int64_t>(view.bytes.size());
    int64_t first_at = 0;
    switch (measure) {
      case Measure::kForward:
        first_at = int64_t{at.entry_position} + 16 + distance;
        break;
      case Measure::kBackward:
        first_at = int64_t{at.entry_position} - distance;
        break;
      case Measure::kTail:
        first_at = std::max<int64_t>(0, size - distance);
        break;
      case Measure::kTailParagraph:
        first_at = std::max<int64_t>(0, size - distance) / 16 * 16;
        break;
    }
    TakeFile(&record[kOffsetFirstConfirmField], view, first_at, kOffsetFirstConfirmLength);
    record[kOffsetGapField] = static_cast<uint8_t>(Below(24));
    const int64_t read = std::clamp<int64_t>(size - first_at, 0, 16);
    const int64_t second_at = measure == Measure::kBackward
                                  ? first_at + record[kOffsetGapField]
                                  : first_at + read + record[kOffsetGapField];
    TakeFile(&record[kOffsetSecondConfirmField], view, second_at, kOffsetSecondConfirmLength);
    return record;
  }

  std::vector<uint8_t> FileEnd(uint16_t id) {
    const FileView& view = AnyFile();
    std::vector<uint8_t> record(kEndSignatureRecordSize);
    WriteU16(&record[0], id);
    const uint8_t offset = static_cast<uint8_t>(Chance(90) ? Below(73) : Below(256));
    const uint8_t length = static_cast<uint8_t>(Chance(90) ? 1 + Below(8) : Below(12));
    record[2] = offset;
    record[3] = length;
    Take(&record[4], view.tail.data() + offset, std::min<size_t>(length, 8), 85);
    const uint16_t distance = static_cast<uint16_t>(Below(300));
    WriteU16(&record[12], distance);
    const uint8_t second = static_cast<uint8_t>(Chance(90) ? 1 + Below(4) : Below(8));
    record[14] = second;
    TakeFile(&record[15], view, std::max<int64_t>(0, int64_t(view.bytes.size()) - distance),
             std::min<size_t>(second, 4));
    return record;
  }

  std::vector<uint8_t> Pattern(DetectorState FileView::*state, uint16_t id) {
    std::vector<uint8_t> record =
        !patterns_.empty() && Chance(30) ? RelativePattern() : FreshPattern(state);
    WriteU16(&record[0], confirm_every_pattern_ ? 220 : Chance(4) ? 90 : Chance(4) ? 220 : id);
    patterns_.push_back(record);
    return record;
  }

  // An earlier pattern record cut short, a byte longer, in another window or area: records
  // that share a prefix, end inside another's pattern or repeat it.
  std::vector<uint8_t> RelativePattern() {
    std::vector<uint8_t> record = patterns_[Below(patterns_.size())];
    const uint8_t length = record[2];
    switch (Below(4)) {
      case 0:
        if (length > 1 && length <= 15) record[2] = static_cast<uint8_t>(1 + Below(length));
        break;
      case 1:
        if (length < 15) {
          record[5 + length] = Chance(50) ? record[5 + Below(length)] : Byte();
          record[2] = static_cast<uint8_t>(length + 1);
        }
        break;
      case 2:
        record[3] = static_cast<uint8_t>(Below(256));
        break;
      default:
        record[4] = record[4] == 0 ? static_cast<uint8_t>(1 + Below(3)) : 0;
        break;
    }
    return record;
  }

  std::vector<uint8_t> FreshPattern(DetectorState FileView::*state) {
    const FileView& view = AnyFile();
    const bool at_start = Chance(40);
    const int64_t from = at_start ? 0 : (view.*state).entry_position;
    std::vector<uint8_t> record(kPatternRecordSize);
    const uint8_t length = static_cast<uint8_t>(Chance(95)   ? 1 + Below(15)
                                                : Chance(25) ? 0
                                                             : 16 + Below(3));
    const uint8_t window = static_cast<uint8_t>(Chance(50) ? 255 : Below(256));
    record[2] = length;
    record[3] = window;
    record[4] = at_start ? static_cast<uint8_t>(1 + Below(3)) : 0;
    // An increasing choice of positions within the window, so the bytes occur in order.
    std::vector<size_t> positions;
    for (size_t i = 0; i < window; ++i) positions.push_back(i);
    std::shuffle(positions.begin(), positions.end(), random_);
    positions.resize(std::min<size_t>(positions.size(), std::min<uint8_t>(length, 15)));
    std::sort(positions.begin(), positions.end());
    const bool real = Chance(70);
    for (size_t k = 0; k < std::min<uint8_t>(length, 15); ++k) {
      record[5 + k] = real && k < positions.size() ? view.At(from + positions[k], Byte()) : Byte();
    }
    // Now and then the window ends right after the last byte taken, or one short of it.
    if (real && !positions.empty() && Chance(30)) {
      record[3] = static_cast<uint8_t>(positions.back() + (Chance(50) ? 1 : 0));
    }
    return record;
  }

  std::vector<uint8_t> Macro(uint16_t id) {
    std::vector<uint8_t> record(kMacroSignatureRecordSize);
    for (uint8_t& byte : record) byte = Chance(60) ? 0 : Byte();
    WriteU16(&record[0], id);
    WriteU16(&record[2], static_cast<uint16_t>(Chance(90) ? Below(505) : Below(0x10000)));
    WriteU16(&record[12], static_cast<uint16_t>(Below(509)));
    return record;
  }

 private:
  const std::vector<FileView>& views_;
  std::mt19937 random_;
  bool confirm_every_pattern_;
  std::vector<std::vector<uint8_t>> patterns_;  // every pattern record made so far
};

}  // namespace

DatabaseImage BuildCraftedDatabase(const std::vector<CorpusFile>& files,
                                   uint16_t records_per_section, uint32_t seed,
                                   const DatabaseImage& extra, bool confirm_every_pattern) {
  CorpusFiles opened(files);
  std::vector<FileView> views;
  for (const CorpusFile& file : files) views.push_back(ViewOf(opened, file));
  Crafter crafter(views, seed, confirm_every_pattern);
  using M = Crafter::Measure;
  DatabaseContent content;
  uint16_t id = kFirstId;
  for (uint16_t n = 0; n < records_per_section; ++n, id = static_cast<uint16_t>(id + 20)) {
    auto& s = content.sections;
    s[kExeEntrySection].records.push_back(crafter.Entry(&FileView::exe, id));
    s[kExeCallSection].records.push_back(crafter.Offset(&FileView::exe, M::kForward, id + 1));
    s[kExeForwardSection].records.push_back(crafter.Offset(&FileView::exe, M::kForward, id + 2));
    s[kExeBackwardSection].records.push_back(crafter.Offset(&FileView::exe, M::kBackward, id + 3));
    s[kExePatternSection].records.push_back(crafter.Pattern(&FileView::exe, id + 4));
    s[kComTailParagraphSection].records.push_back(
        crafter.Offset(&FileView::com, M::kTailParagraph, id + 5));
    s[kComTailSection].records.push_back(crafter.Offset(&FileView::com, M::kTail, id + 6));
    s[kComEntrySection].records.push_back(crafter.Entry(&FileView::com, id + 7));
    s[kComCallSection].records.push_back(crafter.Offset(&FileView::com, M::kForward, id + 8));
    s[kComForwardSection].records.push_back(crafter.Offset(&FileView::com, M::kForward, id + 9));
    s[kComBackwardSection].records.push_back(crafter.Offset(&FileView::com, M::kBackward, id + 10));
    s[kComEndSection].records.push_back(crafter.FileEnd(id + 11));
    s[kComPatternSection].records.push_back(crafter.Pattern(&FileView::com, id + 12));
    s[kMacroSection].records.push_back(crafter.Macro(id + 13));
    s[kPeEntrySection].records.push_back(crafter.Offset(&FileView::pe, M::kForward, id + 14));
  }
  // The extra records go in at random places of their sections.
  for (int section = 0; section < kSectionCount; ++section) {
    auto& records = content.sections[section].records;
    if (records.empty()) continue;
    for (SectionWalk walk(extra, DirectoryOffset(section), ReaderRecordSize(section));
         !walk.AtEnd() && records.size() < 0xFFFF; walk.Next()) {
      std::span<const uint8_t> record = walk.Record();
      records.insert(records.begin() + static_cast<ptrdiff_t>(crafter.Below(records.size() + 1)),
                     std::vector<uint8_t>(record.begin(), record.end()));
    }
  }
  return DatabaseImage(BuildSignatureImage(content).value());
}

}  // namespace quarn::corpus

#include "sysarea/memory_scan.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr int kMemoryScanStartText = 21;
constexpr int kMemoryVirusFoundText = 22;
constexpr std::string_view kMemoryCleanText = "OK";

// Bytes from a hit's first byte to the end of the furthest byte its tests read: the pattern
// with the two cancel bytes, or the confirmation word.
size_t HitExtent(const MemoryPattern& pattern) {
  return std::max<size_t>(kMemoryPatternLength + 2, size_t{pattern.confirm_offset} + 2);
}

// The bar counts whole records over its range and shows them on the front end's scale.
// Like the stepping of a standard progress bar, a step past the end starts again from 0:
// sections longer than one block have more records than the range.
class RecordProgress {
 public:
  RecordProgress(const std::function<void(int)>& set_progress, uint16_t range)
      : set_progress_(set_progress), range_(range) {}

  void Show() const {
    if (!set_progress_) return;
    set_progress_(range_ == 0 ? 0 : static_cast<int>(position_ * kProgressSteps / range_));
  }
  void Step() {
    position_ = position_ >= range_ ? 0 : position_ + 1;
    Show();
  }

 private:
  const std::function<void(int)>& set_progress_;
  uint32_t range_;
  uint32_t position_ = 0;
};

void AddLine(const MemoryScanOutput& output, ResultLine line) {
  if (output.add_line) output.add_line(std::move(line));
}

ResultLine TextLine(std::string text) {
  ResultLine line;
  line.text = std::move(text);
  return line;
}

constexpr size_t kWindowCount = std::size(kMemoryWindowSegments);
using ZeroWindows = std::array<bool, kWindowCount>;

// Which windows the platform knows to hold only zeros, asked once per scan: with no memory
// image, all of them, and a record is then settled without copying anything.
ZeroWindows FindZeroWindows(SystemAccess& memory) {
  ZeroWindows zero{};
  for (size_t i = 0; i < kWindowCount; ++i) {
    zero[i] = memory.DosMemoryIsZero(kMemoryWindowSegments[i], 0, kMemoryWindowSize);
  }
  return zero;
}

// Whether the pattern hits a window of zeros: every position of such a window looks the
// same, so a window just long enough for one hit answers for all.
bool HitsZeros(const MemoryPattern& pattern) {
  static constexpr std::array<uint8_t, 2 + 0xFF + 2> kZeros{};
  static_assert(kZeros.size() <= kMemoryWindowSize);
  return FindMemoryPattern(std::span(kZeros).first(HitExtent(pattern)), pattern).has_value();
}

// Reads the record's windows in order into `window` until one holds a hit.
bool FoundInMemory(SystemAccess& memory, const MemoryPattern& pattern, const ZeroWindows& zero,
                   std::span<uint8_t> window) {
  const size_t window_count = pattern.upper_memory ? kWindowCount : kLowMemoryWindowCount;
  std::optional<bool> hits_zeros;
  for (size_t i = 0; i < window_count; ++i) {
    if (zero[i]) {
      if (!hits_zeros) hits_zeros = HitsZeros(pattern);
      if (*hits_zeros) return true;
      continue;
    }
    memory.CopyMemDos(kMemoryWindowSegments[i], 0, window);
    if (FindMemoryPattern(window, pattern)) return true;
  }
  return false;
}

// Copies the 28 name bytes of the section-30 record of `virus_id` into `name`; without such
// a record `name` keeps its content.
void CopyMemoryName(const DatabaseImage& signatures, uint16_t virus_id, MemoryNameBuffer& name) {
  for (SectionWalk names(signatures, DirectoryOffset(kMemoryNameSection), kMemoryNameRecordSize);
       !names.AtEnd(); names.Next()) {
    std::span<const uint8_t> record = names.Record();
    if (ReadU16(record, kMemoryNameIdField) != virus_id) continue;
    std::copy_n(record.begin() + kMemoryNameField, kMemoryNameLength, name.begin());
    return;
  }
}

}  // namespace

MemoryPattern ParseMemoryPattern(std::span<const uint8_t> record) {
  MemoryPattern pattern;
  for (size_t i = 0; i < kMemoryPatternLength; ++i) {
    pattern.bytes[i] = ReadU8(record, kMemoryPatternField + i);
  }
  pattern.virus_id = ReadU16(record, kMemoryVirusIdField);
  pattern.upper_memory = ReadU8(record, kMemoryUpperFlagField) != 0;
  pattern.confirm_offset = ReadU8(record, kMemoryConfirmOffsetField);
  pattern.confirm_word = ReadU16(record, kMemoryConfirmWordField);
  return pattern;
}

std::optional<size_t> FindMemoryPattern(std::span<const uint8_t> window,
                                        const MemoryPattern& pattern) {
  const size_t extent = HitExtent(pattern);
  if (window.size() < extent) return std::nullopt;
  // Every test of a hit at or before this position stays inside the window.
  const size_t last_start = window.size() - extent;
  const uint8_t* data = window.data();
  for (size_t p = 0; p <= last_start; ++p) {
    const void* key = std::memchr(data + p, pattern.bytes[0], last_start - p + 1);
    if (key == nullptr) break;
    p = static_cast<size_t>(static_cast<const uint8_t*>(key) - data);
    // Most key bytes in memory are not the start of the pattern; the next byte tells.
    if (data[p + 1] != pattern.bytes[1]) continue;
    if (std::memcmp(data + p, pattern.bytes.data(), kMemoryPatternLength) != 0) continue;
    const size_t after = p + kMemoryPatternLength;
    if (data[after] == kMemoryPatternCancelByte && data[after + 1] == kMemoryPatternCancelByte) {
      continue;
    }
    if (ReadU16(window, p + pattern.confirm_offset) == pattern.confirm_word) return p;
  }
  return std::nullopt;
}

std::string MemoryNameText(const MemoryNameBuffer& buffer) {
  const auto end = std::find(buffer.begin(), buffer.end(), 0);
  return std::string(buffer.begin(), end);
}

MemoryScanResult ScanMemory(const DatabaseImage& signatures, SystemAccess& memory,
                            Language language, MemoryNameBuffer& name,
                            const MemoryScanOutput& output) {
  AddLine(output, TextLine(std::string(LoadText(language, kMemoryScanStartText))));

  SectionWalk patterns(signatures, DirectoryOffset(kMemoryPatternSection),
                       kMemoryPatternRecordSize);
  RecordProgress progress(output.set_progress, patterns.cursor().records_left_in_block);
  progress.Show();

  std::vector<uint8_t> window(kMemoryWindowSize);
  const ZeroWindows zero_windows = FindZeroWindows(memory);
  uint16_t found = 0;
  for (; !patterns.AtEnd(); patterns.Next()) {
    const MemoryPattern pattern = ParseMemoryPattern(patterns.Record());
    if (pattern.virus_id != 0 && FoundInMemory(memory, pattern, zero_windows, window)) {
      found = pattern.virus_id;
      break;
    }
    progress.Step();
  }

  MemoryScanResult result;
  if (found == 0) {
    AddLine(output, TextLine(std::string(kMemoryCleanText)));
    return result;
  }
  CopyMemoryName(signatures, found, name);
  result.virus_id = found;
  result.name = MemoryNameText(name);

  ResultLine line = TextLine(std::string(LoadText(language, kMemoryVirusFoundText)) + result.name);
  line.icon = ResultIcon::kVirus;
  line.kind = ReportKind::kDetection;
  line.virus_id = found;
  line.virus_name = result.name;
  AddLine(output, std::move(line));
  return result;
}

}  // namespace quarn

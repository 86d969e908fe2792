#include "engine/signature_detectors.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <optional>
#include <span>

#include "engine/candidate_walk.h"
#include "engine/pattern_matcher.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_index.h"
#include "engine/signature_records.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

// PatternRecord fields.
constexpr int kPatternIdField = 0;
constexpr int kPatternLengthField = 2;
constexpr int kPatternWindowField = 3;
constexpr int kPatternAreaField = 4;
constexpr int kPatternBytesField = 5;
constexpr uint8_t kPatternMaxLength = 15;

constexpr uint32_t kConfirmReadSize = 16;
constexpr uint32_t kEntryCodeSize = 16;
constexpr uint32_t kPatternAreaSize = 256;

// Fixed VirusIds of the pattern detector.
constexpr uint32_t kTimeStampedId = 90;
constexpr uint32_t kTimeStampedMarkedId = 101;
constexpr uint16_t kMarkedTwoSecondField = 31;
constexpr uint32_t kConfirmedAtStartId = 220;
constexpr int kConfirmedAtStartByteA = 3;  // 0x01
constexpr int kConfirmedAtStartByteB = 7;  // 0x01
constexpr int kConfirmedAtStartByteC = 8;  // 0xC3

uint8_t* Scratch(DetectorState& state) {
  return state.entry_code_buffer.data() + kScratchOffset;
}

enum class Direction { kCall, kForward, kBackward };

// The three-stage test of the OffsetSignatureRecord detectors.
uint32_t ScanOffsetSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                              uint16_t directory_offset, DetectorState& state,
                              Direction direction) {
  std::span<const uint8_t> code(state.entry_code_buffer);
  const int64_t entry = state.entry_position;
  DetectorMatch match;
  // Every record of the call detectors reads the file: none may be skipped.
  const RecordIndex* index =
      direction == Direction::kCall
          ? nullptr
          : FindSectionIndex(signatures, directory_offset, RecordTest::kCodeFilter);
  for (CandidateWalk walk(signatures, directory_offset, kOffsetSignatureRecordSize, index, code);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    if (direction != Direction::kCall &&
        !BytesEqual(code, record[kOffsetCodeOffsetField], record.data() + kOffsetCodeField,
                    kOffsetCodeLength)) {
      continue;
    }
    const int64_t distance = ReadU16(record, kOffsetDistanceField);
    const int64_t gap = record[kOffsetGapField];
    int64_t second_at = 0;
    if (direction == Direction::kBackward) {
      if (distance > entry) continue;
      if (ReadAt(file, entry - distance, Scratch(state), kConfirmReadSize) == 0) continue;
      second_at = entry - distance + gap;
    } else {
      const int64_t first_at = entry + kEntryCodeSize + distance;
      // A read that delivers nothing leaves the previous record's confirmation bytes in the
      // scratch, and they are compared all the same: the result depends on them.
      uint32_t read = ReadAt(file, first_at, Scratch(state), kConfirmReadSize);
      second_at = first_at + read + gap;
    }
    if (!BytesEqual(code, kScratchOffset, record.data() + kOffsetFirstConfirmField,
                    kOffsetFirstConfirmLength)) {
      continue;
    }
    match.partial = ReadU16(record, kOffsetIdField);
    if (ReadAt(file, second_at, Scratch(state), kConfirmReadSize) == 0) continue;
    if (BytesEqual(code, kScratchOffset, record.data() + kOffsetSecondConfirmField,
                   kOffsetSecondConfirmLength)) {
      match.exact = match.partial;
      break;
    }
  }
  return match.Report(variant_flag);
}

// True when the first `length` pattern bytes occur in `window` in order, anything between.
// The record-by-record walk keeps this plain form: it is what the index is checked against.
bool ContainsInOrder(std::span<const uint8_t> window, const uint8_t* pattern, uint8_t length) {
  uint8_t k = 0;
  for (uint8_t byte : window) {
    if (byte != pattern[k]) continue;
    if (++k == length) return true;
  }
  return false;
}

// The same answer for a length of 1 or more, leaping from each pattern byte's first
// occurrence to the next's: the plain form also takes each one's first occurrence after the
// previous.
bool ContainsInOrderByLeaps(std::span<const uint8_t> window, const uint8_t* pattern,
                            uint8_t length) {
  size_t at = 0;
  for (uint8_t k = 0; k < length; ++k) {
    if (at >= window.size()) return false;
    const void* hit = std::memchr(window.data() + at, pattern[k], window.size() - at);
    if (hit == nullptr) return false;
    at = static_cast<size_t>(static_cast<const uint8_t*>(hit) - window.data()) + 1;
  }
  return true;
}

// The VirusId a matching pattern record stands for, or 0 when its confirmation fails.
uint32_t ResolvePatternMatch(uint32_t id, File& file, DetectorState& state) {
  if (id == kTimeStampedId) {
    std::optional<FileTimes> times = file.GetTimes();
    // Without a time stamp the mark cannot be there.
    if (!times) return kTimeStampedId;
    return TimeStampedVirusId(DosTimeFromFileTime(times->last_write));
  }
  if (id == kConfirmedAtStartId) {
    ReadAt(file, 0, state.entry_code_buffer.data(), kEntryCodeSize);
    const auto& code = state.entry_code_buffer;
    bool confirmed = code[kConfirmedAtStartByteA] == 0x01 && code[kConfirmedAtStartByteB] == 0x01 &&
                     code[kConfirmedAtStartByteC] == 0xC3;
    return confirmed ? kConfirmedAtStartId : 0;
  }
  return id;
}

// The two areas pattern records look into. Whether a value lies within a record's window is
// searched in the bytes for the first few records asked about, then looked up in a table of
// each value's first position (the area's length when the value is absent): a small section
// asks about a handful of records per file, fewer than filling a table costs.
class PatternAreas {
 public:
  static constexpr uint32_t kSearchesBeforeTables = 16;

  PatternAreas(std::span<const uint8_t> entry_area, std::span<const uint8_t> start_area)
      : at_entry(entry_area), start(start_area) {}

  // Whether `value` occurs among the area's first `window` bytes.
  bool HoldsWithin(bool at_start, uint8_t value, size_t window) const {
    std::span<const uint8_t> area = at_start ? start : at_entry;
    window = std::min(window, area.size());
    if (searches_left_ != 0) {
      --searches_left_;
      return window != 0 && std::memchr(area.data(), value, window) != nullptr;
    }
    std::array<uint16_t, 256>& first = first_[at_start];
    if (!tabled_[at_start]) {
      first.fill(static_cast<uint16_t>(area.size()));
      for (size_t i = area.size(); i-- > 0;) first[area[i]] = static_cast<uint16_t>(i);
      tabled_[at_start] = true;
    }
    return first[value] < window;
  }

  std::span<const uint8_t> at_entry;
  std::span<const uint8_t> start;

 private:
  // Caches of the bytes, by at_start.
  mutable uint32_t searches_left_ = kSearchesBeforeTables;
  mutable std::array<bool, 2> tabled_{};
  mutable std::array<std::array<uint16_t, 256>, 2> first_;
};

// The VirusId a pattern record reports for the file, or 0 to go on with the next record.
uint32_t TestPatternRecord(std::span<const uint8_t> record, const PatternAreas& areas, File& file,
                           DetectorState& state, bool by_leaps) {
  uint8_t length = record[kPatternLengthField];
  if (length == 0 || length > kPatternMaxLength) return 0;  // not a pattern the record holds
  std::span<const uint8_t> area = record[kPatternAreaField] == 0 ? areas.at_entry : areas.start;
  size_t window = std::min<size_t>(record[kPatternWindowField], area.size());
  const uint8_t* pattern = record.data() + kPatternBytesField;
  if (!(by_leaps ? ContainsInOrderByLeaps : ContainsInOrder)(area.first(window), pattern, length)) {
    return 0;
  }
  return ResolvePatternMatch(ReadU16(record, kPatternIdField), file, state);
}

// The records the index finds matching, in walk order, resolved one by one as the walk
// resolves them. Finding a match reads nothing, so the reads are the walk's.
uint32_t ResolveIndexedPatterns(const DatabaseImage& signatures, const RecordIndex& index,
                                std::span<const uint8_t> at_entry, std::span<const uint8_t> start,
                                File& file, DetectorState& state) {
  const PatternTrie& entry_patterns = index.pattern_tries->at_entry;
  const PatternTrie& start_patterns = index.pattern_tries->at_start;
  // Left uncleared: an area clears its survey only when it takes it up.
  PatternSurvey entry_survey;
  PatternSurvey start_survey;
  // An area no record searches is not looked at, and one that holds the same bytes as the
  // other (the entry is the start of most files) is looked at once.
  const PatternArea entry_area(entry_patterns.empty() ? std::span<const uint8_t>() : at_entry,
                               entry_survey);
  const bool share = !entry_patterns.empty() && std::ranges::equal(at_entry, start);
  const PatternArea start_own_area(
      share || start_patterns.empty() ? std::span<const uint8_t>() : start, start_survey);
  const PatternArea& start_area = share ? entry_area : start_own_area;
  const int32_t none = index.record_count;
  for (int32_t after = -1;;) {
    int32_t ordinal = none;
    ordinal = entry_patterns.FirstMatch(entry_area, after, ordinal);
    ordinal = start_patterns.FirstMatch(start_area, after, ordinal);
    if (ordinal == none) return 0;
    std::span<const uint8_t> record = index.Record(signatures, static_cast<uint16_t>(ordinal));
    if (uint32_t id = ResolvePatternMatch(ReadU16(record, kPatternIdField), file, state)) {
      return id;
    }
    after = ordinal;
  }
}

}  // namespace

uint32_t ScanEntrySignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                             uint16_t directory_offset, DetectorState& state) {
  std::span<const uint8_t> code(state.entry_code_buffer);
  DetectorMatch match;
  const RecordIndex* index =
      FindSectionIndex(signatures, directory_offset, RecordTest::kEntryBytes);
  for (CandidateWalk walk(signatures, directory_offset, kEntrySignatureRecordSize, index, code);
       !walk.AtEnd(); walk.Next()) {
    std::span<const uint8_t> record = walk.Record();
    if (!BytesEqual(code, record[kEntryCodeOffsetField], record.data() + kEntryBytesField,
                    kEntryBytesLength)) {
      continue;
    }
    match.partial = ReadU16(record, kEntryIdField);
    int64_t confirm_at = int64_t{state.entry_position} + record[kEntryConfirmOffsetField];
    if (ReadAt(file, confirm_at, Scratch(state), kConfirmReadSize) == 0) continue;
    if (BytesEqual(code, kScratchOffset, record.data() + kEntryConfirmField, kEntryConfirmLength)) {
      match.exact = match.partial;
      break;
    }
  }
  return match.Report(variant_flag);
}

uint32_t ScanCallSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& state) {
  if (ReadAt(file, 0, state.header_buffer.data(), kEntryCodeSize) == 0) return 0;
  if (state.entry_code_buffer[0] != 0xE8 || state.entry_code_buffer[1] != 0x00) return 0;
  return ScanOffsetSignatures(signatures, file, variant_flag, directory_offset, state,
                              Direction::kCall);
}

uint32_t ScanForwardSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state) {
  return ScanOffsetSignatures(signatures, file, variant_flag, directory_offset, state,
                              Direction::kForward);
}

uint32_t ScanBackwardSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                                uint16_t directory_offset, DetectorState& state) {
  return ScanOffsetSignatures(signatures, file, variant_flag, directory_offset, state,
                              Direction::kBackward);
}

uint32_t ScanPatternSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state) {
  std::array<uint8_t, kPatternAreaSize> start{};
  std::array<uint8_t, kPatternAreaSize> at_entry{};
  uint32_t start_length = ReadAt(file, 0, start.data(), kPatternAreaSize);
  uint32_t entry_length = ReadAt(file, state.entry_position, at_entry.data(), kPatternAreaSize);
  if (start_length == 0 || entry_length == 0) return 0;

  const RecordIndex* index = FindSectionIndex(signatures, directory_offset, RecordTest::kPattern);
  if (index != nullptr && index->pattern_tries != nullptr) {
    // The tries survey the areas themselves, only as far as they need.
    const uint32_t id = ResolveIndexedPatterns(
        signatures, *index, std::span<const uint8_t>(at_entry.data(), entry_length),
        std::span<const uint8_t>(start.data(), start_length), file, state);
    if (id != 0) *variant_flag = 0;
    return id;
  }
  const PatternAreas areas(std::span<const uint8_t>(at_entry.data(), entry_length),
                           std::span<const uint8_t>(start.data(), start_length));
  if (index != nullptr) {
    // A record whose first pattern byte is not in its window cannot match, and no record's
    // test reads the file before it matches: such records are passed over unread.
    for (uint16_t ordinal = 0; ordinal < index->record_count; ++ordinal) {
      const RecordIndex::PatternKey key = index->pattern_keys[ordinal];
      if (!key.valid) continue;
      if (!areas.HoldsWithin(key.at_start, key.first_byte, key.window)) continue;
      if (uint32_t id = TestPatternRecord(index->Record(signatures, ordinal), areas, file, state,
                                          /*by_leaps=*/true)) {
        *variant_flag = 0;
        return id;
      }
    }
    return 0;
  }
  for (SectionWalk walk(signatures, directory_offset, kPatternRecordSize); !walk.AtEnd();
       walk.Next()) {
    if (uint32_t id = TestPatternRecord(walk.Record(), areas, file, state, /*by_leaps=*/false)) {
      *variant_flag = 0;
      return id;
    }
  }
  return 0;
}

uint16_t DosTimeFromFileTime(FileTime time) {
  using std::chrono::nanoseconds;
  std::chrono::sys_time<nanoseconds> moment{nanoseconds{time}};
  auto day = std::chrono::floor<std::chrono::days>(moment);
  std::chrono::hh_mm_ss clock{std::chrono::floor<std::chrono::seconds>(moment - day)};
  return static_cast<uint16_t>(clock.hours().count() << 11 | clock.minutes().count() << 5 |
                               clock.seconds().count() / 2);
}

uint32_t TimeStampedVirusId(uint16_t dos_time) {
  return (dos_time & 0x1F) == kMarkedTwoSecondField ? kTimeStampedMarkedId : kTimeStampedId;
}

}  // namespace quarn

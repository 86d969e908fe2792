// Arbitrary windows and pattern records through the memory search, checked against a plain
// position-by-position search; and whole memory scans over databases and memory built from
// the input, checked for the windows they read and the verdict they give.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/byte_reader.h"
#include "platform/test_support/in_memory_system_access.h"
#include "sysarea/memory_scan.h"

namespace {

// The first input byte chooses: a whole scan reads dozens of 64 KB windows, so it gets one
// input in eight and the cheap single-window search the rest.
constexpr uint8_t kWindowMode = 0;
constexpr uint8_t kScanMode = 7;
constexpr uint8_t kModeCount = 8;
constexpr size_t kMaxScanRecords = 2;
constexpr size_t kMaxNameRecords = 3;

// Every condition of a hit tested at every position, with nothing skipped.
std::optional<size_t> PlainSearch(std::span<const uint8_t> window,
                                  const quarn::MemoryPattern& pattern) {
  for (size_t p = 0; p < window.size(); ++p) {
    if (p + 14 > window.size() || p + pattern.confirm_offset + 2 > window.size()) continue;
    bool same = true;
    for (size_t i = 0; i < 12; ++i) same = same && window[p + i] == pattern.bytes[i];
    if (!same) continue;
    if (window[p + 12] == 0xFF && window[p + 13] == 0xFF) continue;
    const uint16_t word = static_cast<uint16_t>(window[p + pattern.confirm_offset] |
                                                (window[p + pattern.confirm_offset + 1] << 8));
    if (word == pattern.confirm_word) return p;
  }
  return std::nullopt;
}

void SearchOneWindow(std::span<const uint8_t> input) {
  const size_t record_size = std::min<size_t>(input.size(), quarn::kMemoryPatternRecordSize);
  const quarn::MemoryPattern pattern = quarn::ParseMemoryPattern(input.first(record_size));
  // An exactly sized copy, so that a read past the window's end is a sanitizer fault.
  const std::vector<uint8_t> window(input.begin() + record_size, input.end());
  if (quarn::FindMemoryPattern(window, pattern) != PlainSearch(window, pattern)) {
    __builtin_trap();
  }
}

// Fields the input runs out before are padded with a byte unlike the zeros of unset
// memory: an all-zero pattern over zeroed windows tests a hit at every byte, and would
// spend the run on that one case.
constexpr uint8_t kPadding = 0xA5;

std::vector<uint8_t> Take(std::span<const uint8_t>& input, size_t length) {
  std::vector<uint8_t> bytes(length, kPadding);
  const size_t taken = std::min(length, input.size());
  std::copy_n(input.begin(), taken, bytes.begin());
  input = input.subspan(taken);
  return bytes;
}

void ScanWholeMemory(std::span<const uint8_t> input) {
  const std::vector<uint8_t> counts = Take(input, 2);
  quarn::DatabaseContent content;
  std::vector<quarn::MemoryPattern> patterns;
  for (size_t i = 0; i < counts[0] % (kMaxScanRecords + 1); ++i) {
    std::vector<uint8_t> record = Take(input, quarn::kMemoryPatternRecordSize);
    patterns.push_back(quarn::ParseMemoryPattern(record));
    content.sections[quarn::kMemoryPatternSection].records.push_back(std::move(record));
  }
  for (size_t i = 0; i < counts[1] % (kMaxNameRecords + 1); ++i) {
    content.sections[quarn::kMemoryNameSection].records.push_back(
        Take(input, quarn::kMemoryNameRecordSize));
  }
  auto image = quarn::BuildSignatureImage(content);
  if (!image) return;
  const quarn::DatabaseImage signatures(image.value());

  // The rest of the input is memory, at an address the input chooses (up to 1 MB + 64 KB).
  const uint32_t address = quarn::ReadU32(Take(input, 4), 0) % 0x110000;
  quarn::InMemorySystemAccess memory;
  memory.PutMemory(address, input);

  quarn::MemoryNameBuffer name{};
  size_t lines = 0;
  quarn::MemoryScanOutput output{[&lines](quarn::ResultLine) { ++lines; },
                                 [](int position) {
                                   if (position < 0 || position > quarn::kProgressSteps) {
                                     __builtin_trap();
                                   }
                                 }};
  const quarn::MemoryScanResult result =
      quarn::ScanMemory(signatures, memory, quarn::Language::kItalian, name, output);

  if (lines != 2 || name[quarn::kMemoryNameLength] != 0 ||
      result.name.size() > quarn::kMemoryNameLength) {
    __builtin_trap();
  }
  const bool named = std::any_of(patterns.begin(), patterns.end(), [&](const auto& pattern) {
    return pattern.virus_id == result.virus_id;
  });
  if (result.virus_id != 0 && !named) __builtin_trap();
  for (const auto& read : memory.memory_reads()) {
    if (read.segment == 0xA000 || read.offset != 0 || read.length != quarn::kMemoryWindowSize) {
      __builtin_trap();
    }
  }
  if (memory.memory_reads().size() > patterns.size() * std::size(quarn::kMemoryWindowSegments)) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> input(data + 1, size - 1);
  if (data[0] % kModeCount == kScanMode) {
    ScanWholeMemory(input);
  } else {
    SearchOneWindow(input);
  }
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  const std::vector<uint8_t> hook = {0xB8, 0x21, 0x35, 0xCD, 0x21, 0x89,
                                     0x1E, 0x12, 0x01, 0x8C, 0x06, 0x14};
  std::vector<uint8_t> record = hook;
  record.insert(record.end(), {0, 0, 7, 0, 1, 4, 0x21, 0x89});

  std::vector<std::string> seeds;
  // A window holding a cancelled copy, then a good one near the end.
  std::string window(1, static_cast<char>(kWindowMode));
  window.append(record.begin(), record.end());
  window.append(40, '\0');
  window.append(hook.begin(), hook.end());
  window.append("\xFF\xFF", 2);
  window.append(hook.begin(), hook.end());
  window.append(2, '\0');
  seeds.push_back(window);

  // A scan of one record and its name, with the hook in upper memory.
  std::string scan(1, static_cast<char>(kScanMode));
  scan.append({1, 1});
  scan.append(record.begin(), record.end());
  const char name[30] = {7, 0, 'H', 'o', 'o', 'k', 'e', 'r'};
  scan.append(name, sizeof(name));
  scan.append({0x00, static_cast<char>(0x80), 0x0C, 0x00});  // 0xC8000
  scan.append(hook.begin(), hook.end());
  seeds.push_back(scan);
  return seeds;
}

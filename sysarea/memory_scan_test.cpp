#include "sysarea/memory_scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "platform/test_support/in_memory_system_access.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;

// MOV AX,3521h / INT 21h / MOV [0112h],BX / MOV [0114h],ES: a resident hook of INT 21h.
const std::vector<uint8_t> kHook = {0xB8, 0x21, 0x35, 0xCD, 0x21, 0x89,
                                    0x1E, 0x12, 0x01, 0x8C, 0x06, 0x14};
constexpr uint16_t kHookConfirmation = 0x8921;  // pattern bytes 4–5
constexpr uint8_t kHookConfirmationOffset = 4;

// A MemoryPatternRecord laid out byte by byte, independently of the reader's constants.
struct PatternRecord {
  std::vector<uint8_t> pattern = kHook;
  uint16_t virus_id = 7;
  uint8_t upper = 0;
  uint8_t confirm_offset = kHookConfirmationOffset;
  uint16_t confirm_word = kHookConfirmation;

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> bytes(20, 0);
    std::memcpy(bytes.data(), pattern.data(), 12);
    bytes[12] = 0x5A;  // not read
    bytes[13] = 0xA5;
    bytes[14] = static_cast<uint8_t>(virus_id);
    bytes[15] = static_cast<uint8_t>(virus_id >> 8);
    bytes[16] = upper;
    bytes[17] = confirm_offset;
    bytes[18] = static_cast<uint8_t>(confirm_word);
    bytes[19] = static_cast<uint8_t>(confirm_word >> 8);
    return bytes;
  }
  MemoryPattern Parsed() const { return ParseMemoryPattern(Bytes()); }
};

std::vector<uint8_t> NameRecord(uint16_t virus_id, const std::string& name) {
  std::vector<uint8_t> bytes(30, 0);
  bytes[0] = static_cast<uint8_t>(virus_id);
  bytes[1] = static_cast<uint8_t>(virus_id >> 8);
  std::memcpy(bytes.data() + 2, name.data(), std::min<size_t>(name.size(), 28));
  return bytes;
}

DatabaseImage Signatures(const std::vector<PatternRecord>& patterns,
                         const std::vector<std::vector<uint8_t>>& names = {}) {
  DatabaseContent content;
  for (const PatternRecord& record : patterns) {
    content.sections[kMemoryPatternSection].records.push_back(record.Bytes());
  }
  content.sections[kMemoryNameSection].records = names;
  return DatabaseImage(BuildSignatureImage(content).value());
}

uint32_t Linear(uint16_t segment, uint16_t offset) {
  return segment * 16u + offset;
}

class MemoryScanTest : public ::testing::Test {
 protected:
  MemoryScanResult Scan(const DatabaseImage& signatures, Language language = Language::kItalian) {
    MemoryScanOutput output{[this](ResultLine line) { lines_.push_back(std::move(line)); },
                            [this](int position) { progress_.push_back(position); }};
    return ScanMemory(signatures, memory_, language, name_, output);
  }

  void PutHook(uint32_t linear, const std::vector<uint8_t>& after = {}) {
    memory_.PutMemory(linear, kHook);
    memory_.PutMemory(linear + 12, after);
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const ResultLine& line : lines_) texts.push_back(line.text);
    return texts;
  }

  std::vector<uint16_t> SegmentsRead() const {
    std::vector<uint16_t> segments;
    for (const auto& read : memory_.memory_reads()) {
      EXPECT_EQ(read.offset, 0);
      EXPECT_EQ(read.length, 0xFFFFu);
      segments.push_back(read.segment);
    }
    return segments;
  }

  InMemorySystemAccess memory_;
  MemoryNameBuffer name_{};
  std::vector<ResultLine> lines_;
  std::vector<int> progress_;
};

const std::vector<uint16_t> kLowWindows = {0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000,
                                           0x6000, 0x7000, 0x8000, 0x9000, 0xB000};
const std::vector<uint16_t> kAllWindows = {0x0000, 0x1000, 0x2000, 0x3000, 0x4000, 0x5000,
                                           0x6000, 0x7000, 0x8000, 0x9000, 0xB000, 0xC000,
                                           0xD000, 0xE000, 0xF000, 0xFFFF};

// --- Lines, result and name ---

// A record without a virus id is stepped over unsearched, like no record at all.
TEST_F(MemoryScanTest, NothingToSearchGivesStartLineThenOk) {
  PutHook(Linear(0x0000, 0x10));
  PatternRecord unnamed;
  unnamed.virus_id = 0;
  for (const DatabaseImage& signatures : {Signatures({}), Signatures({unnamed})}) {
    lines_.clear();
    MemoryScanResult result = Scan(signatures);
    EXPECT_EQ(result.virus_id, 0);
    EXPECT_EQ(result.name, "");
    ASSERT_THAT(Texts(), ElementsAre("SCANSIONE DELLA MEMORIA", "OK"));
    EXPECT_EQ(lines_[0].icon, ResultIcon::kBlank);
    EXPECT_EQ(lines_[1].icon, ResultIcon::kBlank);
    EXPECT_TRUE(memory_.memory_reads().empty());
  }
  EXPECT_THAT(progress_, ElementsAre(0, 0, 20));
}

TEST_F(MemoryScanTest, FoundVirusTakesItsNameFromTheMemoryNameSection) {
  PutHook(Linear(0x3000, 0x1234));
  PatternRecord record;
  record.virus_id = 0x0123;
  MemoryScanResult result =
      Scan(Signatures({record}, {NameRecord(0x0122, "Neighbour"), NameRecord(0x0123, "Hooker")}));
  EXPECT_EQ(result.virus_id, 0x0123);
  EXPECT_EQ(result.name, "Hooker");
  EXPECT_EQ(MemoryNameText(name_), "Hooker");
  ASSERT_THAT(Texts(), ElementsAre("SCANSIONE DELLA MEMORIA", "VIRUS ATTIVO IN MEMORIA: Hooker"));
  const ResultLine& found = lines_[1];
  EXPECT_EQ(found.icon, ResultIcon::kVirus);
  EXPECT_EQ(found.kind, ReportKind::kDetection);
  EXPECT_EQ(found.virus_id, 0x0123u);
  EXPECT_EQ(found.virus_name, "Hooker");
  EXPECT_EQ(found.path, "");
}

TEST_F(MemoryScanTest, LongestNameStillEndsAndShowsInEnglish) {
  PutHook(Linear(0x0000, 0x0500));
  const std::string longest = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01";
  // The next record's first byte (9) would land in the terminator if it were copied too.
  MemoryScanResult result =
      Scan(Signatures({PatternRecord{}}, {NameRecord(7, longest), NameRecord(9, "Next")}),
           Language::kEnglish);
  EXPECT_EQ(result.name, longest);
  EXPECT_EQ(name_[28], 0);
  EXPECT_THAT(Texts(), ElementsAre("SCANNING MEMORY", "VIRUS FOUND IN MEMORY: " + longest));
}

TEST_F(MemoryScanTest, VirusWithoutNameRecordKeepsTheBuffersContent) {
  PutHook(Linear(0x0000, 0x0500));
  const DatabaseImage signatures = Signatures({PatternRecord{}}, {NameRecord(8, "Other")});

  MemoryScanResult first = Scan(signatures);  // the buffer as start-up leaves it
  EXPECT_EQ(first.virus_id, 7);
  EXPECT_EQ(first.name, "");
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_.back().text, "VIRUS ATTIVO IN MEMORIA: ");

  std::memcpy(name_.data(), "Earlier", 8);
  MemoryScanResult second = Scan(signatures);
  EXPECT_EQ(second.name, "Earlier");
  ASSERT_EQ(lines_.size(), 4u);
  EXPECT_EQ(lines_.back().text, "VIRUS ATTIVO IN MEMORIA: Earlier");
}

// --- Upper memory and the skipped video segment ---

struct UpperMemoryCase {
  uint8_t flag;
  uint32_t linear;
  uint16_t hit_segment;  // 0: not found
};

class UpperMemoryFlag : public MemoryScanTest,
                        public ::testing::WithParamInterface<UpperMemoryCase> {};

TEST_P(UpperMemoryFlag, DecidesWhetherSegmentsC000ToFFFFAreSearched) {
  const UpperMemoryCase& c = GetParam();
  PutHook(c.linear);
  PatternRecord record;
  record.upper = c.flag;
  EXPECT_EQ(Scan(Signatures({record})).virus_id, c.hit_segment != 0 ? 7 : 0);

  // The windows read are the record's order, up to the one that holds the hit.
  const std::vector<uint16_t>& order = c.flag != 0 ? kAllWindows : kLowWindows;
  const std::vector<uint16_t> read = SegmentsRead();
  ASSERT_FALSE(read.empty());
  ASSERT_LE(read.size(), order.size());
  EXPECT_TRUE(std::equal(read.begin(), read.end(), order.begin()));
  EXPECT_EQ(read.back(), c.hit_segment != 0 ? c.hit_segment : order.back());
}

INSTANTIATE_TEST_SUITE_P(
    MemoryScanTest, UpperMemoryFlag,
    ::testing::Values(UpperMemoryCase{0, Linear(0xC800, 0), 0},             // option ROM, not asked
                      UpperMemoryCase{1, Linear(0xC800, 0), 0xC000},        // option ROM, asked
                      UpperMemoryCase{0x80, Linear(0xE000, 0x40), 0xE000},  // any nonzero flag
                      UpperMemoryCase{1, Linear(0xFFFF, 0x20), 0xFFFF},     // above 1 MB
                      UpperMemoryCase{0, Linear(0xB000, 0xFF00), 0xB000},   // 0xB000 is low
                      UpperMemoryCase{0, Linear(0x9000, 0xFFF1), 0x9000},   // last start that fits
                      // Segment 0x1000's window ends at 0x1FFFE and the next starts at 0x20000:
                      // a hit reaching past the one is found in neither.
                      UpperMemoryCase{0, Linear(0x1000, 0xFFF2), 0},
                      UpperMemoryCase{0, Linear(0x1000, 0xFFF8), 0}));

// --- The search within one window ---

std::vector<uint8_t> Window(size_t size) {
  return std::vector<uint8_t>(size, 0x00);
}

TEST(FindMemoryPattern, CancelBytesSkipOnlyThatHit) {
  std::vector<uint8_t> window = Window(1000);
  testing::PutBytes(window, 100, kHook);
  testing::PutBytes(window, 112, {0xFF, 0xFF});
  testing::PutBytes(window, 300, kHook);
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), 300u);

  // One 0xFF alone does not cancel.
  testing::PutBytes(window, 112, {0xFF, 0x00});
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), 100u);
  testing::PutBytes(window, 112, {0x00, 0xFF});
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), 100u);

  testing::PutBytes(window, 112, {0xFF, 0xFF});
  testing::PutBytes(window, 312, {0xFF, 0xFF});
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), std::nullopt);
}

TEST(FindMemoryPattern, ConfirmationWordDecides) {
  std::vector<uint8_t> window = Window(1000);
  testing::PutBytes(window, 200, kHook);
  PatternRecord far;
  far.confirm_offset = 40;
  far.confirm_word = 0xBEEF;
  EXPECT_EQ(FindMemoryPattern(window, far.Parsed()), std::nullopt);
  testing::PutBytes(window, 240, {0xEF, 0xBE});
  EXPECT_EQ(FindMemoryPattern(window, far.Parsed()), 200u);
  far.confirm_word = 0xEFBE;  // the word is little-endian
  EXPECT_EQ(FindMemoryPattern(window, far.Parsed()), std::nullopt);
}

TEST(FindMemoryPattern, KeyBytesWithoutThePatternAreSkipped) {
  std::vector<uint8_t> window(500, kHook[0]);
  testing::PutBytes(window, 377, kHook);
  testing::PutBytes(window, 377 + 12, {0x00, 0x00});
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), 377u);
  std::vector<uint8_t> almost = kHook;
  almost[11] ^= 1;
  testing::PutBytes(window, 377, almost);
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), std::nullopt);
}

// The last byte any test reads must lie in the window: the hit one byte further is lost.
struct WindowEndCase {
  const char* what;
  uint8_t confirm_offset;
  size_t reach;  // bytes from the hit to the end of the furthest byte tested
};

class WindowEnd : public ::testing::TestWithParam<WindowEndCase> {};

TEST_P(WindowEnd, HitMustFitWhole) {
  const WindowEndCase& c = GetParam();
  PatternRecord record;
  record.confirm_offset = c.confirm_offset;
  std::vector<uint8_t> hit = kHook;
  hit.resize(std::max<size_t>(c.reach, 14), 0);
  record.confirm_word =
      static_cast<uint16_t>(hit[c.confirm_offset] | (hit[c.confirm_offset + 1] << 8));

  constexpr size_t kSize = 0xFFFF;
  std::vector<uint8_t> fits = Window(kSize);
  testing::PutBytes(fits, kSize - c.reach, hit);
  EXPECT_EQ(FindMemoryPattern(fits, record.Parsed()), kSize - c.reach) << c.what;

  // Exactly sized, so a read past the end would be caught by the sanitizers.
  std::vector<uint8_t> short_by_one = Window(kSize - 1);
  testing::PutBytes(short_by_one, kSize - 1 - (c.reach - 1),
                    std::vector<uint8_t>(hit.begin(), hit.begin() + c.reach - 1));
  EXPECT_EQ(FindMemoryPattern(short_by_one, record.Parsed()), std::nullopt) << c.what;
}

INSTANTIATE_TEST_SUITE_P(FindMemoryPattern, WindowEnd,
                         ::testing::Values(WindowEndCase{"cancel bytes past the end", 4, 14},
                                           WindowEndCase{"confirmation word past the end", 60, 62},
                                           WindowEndCase{"largest confirmation offset", 255, 257}));

TEST(FindMemoryPattern, WindowShorterThanAHitFindsNothing) {
  std::vector<uint8_t> window = kHook;
  EXPECT_EQ(FindMemoryPattern(window, PatternRecord{}.Parsed()), std::nullopt);
  EXPECT_EQ(FindMemoryPattern({}, PatternRecord{}.Parsed()), std::nullopt);
}

// --- Progress ---

// One step per record over the record count, none for the record that hits.
TEST_F(MemoryScanTest, ProgressStepsOncePerRecordSearchedInVain) {
  Scan(Signatures({PatternRecord{}, PatternRecord{}, PatternRecord{}}));
  EXPECT_THAT(progress_, ElementsAre(0, 6, 13, 20));
  progress_.clear();
  PutHook(Linear(0x0000, 0x10));
  PatternRecord other;
  other.pattern[0] = 0x90;
  Scan(Signatures({other, PatternRecord{}, other}));
  EXPECT_THAT(progress_, ElementsAre(0, 6));
}

TEST_F(MemoryScanTest, ProgressRangeIsTheFirstBlockAndWrapsPastIt) {
  // 204 records of 20 bytes fill a 4096-byte block; the 205th is in the next block.
  std::vector<PatternRecord> records(205);
  Scan(Signatures(records));
  ASSERT_EQ(progress_.size(), 206u);
  EXPECT_EQ(progress_[102], 10);  // half the range
  EXPECT_EQ(progress_[204], 20);
  EXPECT_EQ(progress_[205], 0);
  EXPECT_EQ(memory_.memory_reads().size(), 205 * kLowWindows.size());
}

// --- Memory the platform knows to be zeros ---

// Records that zeros can and cannot match, among many that they cannot: the scan that is told
// memory is zeros must end like the one that reads every window, without reading one.
class ZeroMemory : public MemoryScanTest {
 protected:
  struct Outcome {
    MemoryScanResult result;
    std::vector<std::string> texts;
    std::vector<int> progress;
  };

  Outcome ScanZeros(const DatabaseImage& signatures, bool tell) {
    memory_ = InMemorySystemAccess();
    memory_.PutMemory(Linear(0x3000, 0x20), std::vector<uint8_t>(64, 0));  // zeros put
    memory_.TellZeroMemory(tell);
    lines_.clear();
    progress_.clear();
    name_ = {};
    Outcome outcome{Scan(signatures), Texts(), progress_};
    return outcome;
  }

  static std::vector<PatternRecord> ManyRecords(size_t count, uint32_t seed) {
    std::vector<PatternRecord> records(count);
    for (size_t i = 0; i < count; ++i) {
      PatternRecord& record = records[i];
      seed = seed * 1103515245 + 12345;
      record.pattern[0] = static_cast<uint8_t>(1 + (seed >> 16) % 255);
      record.virus_id = static_cast<uint16_t>(100 + i);
      record.upper = static_cast<uint8_t>(i % 3 == 0);
      // Zeros everywhere but the confirmation word: zeros still do not match.
      if (i % 7 == 3) {
        record.pattern.assign(12, 0);
        record.confirm_word = 0x0100;
      }
      if (i % 11 == 5) record.virus_id = 0;  // stepped over unsearched
    }
    return records;
  }
};

TEST_F(ZeroMemory, ManyRecordsThatZerosCannotMatchGiveTheSameLinesAndProgress) {
  const DatabaseImage signatures = Signatures(ManyRecords(300, 1));
  const Outcome read = ScanZeros(signatures, false);
  EXPECT_EQ(memory_.memory_reads().size(), 11 * 200u + 16 * 100u - 11 * 18 - 16 * 9);
  const Outcome told = ScanZeros(signatures, true);
  EXPECT_TRUE(memory_.memory_reads().empty());
  EXPECT_EQ(memory_.zero_memory_queries(), 16);  // once per window, not per record
  EXPECT_EQ(told.result.virus_id, 0);
  EXPECT_EQ(told.texts, read.texts);
  EXPECT_EQ(told.progress, read.progress);
  EXPECT_EQ(told.progress.size(), 301u);
}

TEST_F(ZeroMemory, ARecordThatZerosMatchIsFoundWhereTheReadingScanFindsIt) {
  std::vector<PatternRecord> records = ManyRecords(120, 2);
  PatternRecord zeros;
  zeros.pattern.assign(12, 0);
  zeros.confirm_word = 0;
  zeros.confirm_offset = 200;  // a test that reaches past the pattern still fits a window
  zeros.virus_id = 4242;
  records.push_back(zeros);
  std::rotate(records.begin() + 77, records.end() - 1, records.end());  // the 78th record
  std::vector<std::vector<uint8_t>> names = {NameRecord(4242, "ZEROS")};
  const DatabaseImage signatures = Signatures(records, names);
  const Outcome read = ScanZeros(signatures, false);
  const Outcome told = ScanZeros(signatures, true);
  EXPECT_TRUE(memory_.memory_reads().empty());
  EXPECT_EQ(read.result.virus_id, 4242);
  EXPECT_EQ(told.result.virus_id, read.result.virus_id);
  EXPECT_EQ(told.result.name, "ZEROS");
  EXPECT_EQ(told.texts, read.texts);
  EXPECT_EQ(told.progress, read.progress);
}

TEST_F(ZeroMemory, WindowsThatHoldBytesAreStillRead) {
  PutHook(Linear(0x5000, 0x30));
  memory_.TellZeroMemory(true);
  EXPECT_EQ(Scan(Signatures({PatternRecord{}})).virus_id, 7);
  EXPECT_THAT(SegmentsRead(), ElementsAre(0x5000));
}

}  // namespace
}  // namespace quarn

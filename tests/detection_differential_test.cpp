// Two ways of making detection cheaper, each checked against the plain way over a corpus of
// samples and generated files: the read window that the scan wraps every file in, and the
// index over the signature sections. Both must leave every verdict, every variant flag and
// every read the detectors make (where it started, what it delivered) exactly as they were.
#include <gtest/gtest.h>

#include "dbtool/database_files.h"
#include "engine/com_detectors.h"
#include "engine/entry_locator.h"
#include "engine/macro_detector.h"
#include "engine/section_directory.h"
#include "engine/signature_detectors.h"
#include "engine/signature_index.h"
#include "platform/posix_folder.h"
#include "platform/read_cache_file.h"
#include "samplegen/sample_set.h"
#include "tests/crafted_database.h"
#include "tests/detection_corpus.h"

namespace quarn::corpus {
namespace {

constexpr uint32_t kCorpusSeed = 1995;
constexpr int kGeneratedFiles = 320;

// What one detector answered and left in the working state.
struct Probe {
  uint32_t result = 0;
  uint16_t flag = 7;  // a value no detector writes, so "left untouched" is seen too
  DetectorState state;
  std::vector<RecordingFile::ReadRecord> reads;
};

// Runs the one detector that walks `section` on its own, with the state its chain would
// have prepared: the chain hides most partial matches behind later detectors, this does not.
Probe ProbeDetector(const DatabaseImage& signatures, File& plain, int section) {
  RecordingFile file(plain);
  Probe probe;
  DetectorState& state = probe.state;
  const uint16_t directory = DirectoryOffset(section);
  uint16_t ignored = 0;
  uint32_t pe_offset = 0;
  uint64_t section_header = 0;
  switch (section) {
    case kExeEntrySection:
    case kExeCallSection:
    case kExeForwardSection:
    case kExeBackwardSection:
    case kExePatternSection:
      LocateEntryCode(file, state);
      break;
    case kPeEntrySection:
      LocatePeEntry(file, state, &pe_offset, &section_header);
      break;
    case kComCallSection:
    case kComForwardSection:
    case kComBackwardSection:
    case kComEndSection:
    case kComPatternSection:
      ScanComEntrySignatures(DatabaseImage(), file, &ignored, 0, state);
      break;
    default:
      break;
  }
  using DetectorFunction =
      uint32_t (*)(const DatabaseImage&, File&, uint16_t*, uint16_t, DetectorState&);
  DetectorFunction detector = nullptr;
  switch (section) {
    case kExeEntrySection:
      detector = ScanEntrySignatures;
      break;
    case kExeCallSection:
    case kComCallSection:
      detector = ScanCallSignatures;
      break;
    case kExeForwardSection:
    case kComForwardSection:
    case kPeEntrySection:
      detector = ScanForwardSignatures;
      break;
    case kExeBackwardSection:
    case kComBackwardSection:
      detector = ScanBackwardSignatures;
      break;
    case kExePatternSection:
    case kComPatternSection:
      detector = ScanPatternSignatures;
      break;
    case kComTailParagraphSection:
      detector = ScanTailParagraphSignatures;
      break;
    case kComTailSection:
      detector = ScanTailSignatures;
      break;
    case kComEntrySection:
      detector = ScanComEntrySignatures;
      break;
    case kComEndSection:
      detector = ScanFileEndSignatures;
      break;
    default:
      detector = DetectWordMacroVirus;
      break;
  }
  probe.result = detector(signatures, file, &probe.flag, directory, state);
  probe.reads = file.reads();
  return probe;
}

constexpr int kWalkedSections[] = {
    kExeEntrySection,    kExeCallSection,     kExeForwardSection,
    kExeBackwardSection, kExePatternSection,  kComTailParagraphSection,
    kComTailSection,     kComEntrySection,    kComCallSection,
    kComForwardSection,  kComBackwardSection, kComEndSection,
    kComPatternSection,  kMacroSection,       kPeEntrySection};

class DetectionDifferentialTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    corpus_ = new std::vector<CorpusFile>(BuildDetectionCorpus(kCorpusSeed, kGeneratedFiles));
    auto files = OpenPosixFileSystem();
    auto pair = ReadDatabasePair(*files, QUARN_DATA_DIR);
    ASSERT_TRUE(pair.ok()) << pair.message();
    shipped_ = new DatabaseImage(pair->signatures);
  }
  static void TearDownTestSuite() {
    delete corpus_;
    delete shipped_;
  }

  static DatabaseImage Indexed(const DatabaseImage& image) {
    DatabaseImage indexed(image.bytes());
    IndexSignatures(indexed);
    return indexed;
  }

  // Whether the index searches both pattern sections through their tries; false when it
  // walks them record by record. Either way must match the plain walk.
  static bool PatternsInTries(const DatabaseImage& indexed) {
    bool in_tries = true;
    for (int section : {kExePatternSection, kComPatternSection}) {
      const RecordIndex* index =
          FindSectionIndex(indexed, DirectoryOffset(section), RecordTest::kPattern);
      EXPECT_NE(index, nullptr) << section;
      in_tries = in_tries && index != nullptr && index->pattern_tries != nullptr;
    }
    return in_tries;
  }

  // Detection over every file of `files` with `first` and with `second` signatures, the
  // second through the read window when `windowed`; returns how many files had a virus and
  // how many of those a variant.
  static std::pair<int, int> ExpectSameDetection(const std::vector<CorpusFile>& files,
                                                 const DatabaseImage& first,
                                                 const DatabaseImage& second, bool windowed) {
    CorpusFiles opened(files);
    int viruses = 0;
    int variants = 0;
    for (const CorpusFile& file : files) {
      SCOPED_TRACE(file.name + " (" + std::to_string(file.bytes.size()) + " bytes)");
      auto plain = opened.Open(file);
      auto underlying = opened.Open(file);
      ReadCacheFile window(*underlying);
      const DetectionTrace want = TraceDetection(first, *plain);
      const DetectionTrace got =
          windowed ? TraceDetection(second, window) : TraceDetection(second, *underlying);
      EXPECT_EQ(got.verdict.virus, want.verdict.virus);
      EXPECT_EQ(got.verdict.variant, want.verdict.variant);
      EXPECT_EQ(got.verdict.suspicious, want.verdict.suspicious);
      EXPECT_EQ(got.verdict.executable, want.verdict.executable);
      EXPECT_EQ(got.reads.size(), want.reads.size());
      EXPECT_TRUE(got.reads == want.reads);
      if (windowed) {
        // Every read above costs at most one read of the file; most cost none.
        EXPECT_LE(window.underlying_reads(), static_cast<int>(want.reads.size()));
      }
      viruses += want.verdict.virus != 0;
      variants += want.verdict.virus != 0 && want.verdict.variant != 0;
    }
    return {viruses, variants};
  }

  // What ExpectSameDetectors compared besides misses.
  struct DetectorHits {
    int partial = 0;   // partial matches
    int patterns = 0;  // matches of the pattern sections' detector
  };

  // Every walking detector alone over every file of `files`, linear and indexed: the same
  // answer, flag, state and reads.
  static DetectorHits ExpectSameDetectors(const std::vector<CorpusFile>& files,
                                          const DatabaseImage& linear,
                                          const DatabaseImage& indexed) {
    CorpusFiles opened(files);
    DetectorHits hits;
    for (const CorpusFile& file : files) {
      for (int section : kWalkedSections) {
        SCOPED_TRACE(file.name + " section " + std::to_string(section));
        auto first = opened.Open(file);
        auto second = opened.Open(file);
        const Probe want = ProbeDetector(linear, *first, section);
        const Probe got = ProbeDetector(indexed, *second, section);
        EXPECT_EQ(got.result, want.result);
        EXPECT_EQ(got.flag, want.flag);
        EXPECT_EQ(got.state.entry_position, want.state.entry_position);
        EXPECT_TRUE(got.state.entry_code_buffer == want.state.entry_code_buffer);
        EXPECT_TRUE(got.state.header_buffer == want.state.header_buffer);
        EXPECT_TRUE(got.reads == want.reads);
        hits.partial += want.result != 0 && want.flag == 1;
        hits.patterns +=
            want.result != 0 && (section == kExePatternSection || section == kComPatternSection);
      }
    }
    return hits;
  }

  static std::vector<CorpusFile>* corpus_;
  static DatabaseImage* shipped_;
};

std::vector<CorpusFile>* DetectionDifferentialTest::corpus_ = nullptr;
DatabaseImage* DetectionDifferentialTest::shipped_ = nullptr;

// A sample whose match a later detector of the chain replaces is found by its own detector
// alone, with the variant flag it promises.
TEST_F(DetectionDifferentialTest, ReplacedPartialMatchesAreFoundByTheirOwnDetector) {
  CorpusFiles opened(*corpus_);
  int probes = 0;
  for (const samples::Sample& sample : samples::BuildSampleSet()) {
    if (!sample.probe) continue;
    SCOPED_TRACE(sample.name);
    ++probes;
    auto file = opened.Open({sample.name, sample.bytes});
    const Probe probe = ProbeDetector(*shipped_, *file, sample.probe->section);
    EXPECT_EQ(probe.result, sample.probe->virus);
    EXPECT_EQ(probe.flag, sample.probe->variant);
  }
  EXPECT_GE(probes, 11);
}

TEST_F(DetectionDifferentialTest, ReadWindowChangesNoVerdictAndNoRead) {
  const auto [viruses, variants] = ExpectSameDetection(*corpus_, *shipped_, *shipped_, true);
  EXPECT_GT(viruses, 20);  // the samples are found through the window too

  const DatabaseImage crafted = BuildCraftedDatabase(*corpus_, 100, 7, *shipped_);
  ExpectSameDetection(*corpus_, crafted, crafted, true);
}

TEST_F(DetectionDifferentialTest, IndexChangesNoVerdictAndNoReadAgainstTheShippedDatabase) {
  ExpectSameDetection(*corpus_, *shipped_, Indexed(*shipped_), false);
}

TEST_F(DetectionDifferentialTest, IndexChangesNoVerdictAndNoReadWithAHundredRecordsASection) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    const DatabaseImage crafted = BuildCraftedDatabase(*corpus_, 100, seed, *shipped_);
    const DatabaseImage indexed = Indexed(crafted);
    // Small sections keep the record-by-record search: it is proven here.
    EXPECT_FALSE(PatternsInTries(indexed));
    const int viruses = ExpectSameDetection(*corpus_, crafted, indexed, false).first;
    // The records were made to hit: the comparison covers matches, not only misses.
    EXPECT_GT(viruses, static_cast<int>(corpus_->size()) / 4);
    const DetectorHits hits = ExpectSameDetectors(*corpus_, crafted, indexed);
    EXPECT_GT(hits.partial, 50);
    EXPECT_GT(hits.patterns, 50);
  }
}

// The suite compares a part of the corpus (samples first, then generated files of every
// kind) against 10,000 records a section, since the linear walk is the slow side there.
// bench/ builds this file again with QUARN_DIFFERENTIAL_FULL: every file against 65,535
// records a section, the most a section's count can say.
#ifdef QUARN_DIFFERENTIAL_FULL
constexpr uint16_t kLargeSectionRecords = 65535;
constexpr size_t kLargeSectionFiles = SIZE_MAX;
#else
constexpr uint16_t kLargeSectionRecords = 10000;
constexpr size_t kLargeSectionFiles = 90;
#endif

TEST_F(DetectionDifferentialTest, IndexChangesNoVerdictAndNoReadWithALargeSection) {
  const std::vector<CorpusFile> part(
      corpus_->begin(), corpus_->begin() + std::min(corpus_->size(), kLargeSectionFiles));
  const DatabaseImage crafted = BuildCraftedDatabase(*corpus_, kLargeSectionRecords, 4, *shipped_);
  const DatabaseImage indexed = Indexed(crafted);
  // Large sections are searched through the tries: they are proven here.
  EXPECT_TRUE(PatternsInTries(indexed));
  const int viruses = ExpectSameDetection(part, crafted, indexed, false).first;
  EXPECT_GT(viruses, static_cast<int>(part.size()) / 2);
  const DetectorHits hits = ExpectSameDetectors(part, crafted, indexed);
  EXPECT_GT(hits.partial, 50);
  EXPECT_GT(hits.patterns, 20);

  // Every pattern record now asks for a confirmation that reads the file and mostly fails,
  // so the walk goes on through a file's matches and each shows as a read: a record matched
  // or missed anywhere in the section's order is seen, not only the first that matches.
  const DatabaseImage confirmed =
      BuildCraftedDatabase(*corpus_, kLargeSectionRecords, 5, *shipped_, true);
  const DatabaseImage confirmed_indexed = Indexed(confirmed);
  const DetectorHits confirmed_hits = ExpectSameDetectors(part, confirmed, confirmed_indexed);
  EXPECT_GT(confirmed_hits.patterns, 0);
}

}  // namespace
}  // namespace quarn::corpus

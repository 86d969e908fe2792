// The generated samples against the database that ships: every sample gets the verdict its
// manifest promises, and every signature section of the database is hit by some sample.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "dbtool/database_files.h"
#include "engine/byte_reader.h"
#include "engine/com_detectors.h"
#include "engine/entry_locator.h"
#include "engine/file_verdict.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "engine/signature_detectors.h"
#include "platform/memory_file_system.h"
#include "platform/posix_folder.h"
#include "samplegen/sample_set.h"

namespace quarn {
namespace {

using samples::Sample;

// Runs the one detector that reads `section`, with the working state its chain would have
// prepared by then.
uint32_t RunSectionDetector(const DatabaseImage& signatures, File& file, int section,
                            uint16_t* flag) {
  DetectorState state;
  const uint16_t directory = DirectoryOffset(section);
  switch (section) {
    case kExeEntrySection:
    case kExeCallSection:
    case kExeForwardSection:
    case kExeBackwardSection:
      LocateEntryCode(file, state);
      break;
    case kComCallSection:
    case kComForwardSection:
    case kComBackwardSection: {
      uint16_t ignored = 0;
      ScanComEntrySignatures(signatures, file, &ignored, DirectoryOffset(kComEntrySection), state);
      break;
    }
    default:
      break;
  }
  switch (section) {
    case kExeEntrySection:
      return ScanEntrySignatures(signatures, file, flag, directory, state);
    case kExeCallSection:
    case kComCallSection:
      return ScanCallSignatures(signatures, file, flag, directory, state);
    case kExeForwardSection:
    case kComForwardSection:
      return ScanForwardSignatures(signatures, file, flag, directory, state);
    case kExeBackwardSection:
    case kComBackwardSection:
      return ScanBackwardSignatures(signatures, file, flag, directory, state);
    case kComTailParagraphSection:
      return ScanTailParagraphSignatures(signatures, file, flag, directory, state);
    case kComTailSection:
      return ScanTailSignatures(signatures, file, flag, directory, state);
    case kComEntrySection:
      return ScanComEntrySignatures(signatures, file, flag, directory, state);
    case kComEndSection:
      return ScanFileEndSignatures(signatures, file, flag, directory, state);
    default:
      ADD_FAILURE() << "no probe for section " << section;
      return 0;
  }
}

// Where each walkable signature section keeps its records' VirusId.
const std::map<int, int> kIdFieldBySection = {
    {kExeEntrySection, 8},    {kExeCallSection, 2},     {kExeForwardSection, 2},
    {kExeBackwardSection, 2}, {kExePatternSection, 0},  {kComTailParagraphSection, 2},
    {kComTailSection, 2},     {kComEntrySection, 8},    {kComCallSection, 2},
    {kComForwardSection, 2},  {kComBackwardSection, 2}, {kComEndSection, 0},
    {kComPatternSection, 0},  {kMacroSection, 0},       {kPeEntrySection, 2},
};

class SampleVerdictsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto files = OpenPosixFileSystem();
    auto pair = ReadDatabasePair(*files, QUARN_DATA_DIR);
    ASSERT_TRUE(pair.ok()) << pair.message();
    signatures_ = DatabaseImage(pair->signatures);
  }

  std::unique_ptr<File> Open(const Sample& sample) {
    files_.Remove("/" + sample.name);
    files_.AddFile("/" + sample.name, sample.bytes);
    auto folder = files_.OpenFolder("/");
    return std::move((*folder)->OpenFile(sample.name, OpenMode::kRead).value());
  }

  DatabaseImage signatures_;
  MemoryFileSystem files_;
};

TEST_F(SampleVerdictsTest, EverySampleGetsItsPromisedVerdict) {
  for (const Sample& sample : samples::BuildSampleSet()) {
    SCOPED_TRACE(sample.name);
    auto file = Open(sample);
    FileVerdict verdict = DetectFile(signatures_, *file, true);
    EXPECT_EQ(verdict.virus, sample.expected.virus);
    EXPECT_EQ(verdict.variant, sample.expected.variant);
    EXPECT_EQ(verdict.suspicious != 0, sample.expected.suspicious);
    if (sample.expected.suspicious) {
      EXPECT_EQ(DetectFile(signatures_, *Open(sample), false).suspicious, 0u);
    }
  }
}

TEST_F(SampleVerdictsTest, ReplacedPartialMatchesAreFoundByTheirOwnDetector) {
  int probes = 0;
  for (const Sample& sample : samples::BuildSampleSet()) {
    if (!sample.probe) continue;
    SCOPED_TRACE(sample.name);
    ++probes;
    auto file = Open(sample);
    uint16_t flag = 9;
    EXPECT_EQ(RunSectionDetector(signatures_, *file, sample.probe->section, &flag),
              sample.probe->virus);
    EXPECT_EQ(flag, sample.probe->variant);
  }
  EXPECT_GE(probes, 11);
}

TEST_F(SampleVerdictsTest, EverySignatureSectionIsHitBySomeSample) {
  std::set<uint32_t> found;
  for (const Sample& sample : samples::BuildSampleSet()) {
    found.insert(sample.expected.virus);
    if (sample.probe) found.insert(sample.probe->virus);
  }
  for (const auto& [section, id_field] : kIdFieldBySection) {
    SCOPED_TRACE(section);
    bool hit = false;
    for (SectionWalk walk(signatures_, DirectoryOffset(section), ReaderRecordSize(section));
         !walk.AtEnd(); walk.Next()) {
      hit = hit || found.count(ReadU16(walk.Record(), id_field)) != 0;
    }
    EXPECT_TRUE(hit) << "no sample is found through section " << section;
  }
  for (uint32_t tracer_family : {332u, 333u, 334u, 335u, 368u, 727u, 728u, 729u, 90u, 220u}) {
    EXPECT_EQ(found.count(tracer_family), 1u) << tracer_family;
  }
}

}  // namespace
}  // namespace quarn

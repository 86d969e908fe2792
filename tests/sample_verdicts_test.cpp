// The generated samples against the database that ships: every sample gets the verdict its
// manifest promises, and every signature section of the database is hit by some sample; the
// files inside the sample disk images get theirs from quarnscan, under their exact names.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "dbtool/database_files.h"
#include "engine/file_verdict.h"
#include "engine/section_directory.h"
#include "engine/section_walk.h"
#include "platform/byte_reader.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "samplegen/image_samples.h"
#include "samplegen/sample_set.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using samples::Sample;

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

// Every sample gets its promised verdict, and every signature section of the database finds
// some sample.
TEST_F(SampleVerdictsTest, EverySampleGetsItsPromisedVerdictAndEverySectionFindsOne) {
  std::set<uint32_t> found;
  for (const Sample& sample : samples::BuildSampleSet()) {
    SCOPED_TRACE(sample.name);
    found.insert(sample.expected.virus);
    if (sample.probe) found.insert(sample.probe->virus);
    FileVerdict verdict = DetectFile(signatures_, *Open(sample), true);
    EXPECT_EQ(verdict.virus, sample.expected.virus);
    EXPECT_EQ(verdict.variant, sample.expected.variant);
    EXPECT_EQ(verdict.suspicious != 0, sample.expected.suspicious);
    if (sample.expected.suspicious) {
      EXPECT_EQ(DetectFile(signatures_, *Open(sample), false).suspicious, 0u);
    }
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

// The sample disk images and archives as a user meets them: in a folder a scan walks into,
// and the images mapped as disks whose volumes are drives.
class SampleImagesTest : public e2e::QuarnscanCli {
 protected:
  // Every file inside that quarnscan should report, as the fields of its event, by path: what
  // `prefix` gives for the image ("C:\DISKS\floppy-files.img!" in a walk, nothing when the
  // image is a drive), then the file's name.
  std::map<std::string, e2e::json> Expected(
      const std::function<std::string(const samples::ImageSample&)>& prefix,
      bool with_archives = false) const {
    std::map<std::string, e2e::json> expected;
    std::vector<samples::ImageSample> containers = images_;
    if (with_archives) containers.insert(containers.end(), archives_.begin(), archives_.end());
    for (const samples::ImageSample& image : containers) {
      for (const samples::ImageFile& file : image.files) {
        if (file.expected.virus == 0 && !file.expected.suspicious) continue;
        e2e::json layers = e2e::json::array();
        for (const samples::ImageLayer& layer : file.layers) {
          layers.push_back({{"kind", layer.kind}, {"name", layer.name}});
        }
        e2e::json fields = {{"host_path", HostPath(image.name)}, {"layers", layers}};
        if (file.expected.virus != 0) {
          fields["event"] = "detection";
          fields["virus_id"] = file.expected.virus;
          fields["variant"] = file.expected.variant != 0;
        } else {
          fields["event"] = "suspicious";
        }
        expected[prefix(image) + file.name] = fields;
      }
    }
    return expected;
  }

  // The same fields of what quarnscan reported.
  static std::map<std::string, e2e::json> Reported(const e2e::Outcome& outcome) {
    std::map<std::string, e2e::json> reported;
    for (const e2e::json& event : outcome.Events()) {
      const std::string kind = event.value("event", "");
      if (kind != "detection" && kind != "suspicious") continue;
      e2e::json fields = {{"event", kind},
                          {"host_path", event.value("host_path", "")},
                          {"layers", event.value("layers", e2e::json())}};
      if (kind == "detection") {
        fields["virus_id"] = event["virus_id"];
        fields["variant"] = event["variant"];
      }
      EXPECT_TRUE(reported.emplace(event.value("path", ""), fields).second)
          << "reported twice: " << event;
    }
    return reported;
  }

  std::string HostPath(const std::string& image) const { return tree_ + "/DISKS/" + image; }

  void SetUp() override {
    e2e::QuarnscanCli::SetUp();
    for (const auto* list : {&images_, &archives_}) {
      for (const samples::ImageSample& image : *list) {
        e2e::WriteFile(HostPath(image.name), e2e::Text(image.bytes));
      }
    }
  }

  const std::vector<samples::ImageSample> images_ =
      samples::BuildImageSamples(samples::BuildSampleSet());
  const std::vector<samples::ImageSample> archives_ =
      samples::BuildArchiveSamples(samples::BuildSampleSet());
};

TEST_F(SampleImagesTest, EveryFindInsideTheImagesIsReportedUnderItsExactName) {
  std::set<std::string> drives_with_finds;
  for (const auto& [name, fields] : Expected([](const samples::ImageSample&) { return ""; })) {
    drives_with_finds.insert(name.substr(0, 2));
  }
  ASSERT_EQ(drives_with_finds, (std::set<std::string>{"A:", "C:", "D:"}))
      << "the floppy and both partitions hold something to find";

  const e2e::Outcome walked = Scan({"--json", "C:\\DISKS"});
  EXPECT_EQ(walked.exit_code, 1) << walked.err;
  EXPECT_EQ(
      Reported(walked),
      Expected([](const samples::ImageSample& image) { return "C:\\DISKS\\" + image.name + "!"; },
               /*with_archives=*/true))
      << walked.out;

  const e2e::Outcome drives =
      ScanWithoutDrives({"--json", "--disk", "0=" + HostPath("floppy-files.img"), "--disk",
                         "0x80=" + HostPath("hard-disk-files.img"), "A:", "C:", "D:"});
  EXPECT_EQ(drives.exit_code, 1) << drives.err;
  EXPECT_EQ(Reported(drives), Expected([](const samples::ImageSample&) { return ""; }))
      << drives.out;
}

}  // namespace
}  // namespace quarn

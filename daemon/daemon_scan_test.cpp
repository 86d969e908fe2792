#include "daemon/daemon_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "containers/test_support/zip_writer.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/thread_file_identity.h"
#include "samplegen/sample_set.h"

namespace quarn {
namespace {

using ByteVector = std::vector<uint8_t>;

const DatabaseSet& Databases() {
  static const std::shared_ptr<const DatabaseSet> loaded = [] {
    auto result = LoadDatabaseSet(QUARN_DATA_DIR);
    EXPECT_TRUE(result.ok()) << result.message();
    return result ? *result : nullptr;
  }();
  return *loaded;
}

ByteVector SampleBytes(const std::string& name) {
  static const std::vector<samples::Sample> set = samples::BuildSampleSet();
  for (const samples::Sample& sample : set) {
    if (sample.name == name) return sample.bytes;
  }
  ADD_FAILURE() << "no sample " << name;
  return {};
}

void WriteFile(const std::string& path, const ByteVector& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Writes each sample at its path below `root` (path, sample name), making the folders on the way.
void PlantSamples(const std::string& root,
                  std::initializer_list<std::pair<std::string, std::string>> files) {
  for (const auto& [path, sample] : files) {
    std::filesystem::create_directories(std::filesystem::path(root + "/" + path).parent_path());
    WriteFile(root + "/" + path, SampleBytes(sample));
  }
}

std::vector<Finding> ScanTree(const std::string& folder, ScanMode mode) {
  return ScanFolderTree(Databases(), {}, std::move(*OpenPosixFileSystem()->OpenFolder(folder)),
                        folder, mode);
}

// The bytes as a file on disk and an opener of it, as a stream's spool or a passed
// descriptor gives the scan.
class LoneFile {
 public:
  explicit LoneFile(const ByteVector& bytes) {
    WriteFile(scratch_.Child("file"), bytes);
    folder_ = std::move(*OpenPosixFileSystem()->OpenFolder(scratch_.path()));
  }
  FileOpener Opener() {
    return [this]() -> std::unique_ptr<File> {
      auto file = folder_->OpenFile("file", OpenMode::kRead);
      return file ? std::move(*file) : nullptr;
    };
  }

 private:
  ScratchFolder scratch_;
  std::unique_ptr<Folder> folder_;
};

std::vector<Finding> ScanBytes(const ByteVector& bytes, ScanMode mode,
                               DaemonScanSettings settings = {}) {
  LoneFile file(bytes);
  return ScanLoneFile(Databases(), settings, file.Opener(), "stream", mode);
}

std::string EicarName() {
  const std::vector<Finding> findings =
      ScanBytes(SampleBytes("eicar.com"), ScanMode::kFirstFinding);
  return findings.empty() ? "" : findings[0].name;
}

// A database cut short, as an interrupted copy leaves it, is refused at start and on RELOAD:
// the sets in use stay rather than every scan answering OK.
TEST(DaemonScanTest, ADatabaseCutShortIsRefused) {
  for (const std::string cut : {"QUARN.DAT", "NAMEVIR.DAT"}) {
    SCOPED_TRACE(cut);
    ScratchFolder folder;
    for (const auto& entry : std::filesystem::directory_iterator(QUARN_DATA_DIR)) {
      std::filesystem::copy(entry.path(), folder.Child(entry.path().filename().string()));
    }
    const std::string path = folder.Child(cut);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
    EXPECT_FALSE(LoadDatabaseSet(folder.path()).ok());
  }
}

TEST(DaemonScanTest, NamesWhatALoneFileHoldsAsTheDetectorsTellIt) {
  EXPECT_NE(EicarName(), "");
  EXPECT_EQ(ScanBytes(SampleBytes("clean.com"), ScanMode::kFirstFinding), std::vector<Finding>());
  EXPECT_EQ(ScanBytes(SampleBytes("exe_heuristic.exe"), ScanMode::kFirstFinding),
            (std::vector<Finding>{{"stream", "Heuristics.NewGeneration"}}));
  const std::vector<Finding> variant =
      ScanBytes(SampleBytes("pe_entry_variant.exe"), ScanMode::kFirstFinding);
  ASSERT_EQ(variant.size(), 1u);
  EXPECT_EQ(variant[0].name.rfind("Variant.", 0), 0u) << variant[0].name;
}

TEST(DaemonScanTest, ContainerFindingsCarryTheNamedPathOnceOrPerHit) {
  const ByteVector zip = testing::ZipWriter()
                             .Add("A/EICAR.COM", SampleBytes("eicar.com"))
                             .Add("CLEAN.COM", SampleBytes("clean.com"))
                             .Add("B/HEUR.EXE", SampleBytes("exe_heuristic.exe"))
                             .Build();
  const Finding eicar{"stream", EicarName()};
  EXPECT_EQ(ScanBytes(zip, ScanMode::kFirstFinding), std::vector<Finding>{eicar});
  EXPECT_EQ(ScanBytes(zip, ScanMode::kEveryFile), std::vector<Finding>{eicar});
  EXPECT_EQ(ScanBytes(zip, ScanMode::kEveryHit),
            (std::vector<Finding>{eicar, {"stream", "Heuristics.NewGeneration"}}));
}

TEST(DaemonScanTest, LimitHitsAreFindingsOnlyWhenAsked) {
  ByteVector nested = SampleBytes("clean.com");
  for (int depth = 0; depth < 3; ++depth)
    nested = testing::ZipWriter().Add("IN.ZIP", nested).Build();
  DaemonScanSettings settings;
  settings.limits.max_depth = 1;
  EXPECT_EQ(ScanBytes(nested, ScanMode::kEveryHit, settings), std::vector<Finding>());
  settings.alert_exceeds_max = true;
  EXPECT_EQ(ScanBytes(nested, ScanMode::kEveryHit, settings),
            (std::vector<Finding>{{"stream", "Heuristics.Limits.Exceeded.MaxRecursion"}}));

  settings = {};
  EXPECT_EQ(IncompleteFindingName("encrypted", settings), std::nullopt);
  EXPECT_EQ(IncompleteFindingName("damaged", settings), std::nullopt);
  settings.alert_encrypted = true;
  settings.alert_exceeds_max = true;
  EXPECT_EQ(IncompleteFindingName("encrypted", settings), "Heuristics.Encrypted");
  EXPECT_EQ(IncompleteFindingName("entries", settings), "Heuristics.Limits.Exceeded.MaxFiles");
  EXPECT_EQ(IncompleteFindingName("unsupported", settings), std::nullopt);
}

TEST(DaemonScanTest, FolderTreeNamesEachInfectedFileByItsPath) {
  ScratchFolder scratch;
  PlantSamples(scratch.path(), {{"a/eicar.com", "eicar.com"},
                                {"b/heur.exe", "exe_heuristic.exe"},
                                {"clean.com", "clean.com"}});
  auto scan = [&](ScanMode mode) { return ScanTree(scratch.path(), mode); };
  const std::vector<Finding> every = scan(ScanMode::kEveryFile);
  EXPECT_EQ(every,
            (std::vector<Finding>{{scratch.Child("a/eicar.com"), EicarName()},
                                  {scratch.Child("b/heur.exe"), "Heuristics.NewGeneration"}}));
  EXPECT_EQ(scan(ScanMode::kFirstFinding), std::vector<Finding>{every[0]});
  EXPECT_EQ(scan(ScanMode::kEveryHit), std::vector<Finding>{every[0]});
}

TEST(DaemonScanTest, EntriesLeftUnjudgedAreErrorsOfTheirOwnAndTheWalkGoesOn) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to read the tree as another user";
  ScratchFolder scratch;
  const std::string folder = scratch.Child("d");
  PlantSamples(folder, {{"a.com", "clean.com"},
                        {"b.com", "clean.com"},
                        {"eicar.com", "eicar.com"},
                        {"locked/x.com", "clean.com"}});
  ASSERT_EQ(chmod((folder + "/a.com").c_str(), 0), 0);
  ASSERT_EQ(chmod((folder + "/locked").c_str(), 0700), 0);
  ASSERT_EQ(chmod(scratch.path().c_str(), 0755), 0);
  // Known before the identity changes: the sample's scratch folder is root's to make.
  const std::string eicar = EicarName();
  auto identity = ThreadFileIdentity::Assume({0, 65534, 65534, {}});
  ASSERT_TRUE(identity.ok()) << identity.message();
  const std::vector<Finding> found = ScanTree(folder, ScanMode::kEveryFile);
  EXPECT_EQ(found.size(), 3u);
  for (const Finding& expected : {Finding{folder + "/a.com", "Access denied", true},
                                  Finding{folder + "/locked", "Access denied", true},
                                  Finding{folder + "/eicar.com", eicar}}) {
    EXPECT_NE(std::find(found.begin(), found.end(), expected), found.end()) << expected.path;
  }
}

}  // namespace
}  // namespace quarn

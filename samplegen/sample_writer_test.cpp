#include "samplegen/sample_writer.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/memory_file_system.h"
#include "samplegen/sample_set.h"

namespace quarn::samples {
namespace {

TEST(SampleSet, NamesAreUniqueAndCarryAScannedExtension) {
  std::set<std::string> names;
  for (const Sample& sample : BuildSampleSet()) {
    EXPECT_TRUE(names.insert(sample.name).second) << sample.name;
    const std::string extension = sample.name.substr(sample.name.find('.') + 1);
    // The scan's extension filter must let every program and document through.
    if (sample.name != "readme.txt") {
      EXPECT_TRUE(extension == "exe" || extension == "com" || extension == "doc") << sample.name;
    }
    // Only files that start "MZ" go through the executable chain.
    const bool starts_mz =
        sample.bytes.size() >= 2 && sample.bytes[0] == 'M' && sample.bytes[1] == 'Z';
    EXPECT_EQ(starts_mz, extension == "exe") << sample.name;
  }
}

TEST(SampleWriter, WritesEverySampleAndAManifest) {
  MemoryFileSystem files;
  files.AddFolder("/out");
  auto folder = files.OpenFolder("/out");
  const std::vector<Sample> samples = BuildSampleSet();
  ASSERT_TRUE(WriteSampleSet(**folder, samples).ok());
  for (const Sample& sample : samples) {
    EXPECT_EQ(files.ReadFileBytes("/out/" + sample.name), sample.bytes) << sample.name;
  }
  const std::string manifest = files.ReadFileText("/out/MANIFEST.txt").value_or("");
  EXPECT_NE(manifest.find("eicar.com\tinfected by 1\t"), std::string::npos);
  EXPECT_NE(manifest.find("macro_variant.doc\tvariant of 919\t"), std::string::npos);
  EXPECT_NE(manifest.find("com_heuristic.com\tsuspicious\t"), std::string::npos);
  EXPECT_NE(manifest.find("com_end_variant.com\tclean (section 12: variant of 917)\t"),
            std::string::npos);
}

TEST(SampleWriter, StopsAtTheFirstFailureAndNamesTheFile) {
  MemoryFileSystem files;
  files.AddFolder("/out");
  auto folder = files.OpenFolder("/out");
  files.FailCall(FileOperation::kWrite, 3);
  const std::vector<Sample> samples = BuildSampleSet();
  Status written = WriteSampleSet(**folder, samples);
  ASSERT_FALSE(written.ok());
  EXPECT_NE(written.message().find(samples[2].name), std::string::npos) << written.message();
  EXPECT_FALSE(files.Exists("/out/MANIFEST.txt"));
  EXPECT_FALSE(files.Exists("/out/" + samples.back().name));
}

}  // namespace
}  // namespace quarn::samples

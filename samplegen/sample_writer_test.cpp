#include "samplegen/sample_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>

#include "platform/test_support/memory_file_system.h"
#include "samplegen/image_samples.h"
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

TEST(ImageSamples, NeedEverySampleTheyCopy) {
  std::vector<Sample> set = BuildSampleSet();
  std::erase_if(set, [](const Sample& sample) { return sample.name == "com_tail.com"; });
  EXPECT_THROW(BuildImageSamples(set), std::out_of_range);
}

// A folder /out of a memory file system for a writer to write into, and what it wrote.
struct OutFolder {
  OutFolder() { files.AddFolder("/out"); }

  Status Write(const std::function<Status(Folder&)>& write) {
    auto folder = files.OpenFolder("/out");
    return folder ? write(**folder) : folder.status();
  }
  std::string Manifest() const { return files.ReadFileText("/out/MANIFEST.txt").value_or(""); }
  bool Lists(const std::string& line) const {
    return Manifest().find("\n" + line) != std::string::npos;
  }

  MemoryFileSystem files;
};

class SampleWriterTest : public ::testing::Test {
 protected:
  const std::vector<Sample> samples_ = BuildSampleSet();
  const std::vector<ImageSample> images_ = BuildImageSamples(samples_);
  OutFolder out_;
};

TEST_F(SampleWriterTest, WritesEverySampleAndAManifest) {
  ASSERT_TRUE(out_.Write([&](Folder& out) { return WriteSampleSet(out, samples_); }).ok());
  for (const Sample& sample : samples_) {
    EXPECT_EQ(out_.files.ReadFileBytes("/out/" + sample.name), sample.bytes) << sample.name;
  }
  EXPECT_TRUE(out_.Lists("eicar.com\tinfected by 1\t")) << out_.Manifest();
  EXPECT_TRUE(out_.Lists("macro_variant.doc\tvariant of 919\t"));
  EXPECT_TRUE(out_.Lists("com_heuristic.com\tsuspicious\t"));
  EXPECT_TRUE(out_.Lists("com_end_variant.com\tclean (section 12: variant of 917)\t"));
}

TEST_F(SampleWriterTest, WritesEveryImageAndAManifestOfTheFilesInside) {
  ASSERT_TRUE(out_.Write([&](Folder& out) { return WriteImageSamples(out, images_); }).ok());
  for (const ImageSample& image : images_) {
    EXPECT_EQ(out_.files.ReadFileBytes("/out/" + image.name), image.bytes) << image.name;
  }
  EXPECT_TRUE(out_.Lists("floppy-files.img\tdisk image\t")) << out_.Manifest();
  EXPECT_TRUE(
      out_.Lists("floppy-files.img!A:\\GAMES\\Space Invaders.exe\tinfected by 900\t"
                 "a copy of exe_entry.exe\n"));
  EXPECT_TRUE(out_.Lists("hard-disk-files.img!C:\\COMMAND.COM\tclean\ta copy of clean.com\n"));
  EXPECT_TRUE(out_.Lists("hard-disk-files.img!D:\\TOOLS\\SETUP.EXE\tsuspicious\t"));
}

TEST_F(SampleWriterTest, StopsAtTheFirstFailureAndNamesTheFile) {
  struct Case {
    std::string what;
    std::function<Status(Folder&)> write;
    int failing_write;
    std::string failing_name;
    std::string last_name;
  } cases[] = {
      {"samples", [&](Folder& out) { return WriteSampleSet(out, samples_); }, 3, samples_[2].name,
       samples_.back().name},
      {"images", [&](Folder& out) { return WriteImageSamples(out, images_); }, 2, images_[1].name,
       images_.back().name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OutFolder out;
    out.files.FailCall(FileOperation::kWrite, c.failing_write);
    Status written = out.Write(c.write);
    ASSERT_FALSE(written.ok());
    EXPECT_NE(written.message().find(c.failing_name), std::string::npos) << written.message();
    EXPECT_FALSE(out.files.Exists("/out/MANIFEST.txt"));
    EXPECT_FALSE(out.files.Exists("/out/" + c.last_name));
  }
}

}  // namespace
}  // namespace quarn::samples

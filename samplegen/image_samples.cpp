#include "samplegen/image_samples.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/file_contents.h"
#include "samplegen/sample_writer.h"
#include "containers/test_support/arj_writer.h"
#include "containers/test_support/fat_image_writer.h"

namespace quarn::samples {
namespace {

// The partition types DOS gave volumes under 32 MiB.
constexpr uint8_t kFat12Partition = 0x01;
constexpr uint8_t kSmallFat16Partition = 0x04;
// FAT16 needs 4085 clusters; with one sector a cluster this is little more than that, and
// the logical drive is small enough to stay FAT12, so the disk keeps to about 3 MiB.
constexpr uint32_t kPrimarySectors = 4400;
constexpr uint32_t kLogicalSectors = 2048;

const Sample& Find(const std::vector<Sample>& set, const std::string& name) {
  const auto found =
      std::find_if(set.begin(), set.end(), [&](const Sample& s) { return s.name == name; });
  if (found == set.end()) throw std::out_of_range("no sample named " + name);
  return *found;
}

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// One FAT volume being filled with copies of samples, which keeps, for each file, the name
// and layers a scan will give it.
class VolumeFiller {
 public:
  VolumeFiller(const std::vector<Sample>& set, testing::FatLayout layout, std::string drive,
               std::vector<ImageLayer> outer_layers)
      : set_(set),
        writer_(layout),
        kind_("fat" + std::to_string(layout.fat_bits)),
        drive_(std::move(drive)),
        outer_layers_(std::move(outer_layers)) {}

  VolumeFiller& Label(const std::string& label) {
    writer_.Label(label);
    return *this;
  }

  // `path` has "/" between folders, as FatImageWriter takes it.
  VolumeFiller& Put(const std::string& path, const std::string& sample_name) {
    const Sample& sample = Find(set_, sample_name);
    writer_.AddFile(path, sample.bytes);
    std::vector<ImageLayer> layers = outer_layers_;
    layers.push_back({kind_, Backslashed(path)});
    files_.push_back(
        {drive_ + "\\" + Backslashed(path), std::move(layers), sample.name, sample.expected});
    return *this;
  }

  std::vector<uint8_t> Build() { return writer_.Build(); }
  const std::vector<ImageFile>& files() const { return files_; }

 private:
  const std::vector<Sample>& set_;
  testing::FatImageWriter writer_;
  std::string kind_;
  std::string drive_;
  std::vector<ImageLayer> outer_layers_;
  std::vector<ImageFile> files_;
};

ImageSample FloppyWithFiles(const std::vector<Sample>& set) {
  VolumeFiller floppy(set, testing::FloppyLayout(1440), "A:", {});
  floppy.Label("SAMPLES")
      .Put("EICAR.COM", "eicar.com")
      .Put("README.TXT", "readme.txt")
      .Put("GAMES/Space Invaders.exe", "exe_entry.exe")
      .Put("GAMES/LAUNCH.COM", "clean.com")
      .Put("UTILS/Tiny editor.com", "com_entry.com");
  return {"floppy-files.img",
          "1.44 MB floppy: samples in the root, in folders and under long names", floppy.Build(),
          floppy.files()};
}

// The primary partition is the table's slot 1 and drive C:, the logical drive the first of
// the extended partition's chain, number 5 and drive D:.
ImageSample HardDiskWithFiles(const std::vector<Sample>& set) {
  VolumeFiller primary(set, testing::HardDiskLayout(16, kPrimarySectors, 1), "C:", {{"mbr", "1"}});
  primary.Label("SYSTEM")
      .Put("COMMAND.COM", "clean.com")
      .Put("DOS/FORMAT.COM", "com_tail.com")
      .Put("WINDOWS/Program Manager.exe", "pe_entry.exe");
  VolumeFiller logical(set, testing::HardDiskLayout(12, kLogicalSectors, 1), "D:", {{"mbr", "5"}});
  logical.Label("DATA")
      .Put("GAMES/Invaders Deluxe/INVADERS.EXE", "exe_call.exe")
      .Put("DOCS/Quarterly report.doc", "macro.doc")
      .Put("DOCS/NOTES.TXT", "readme.txt")
      .Put("TOOLS/SETUP.EXE", "exe_heuristic.exe");
  ImageSample disk{"hard-disk-files.img",
                   "hard disk: a FAT16 primary partition (C:) and a FAT12 logical drive (D:) "
                   "holding samples",
                   testing::PartitionedImageBuilder()
                       .Primary(kSmallFat16Partition, primary.Build())
                       .Logical(kFat12Partition, logical.Build())
                       .Build(),
                   primary.files()};
  disk.files.insert(disk.files.end(), logical.files().begin(), logical.files().end());
  return disk;
}

ImageSample ArjWithFiles(const std::vector<Sample>& set) {
  testing::ArjWriter writer;
  std::vector<ImageFile> files;
  for (const auto& [path, sample_name] :
       std::vector<std::pair<std::string, std::string>>{{"EICAR.COM", "eicar.com"},
                                                        {"GAMES/INVADERS.EXE", "exe_entry.exe"},
                                                        {"README.TXT", "readme.txt"}}) {
    const Sample& sample = Find(set, sample_name);
    writer.Add(path, sample.bytes);
    files.push_back(
        {Backslashed(path), {{"arj", Backslashed(path)}}, sample.name, sample.expected});
  }
  return {"bbs-upload.arj", "ARJ archive: samples stored in the root and in a folder",
          writer.Build(), files, "archive"};
}

}  // namespace

std::vector<ImageSample> BuildArchiveSamples(const std::vector<Sample>& set) {
  return {ArjWithFiles(set)};
}

std::vector<ImageSample> BuildImageSamples(const std::vector<Sample>& set) {
  return {FloppyWithFiles(set), HardDiskWithFiles(set)};
}

std::string FormatImageManifest(const std::vector<ImageSample>& images) {
  std::string text =
      "# Disk images and archives holding samples as files: each of them, then each file inside\n"
      "# it as a scan names it after the container's own name, its verdict (VirusId) and the\n"
      "# sample it copies.\n";
  for (const ImageSample& image : images) {
    text += image.name + "\t" + image.what + "\t" + image.description + "\n";
    for (const ImageFile& file : image.files) {
      text += image.name + "!" + file.name + "\t" + DescribeVerdict(file.expected) +
              "\ta copy of " + file.sample + "\n";
    }
  }
  return text;
}

Status WriteImageSamples(Folder& folder, const std::vector<ImageSample>& images) {
  for (const ImageSample& image : images) {
    if (Status written = WriteFileAtomically(folder, image.name, image.bytes); !written) {
      return written;
    }
  }
  const std::string manifest = FormatImageManifest(images);
  return WriteFileAtomically(folder, kManifestName,
                             std::vector<uint8_t>(manifest.begin(), manifest.end()));
}

}  // namespace quarn::samples

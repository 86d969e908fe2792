#pragma once

#include <string>
#include <vector>

#include "platform/folder.h"
#include "platform/status.h"
#include "samplegen/sample_set.h"

// Disk images whose volumes hold copies of the samples as files, in folders and under long
// names: a floppy, and a hard disk with a primary and a logical FAT drive. A scan that walks
// into them names each file after the image ("…\floppy-files.img!A:\EICAR.COM"); quarnscan
// --disk maps them as drives. Unlike the images of kSystemAreaFolder, their boot areas are
// clean and their FATs hold files.
namespace quarn::samples {

inline constexpr char kImageFolder[] = "images";

// One step of the way into an image, as quarnscan's JSON events give it in "layers".
struct ImageLayer {
  std::string kind;  // "mbr", "fat12", "fat16"
  std::string name;  // the partition's number for "mbr", the path inside for a volume
};

// A file inside an image and the sample whose bytes it holds.
struct ImageFile {
  // What follows the image's own name and "!": the drive and the path, "C:\DOS\FORMAT.COM".
  // It is also the file's name when the image is mapped as a drive.
  std::string name;
  std::vector<ImageLayer> layers;
  std::string sample;
  ExpectedVerdict expected;
};

struct ImageSample {
  std::string name;
  std::string description;
  std::vector<uint8_t> bytes;
  std::vector<ImageFile> files;     // every file inside, in the order written
  std::string what = "disk image";  // for the manifest
};

// Builds the images from copies of `set`'s samples; throws std::out_of_range when the set
// lacks one of them.
std::vector<ImageSample> BuildImageSamples(const std::vector<Sample>& set);

// Archives holding copies of `set`'s samples, written beside the images: an ARJ archive of
// stored files as a BBS upload held them ("…\bbs-upload.arj!GAMES\INVADERS.EXE").
std::vector<ImageSample> BuildArchiveSamples(const std::vector<Sample>& set);

// One line per image, then one per file inside it ("IMAGE!NAME", the verdict, the sample).
std::string FormatImageManifest(const std::vector<ImageSample>& images);

// Writes every image and the manifest into `folder`, each file replaced whole.
Status WriteImageSamples(Folder& folder, const std::vector<ImageSample>& images);

}  // namespace quarn::samples

// quarnsamples: writes the harmless test samples that the default database's test families
// and the heuristics recognise, with a manifest of what the scanner should say about each.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <string>

#include "platform/posix_folder.h"
#include "samplegen/image_samples.h"
#include "samplegen/sample_set.h"
#include "samplegen/sample_writer.h"
#include "samplegen/system_area_samples.h"

namespace {

// Creates the folder at `path` when missing and hands it to `write`; false, with the
// message on standard error, on any failure.
bool WriteInto(quarn::FileSystem& files, const std::string& path,
               const std::function<quarn::Status(quarn::Folder&)>& write) {
  quarn::Status status = files.CreateFolders(path);
  if (status) {
    auto folder = files.OpenFolder(path);
    status = folder ? write(**folder) : quarn::Status(folder.status());
  }
  if (!status) std::fprintf(stderr, "quarnsamples: %s\n", status.message().c_str());
  return status.ok();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes the scanner's test samples and their manifest into a folder.",
               "quarnsamples"};
  std::string output;
  app.add_option("folder", output, "Folder to write into (created when missing)")->required();
  CLI11_PARSE(app, argc, argv);

  auto files = quarn::OpenPosixFileSystem();
  const auto samples = quarn::samples::BuildSampleSet();
  const auto system_areas = quarn::samples::BuildSystemAreaSamples();
  auto images = quarn::samples::BuildImageSamples(samples);
  const auto archives = quarn::samples::BuildArchiveSamples(samples);
  images.insert(images.end(), archives.begin(), archives.end());
  const bool written =
      WriteInto(
          *files, output,
          [&](quarn::Folder& folder) { return quarn::samples::WriteSampleSet(folder, samples); }) &&
      WriteInto(*files, output + "/" + quarn::samples::kSystemAreaFolder,
                [&](quarn::Folder& folder) {
                  return quarn::samples::WriteSystemAreaSamples(folder, system_areas);
                }) &&
      WriteInto(*files, output + "/" + quarn::samples::kImageFolder, [&](quarn::Folder& folder) {
        return quarn::samples::WriteImageSamples(folder, images);
      });
  if (!written) return 2;
  std::printf(
      "quarnsamples: %zu samples, %zu disk and memory images and %zu images and archives holding "
      "samples "
      "written to %s\n",
      samples.size(), system_areas.size(), images.size(), output.c_str());
  return 0;
}

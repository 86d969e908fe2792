// quarnsamples: writes the harmless test samples that the default database's test families
// and the heuristics recognise, with a manifest of what the scanner should say about each.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "platform/posix_folder.h"
#include "samplegen/sample_set.h"
#include "samplegen/sample_writer.h"
#include "samplegen/system_area_samples.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes the scanner's test samples and their manifest into a folder.",
               "quarnsamples"};
  std::string output;
  app.add_option("folder", output, "Folder to write into (created when missing)")->required();
  CLI11_PARSE(app, argc, argv);

  auto files = quarn::OpenPosixFileSystem();
  if (quarn::Status created = files->CreateFolders(output); !created) {
    std::fprintf(stderr, "quarnsamples: %s\n", created.message().c_str());
    return 2;
  }
  auto folder = files->OpenFolder(output);
  if (!folder) {
    std::fprintf(stderr, "quarnsamples: %s\n", folder.message().c_str());
    return 2;
  }
  const auto samples = quarn::samples::BuildSampleSet();
  if (quarn::Status written = quarn::samples::WriteSampleSet(**folder, samples); !written) {
    std::fprintf(stderr, "quarnsamples: %s\n", written.message().c_str());
    return 2;
  }
  const std::string system_output = output + "/" + quarn::samples::kSystemAreaFolder;
  if (quarn::Status created = files->CreateFolders(system_output); !created) {
    std::fprintf(stderr, "quarnsamples: %s\n", created.message().c_str());
    return 2;
  }
  auto system_folder = files->OpenFolder(system_output);
  if (!system_folder) {
    std::fprintf(stderr, "quarnsamples: %s\n", system_folder.message().c_str());
    return 2;
  }
  const auto images = quarn::samples::BuildSystemAreaSamples();
  if (quarn::Status written = quarn::samples::WriteSystemAreaSamples(**system_folder, images);
      !written) {
    std::fprintf(stderr, "quarnsamples: %s\n", written.message().c_str());
    return 2;
  }
  std::printf("quarnsamples: %zu samples and %zu disk and memory images written to %s\n",
              samples.size(), images.size(), output.c_str());
  return 0;
}

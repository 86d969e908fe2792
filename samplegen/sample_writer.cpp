#include "samplegen/sample_writer.h"

#include "platform/file_contents.h"

namespace quarn::samples {

std::string DescribeVerdict(const ExpectedVerdict& verdict) {
  if (verdict.virus != 0) {
    return (verdict.variant != 0 ? "variant of " : "infected by ") + std::to_string(verdict.virus);
  }
  return verdict.suspicious ? "suspicious" : "clean";
}

std::string FormatManifest(const std::vector<Sample>& samples) {
  std::string text =
      "# Test samples for the scanner: name, verdict (VirusId), description.\n"
      "# A partial match that the chain's later steps replace is listed as clean, with the\n"
      "# section whose detector finds it on its own.\n";
  for (const Sample& sample : samples) {
    text += sample.name + "\t" + DescribeVerdict(sample.expected);
    if (sample.probe) {
      text += " (section " + std::to_string(sample.probe->section) + ": variant of " +
              std::to_string(sample.probe->virus) + ")";
    }
    text += "\t" + sample.description + "\n";
  }
  return text;
}

Status WriteSampleSet(Folder& folder, const std::vector<Sample>& samples) {
  for (const Sample& sample : samples) {
    if (Status written = WriteFileAtomically(folder, sample.name, sample.bytes); !written) {
      return written;
    }
  }
  std::string manifest = FormatManifest(samples);
  return WriteFileAtomically(folder, kManifestName,
                             std::vector<uint8_t>(manifest.begin(), manifest.end()));
}

}  // namespace quarn::samples

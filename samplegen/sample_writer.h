#pragma once

#include <string>
#include <vector>

#include "platform/folder.h"
#include "platform/status.h"
#include "samplegen/sample_set.h"

namespace quarn::samples {

inline constexpr char kManifestName[] = "MANIFEST.txt";

// "infected by ID", "variant of ID", "suspicious" or "clean", as the manifests say it.
std::string DescribeVerdict(const ExpectedVerdict& verdict);

// One line per sample: its name, the verdict the scanner gives it and what it is.
std::string FormatManifest(const std::vector<Sample>& samples);

// Writes every sample and the manifest into `folder`, each file replaced whole, so a sample
// is never seen half-written. Stops at the first failure, whose message names the file.
Status WriteSampleSet(Folder& folder, const std::vector<Sample>& samples);

}  // namespace quarn::samples

#pragma once

#include <cstdint>
#include <span>

#include "engine/database_image.h"
#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// Every detector of the two chains has this shape; see signature_detectors.h for the
// exact/partial/nothing protocol they share.
using Detector = uint32_t (*)(const DatabaseImage&, File&, uint16_t* variant_flag,
                              uint16_t directory_offset, DetectorState&);

struct ChainStep {
  Detector detector;
  uint16_t directory_offset;  // 0 for a detector that consults no section
};

// A partial match leaves the chain open so that a later detector can confirm or refute it.
inline bool ChainOpen(uint32_t result, uint16_t flag) {
  return result == 0 || flag == 1;
}

// Runs the steps in order while the chain is open; each step's answer replaces `*result`, so
// a later step that finds nothing does wipe out an earlier partial match.
void RunChainSteps(std::span<const ChainStep> steps, const DatabaseImage& signatures, File& file,
                   DetectorState& state, uint32_t* result, uint16_t* flag);

// The flag a chain hands back: 1 only for a partial match that still stands.
inline uint16_t ChainVariantFlag(uint32_t result, uint16_t flag) {
  return (flag == 1 && result != 0) ? 1 : 0;
}

}  // namespace quarn

#include "engine/detector_chain.h"

namespace quarn {

void RunChainSteps(std::span<const ChainStep> steps, const DatabaseImage& signatures, File& file,
                   DetectorState& state, uint32_t* result, uint16_t* flag) {
  for (const ChainStep& step : steps) {
    if (!ChainOpen(*result, *flag)) return;
    *result = step.detector(signatures, file, flag, step.directory_offset, state);
  }
}

}  // namespace quarn

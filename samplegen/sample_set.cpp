#include "samplegen/sample_set.h"

#include "samplegen/com_cleaning_samples.h"
#include "samplegen/exe_cleaning_samples.h"
#include "samplegen/macro_cleaning_samples.h"

namespace quarn::samples {

std::vector<Sample> BuildSampleSet() {
  std::vector<Sample> all;
  for (auto build : {BuildExecutableSamples, BuildComSamples, BuildDocumentSamples,
                     BuildExeCleaningSamples, BuildComCleaningSamples, BuildMacroCleaningSamples}) {
    std::vector<Sample> part = build();
    all.insert(all.end(), std::make_move_iterator(part.begin()),
               std::make_move_iterator(part.end()));
  }
  return all;
}

}  // namespace quarn::samples

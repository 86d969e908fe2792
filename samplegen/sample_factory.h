#pragma once

#include <string>
#include <utility>

#include "samplegen/sample_code.h"
#include "samplegen/sample_set.h"

namespace quarn::samples {

inline Sample Make(std::string name, std::string description, Bytes bytes,
                   ExpectedVerdict expected) {
  return Sample{std::move(name), std::move(description), std::move(bytes), expected, {}, {}};
}

// A sample carrying only part of a family's marks: its chain's later steps replace the
// partial match, so the verdict is clean, and `section`'s detector alone finds the variant.
inline Sample Variant(std::string name, std::string description, Bytes bytes, int section,
                      uint32_t family) {
  Sample sample = Make(std::move(name), std::move(description), std::move(bytes), {});
  sample.probe = DetectorProbe{section, family, 1};
  return sample;
}

// An infected sample that cleaning turns back into `host`.
inline Sample Infected(std::string name, std::string description, Bytes bytes, uint32_t family,
                       Bytes host) {
  Sample sample =
      Make(std::move(name), std::move(description), std::move(bytes), {family, 0, false});
  sample.host = std::move(host);
  return sample;
}

}  // namespace quarn::samples

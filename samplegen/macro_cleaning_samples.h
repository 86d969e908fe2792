#pragma once

#include <cstdint>
#include <vector>

#include "samplegen/sample_set.h"

namespace quarn::samples {

// VirusIds of the Word macro families that macro cleaning covers
// (res/signatures/test_clean_macro.qsig).
inline constexpr uint32_t kWordMacroCleanFamily = 980;
inline constexpr uint32_t kWordMacroKeyedFamily = 981;

// Word documents whose stored macros carry a cleaned family's marks, each with the host a
// clean must give back: the same document with every macro text replaced by the cleaner's
// filler and the FIB word at offset 10 counted down. The macros are inert text.
std::vector<Sample> BuildMacroCleaningSamples();

}  // namespace quarn::samples

#include "engine/non_executable_chain.h"

#include "engine/com_detectors.h"
#include "engine/decryptor_tracers.h"
#include "engine/detector_chain.h"
#include "engine/macro_detector.h"
#include "engine/section_directory.h"
#include "engine/signature_detectors.h"

namespace quarn {
namespace {

constexpr ChainStep kSteps[] = {
    {ScanTailParagraphSignatures, DirectoryOffset(kComTailParagraphSection)},
    {ScanTailSignatures, DirectoryOffset(kComTailSection)},
    {ScanComEntrySignatures, DirectoryOffset(kComEntrySection)},
    {ScanCallSignatures, DirectoryOffset(kComCallSection)},
    {ScanForwardSignatures, DirectoryOffset(kComForwardSection)},
    {ScanBackwardSignatures, DirectoryOffset(kComBackwardSection)},
    {ScanFileEndSignatures, DirectoryOffset(kComEndSection)},
    {ScanPatternSignatures, DirectoryOffset(kComPatternSection)},
    {TraceDecryptorLoop, DirectoryOffset(kDecryptorSection)},
    {TracePushDecryptor, DirectoryOffset(kDecryptorSection)},
    {DetectWordMacroVirus, DirectoryOffset(kMacroSection)},
};

}  // namespace

uint32_t DetectNonExecutable(const DatabaseImage& signatures, File& file, uint16_t* variant_flag) {
  DetectorState state;
  uint16_t flag = 0;
  uint32_t result = 0;
  RunChainSteps(kSteps, signatures, file, state, &result, &flag);
  if (variant_flag != nullptr) *variant_flag = ChainVariantFlag(result, flag);
  return result;
}

}  // namespace quarn

#include "engine/executable_chain.h"

#include "engine/decryptor_tracers.h"
#include "engine/detector_chain.h"
#include "engine/detector_state.h"
#include "engine/entry_locator.h"
#include "engine/section_directory.h"
#include "engine/signature_detectors.h"

namespace quarn {
namespace {

// The steps that run on the DOS entry, in chain order.
constexpr ChainStep kDosEntrySteps[] = {
    {ScanEntrySignatures, DirectoryOffset(kExeEntrySection)},
    {ScanCallSignatures, DirectoryOffset(kExeCallSection)},
    {ScanForwardSignatures, DirectoryOffset(kExeForwardSection)},
    {ScanBackwardSignatures, DirectoryOffset(kExeBackwardSection)},
    {ScanPatternSignatures, DirectoryOffset(kExePatternSection)},
    {TraceDecryptorLoop, DirectoryOffset(kDecryptorSection)},
    {TracePushDecryptor, DirectoryOffset(kDecryptorSection)},
    {TraceStackReturns, 0},
};

// The step that runs on the PE entry, for a PE image only.
constexpr ChainStep kPeEntryStep = {ScanForwardSignatures, DirectoryOffset(kPeEntrySection)};

}  // namespace

uint32_t DetectExecutable(const DatabaseImage& signatures, File& file, uint16_t* variant_flag) {
  DetectorState state;
  uint16_t flag = 0;
  uint32_t result = 0;

  LocateEntryCode(file, state);
  RunChainSteps(kDosEntrySteps, signatures, file, state, &result, &flag);

  if (ChainOpen(result, flag)) {
    uint32_t pe_offset = 0;
    uint64_t section_header_offset = 0;
    // LocatePeEntry also answers 0 ("a PE image") for a file that reads nothing; the scan of
    // an empty entry buffer that follows then finds only what zero bytes match.
    const bool pe_image = LocatePeEntry(file, state, &pe_offset, &section_header_offset) == 0;
    if (pe_image) {
      result = kPeEntryStep.detector(signatures, file, &flag, kPeEntryStep.directory_offset, state);
    }
  }

  // The flag may still be 1 from a partial match that a later detector replaced with 0.
  if (variant_flag != nullptr) *variant_flag = ChainVariantFlag(result, flag);
  return result;
}

}  // namespace quarn

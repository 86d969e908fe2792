#include "engine/section_directory.h"

namespace quarn {

uint8_t ReaderRecordSize(int section_index) {
  switch (section_index) {
    case kExeEntrySection:
    case kComEntrySection:
      return kEntrySignatureRecordSize;
    case kExeCallSection:
    case kExeForwardSection:
    case kExeBackwardSection:
    case kComTailParagraphSection:
    case kComTailSection:
    case kComCallSection:
    case kComForwardSection:
    case kComBackwardSection:
    case kPeEntrySection:
      return kOffsetSignatureRecordSize;
    case kExePatternSection:
    case kComPatternSection:
      return kPatternRecordSize;
    case kComEndSection:
      return kEndSignatureRecordSize;
    case kBootPatternSection:
      return kBootPatternRecordSize;
    case kMbrPatternSection:
      return kMbrPatternRecordSize;
    case kMbrSubsequenceSection:
      return kSubsequenceRecordSize;
    case kExeCleanSection:
      return kExeCleanRecordSize;
    case kEncryptedExeCleanSection:
      return kEncryptedExeCleanRecordSize;
    case kComCleanSection:
      return kComCleanRecordSize;
    case kPrependCleanSection:
      return kPrependCleanRecordSize;
    case kEncryptedComCleanSection:
      return kEncryptedComCleanRecordSize;
    case kMacroCleanSection:
      return kMacroCleanRecordSize;
    case kMacroSection:
      return kMacroSignatureRecordSize;
    case kMemoryPatternSection:
      return kMemoryPatternRecordSize;
    case kBootRemovalSection:
      return kBootRemovalRecordSize;
    case kMemoryNameSection:
      return kMemoryNameRecordSize;
    case kPeCleanSection:
      return kPeCleanRecordSize;
    default:
      return 0;
  }
}

}  // namespace quarn

#include "containers/container.h"

namespace quarn {

std::string_view ContainerKindName(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::kFat12:
      return "fat12";
    case ContainerKind::kFat16:
      return "fat16";
    case ContainerKind::kFat32:
      return "fat32";
    case ContainerKind::kMbr:
      return "mbr";
  }
  return "";
}

std::string_view IncompleteReasonName(IncompleteReason reason) {
  switch (reason) {
    case IncompleteReason::kDepth:
      return "depth";
    case IncompleteReason::kEntries:
      return "entries";
    case IncompleteReason::kSize:
      return "size";
    case IncompleteReason::kRatio:
      return "ratio";
    case IncompleteReason::kTime:
      return "time";
    case IncompleteReason::kEncrypted:
      return "encrypted";
    case IncompleteReason::kUnsupported:
      return "unsupported";
    case IncompleteReason::kDamaged:
      return "damaged";
  }
  return "";
}

}  // namespace quarn

#include "containers/container.h"

namespace quarn {

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
    case IncompleteReason::kUnreadable:
      return "unreadable";
    case IncompleteReason::kResource:
      return "resource";
    case IncompleteReason::kVerify:
      return "verify";
  }
  return "";
}

}  // namespace quarn

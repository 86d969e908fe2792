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
    case ContainerKind::kZip:
      return "zip";
    case ContainerKind::kSevenZip:
      return "7z";
    case ContainerKind::kTar:
      return "tar";
    case ContainerKind::kIso9660:
      return "iso9660";
    case ContainerKind::kCab:
      return "cab";
    case ContainerKind::kRar:
      return "rar";
    case ContainerKind::kGzip:
      return "gzip";
    case ContainerKind::kBzip2:
      return "bzip2";
    case ContainerKind::kXz:
      return "xz";
    case ContainerKind::kZstd:
      return "zstd";
    case ContainerKind::kCompress:
      return "compress";
    case ContainerKind::kLha:
      return "lha";
    case ContainerKind::kSzdd:
      return "szdd";
    case ContainerKind::kArj:
      return "arj";
    case ContainerKind::kArc:
      return "arc";
  }
  return "";
}

bool IsImageKind(ContainerKind kind) {
  return kind == ContainerKind::kFat12 || kind == ContainerKind::kFat16 ||
         kind == ContainerKind::kFat32 || kind == ContainerKind::kMbr;
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

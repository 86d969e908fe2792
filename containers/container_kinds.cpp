#include "containers/container_kinds.h"

#include <array>

#include "containers/archives/extractor_opener.h"
#include "containers/archives/lha_opener.h"
#include "containers/archives/libarchive_opener.h"
#include "containers/archives/szdd_opener.h"
#include "containers/disks/disk_image_opener.h"

namespace quarn {
namespace {

template <typename Opener>
std::unique_ptr<ContainerOpener> New() {
  return std::make_unique<Opener>();
}

using Names = std::span<const std::string_view>;
constexpr std::string_view kImageNames[] = {"IMG", "IMA", "VFD", "DSK", "FLP"};
constexpr std::string_view kZipNames[] = {"ZIP", "IMZ"};
constexpr std::string_view kSevenZipNames[] = {"7Z"};
constexpr std::string_view kTarNames[] = {"TAR", "TGZ"};
constexpr std::string_view kIsoNames[] = {"ISO"};
constexpr std::string_view kCabNames[] = {"CAB"};
constexpr std::string_view kRarNames[] = {"RAR"};
constexpr std::string_view kGzipNames[] = {"GZ"};
constexpr std::string_view kBzip2Names[] = {"BZ2"};
constexpr std::string_view kXzNames[] = {"XZ"};
constexpr std::string_view kZstdNames[] = {"ZST"};
constexpr std::string_view kCompressNames[] = {"Z"};
constexpr std::string_view kLhaNames[] = {"LZH", "LHA"};
// COMPRESS.EXE keeps a name's extension but for its last character, which becomes "_".
constexpr std::string_view kSzddNames[] = {"*_"};
constexpr std::string_view kArjNames[] = {"ARJ"};
constexpr std::string_view kArcNames[] = {"ARC", "PAK"};

// A disk image is tried first: its structure is the stricter test (an image known by its
// first sector alone yields to any archive the file also is). LHA comes before libarchive,
// whose own LHA reader is left out: liblhasa knows more of the format's methods.
constexpr ContainerKindRow kRows[] = {
    {ContainerKind::kFat12, "fat12", true, kImageNames, New<DiskImageOpener>},
    {ContainerKind::kFat16, "fat16", true, kImageNames, New<DiskImageOpener>},
    {ContainerKind::kFat32, "fat32", true, kImageNames, New<DiskImageOpener>},
    {ContainerKind::kMbr, "mbr", true, kImageNames, New<DiskImageOpener>},
    {ContainerKind::kLha, "lha", false, kLhaNames, New<LhaOpener>},
    {ContainerKind::kSzdd, "szdd", false, kSzddNames, New<SzddOpener>},
    {ContainerKind::kArj, "arj", false, kArjNames, New<ExtractorOpener>},
    {ContainerKind::kArc, "arc", false, kArcNames, New<ExtractorOpener>},
    {ContainerKind::kZip, "zip", false, kZipNames, New<LibarchiveOpener>},
    {ContainerKind::kSevenZip, "7z", false, kSevenZipNames, New<LibarchiveOpener>},
    {ContainerKind::kTar, "tar", false, kTarNames, New<LibarchiveOpener>},
    {ContainerKind::kIso9660, "iso9660", false, kIsoNames, New<LibarchiveOpener>},
    {ContainerKind::kCab, "cab", false, kCabNames, New<LibarchiveOpener>},
    {ContainerKind::kRar, "rar", false, kRarNames, New<LibarchiveOpener>},
    {ContainerKind::kGzip, "gzip", false, kGzipNames, New<LibarchiveOpener>},
    {ContainerKind::kBzip2, "bzip2", false, kBzip2Names, New<LibarchiveOpener>},
    {ContainerKind::kXz, "xz", false, kXzNames, New<LibarchiveOpener>},
    {ContainerKind::kZstd, "zstd", false, kZstdNames, New<LibarchiveOpener>},
    // The program-files filter names no .LZMA: a lone one is looked into under FileFilter 1.
    {ContainerKind::kLzma, "lzma", false, Names{}, New<LibarchiveOpener>},
    {ContainerKind::kCompress, "compress", false, kCompressNames, New<LibarchiveOpener>},
};

const ContainerKindRow* Find(ContainerKind kind) {
  for (const ContainerKindRow& row : kRows) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

}  // namespace

std::span<const ContainerKindRow> ContainerKinds() {
  return kRows;
}

std::string_view ContainerKindName(ContainerKind kind) {
  const ContainerKindRow* row = Find(kind);
  return row != nullptr ? row->name : "";
}

bool IsImageKind(ContainerKind kind) {
  const ContainerKindRow* row = Find(kind);
  return row != nullptr && row->image;
}

}  // namespace quarn

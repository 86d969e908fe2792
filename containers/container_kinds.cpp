#include "containers/container_kinds.h"

#include <array>

#include "containers/archives/extractor_opener.h"
#include "containers/archives/lha_opener.h"
#include "containers/archives/libarchive_opener.h"
#include "containers/archives/szdd_opener.h"
#include "containers/disks/disk_image_opener.h"
#include "containers/wrappers/wrapper_opener.h"

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
constexpr std::string_view kVhdNames[] = {"VHD"};
constexpr std::string_view kVhdxNames[] = {"VHDX"};
constexpr std::string_view kVmdkNames[] = {"VMDK"};
constexpr std::string_view kQcowNames[] = {"QCOW", "QCOW2"};
constexpr std::string_view kVdiNames[] = {"VDI"};
constexpr std::string_view kEwfNames[] = {"E01", "EX01"};
constexpr std::string_view kImdNames[] = {"IMD"};
constexpr std::string_view kTd0Names[] = {"TD0"};
constexpr std::string_view kCqmNames[] = {"CQM"};
constexpr std::string_view kCdrawNames[] = {"BIN"};

// A wrapper is tried first, as a fixed VHD is a raw image with a footer after it; then a raw
// disk image, whose structure is the stricter test against archives (an image known by its
// first sector alone yields to any archive the file also is). LHA comes before libarchive,
// whose own LHA reader is left out: liblhasa knows more of the format's methods. The
// wrappers' rows all come before, even those WrapperOpener cannot read yet: their names and
// extensions are the contract's, and a file it does not open goes down the chain as before.
constexpr ContainerKindRow kRows[] = {
    {ContainerKind::kVhd, "vhd", true, kVhdNames, New<WrapperOpener>},
    {ContainerKind::kVhdx, "vhdx", true, kVhdxNames, New<WrapperOpener>},
    {ContainerKind::kVmdk, "vmdk", true, kVmdkNames, New<WrapperOpener>},
    {ContainerKind::kQcow, "qcow", true, kQcowNames, New<WrapperOpener>},
    {ContainerKind::kVdi, "vdi", true, kVdiNames, New<WrapperOpener>},
    {ContainerKind::kEwf, "ewf", true, kEwfNames, New<WrapperOpener>},
    {ContainerKind::kImd, "imd", true, kImdNames, New<WrapperOpener>},
    {ContainerKind::kTd0, "td0", true, kTd0Names, New<WrapperOpener>},
    {ContainerKind::kCqm, "cqm", true, kCqmNames, New<WrapperOpener>},
    {ContainerKind::kCdraw, "cdraw", true, kCdrawNames, New<WrapperOpener>},
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

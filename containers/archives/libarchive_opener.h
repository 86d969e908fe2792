#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/container.h"

namespace quarn {

// Opens the archives libarchive reads: ZIP, 7z, TAR (plain or compressed: gzip, bzip2, xz,
// zstd, compress), ISO 9660 (Joliet and Rock Ridge names), CAB, RAR, and a lone compressed
// file. Entries are read as data only: nothing is ever extracted to disk. Names stored
// without a character set are taken as code page 437. A lone stream or a 7z archive whose
// decoder would need more than kMaxDictionary (an xz, LZMA or LZMA2 dictionary, a zstd
// window, a PPMd model) is refused before any decoder starts (`size`).
class LibarchiveOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  // The ZIP archive a program carries from `start` on (a self-extractor's), read by the ZIP
  // reader alone, which goes by the end record and never searches the program's code. Its
  // offsets may count from the file's start, as `zip -A` fixes them, or from the archive's.
  std::optional<OpenedContainer> OpenCarriedZip(std::shared_ptr<File> file, uint64_t start);
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
  bool MayOpenHeld(const HeldEnds& held) const override;
  bool MayOpenLooking(HeldEnds& held, const LookReader& read) const override;
  uint32_t TailWanted(std::span<const uint8_t> head, uint64_t size) const override;
};

inline constexpr uint64_t kMaxDictionary = uint64_t{64} << 20;

}  // namespace quarn

#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/container.h"

namespace quarn {

// Opens files squeezed by COMPRESS.EXE (SZDD, and the QBasic variant of its header) through
// libmspack: a lone compressed file whose one entry has no stored name, only the last
// character of it that the "_" replaced. A file is one when its header is whole and
// libmspack takes it. The entry is decoded whole on its first read (the format's LZSS gives
// at most about nine bytes for every packed one, so its size is bounded by the file's),
// into memory or, past a megabyte, into an unnamed temporary file; nothing is written by a
// name. Data that ends before the length the header gives, or goes past it, is damaged.
class SzddOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
};

}  // namespace quarn

#pragma once

#include <memory>
#include <optional>
#include <span>

#include "containers/container.h"

namespace quarn {

// Opens LHA archives (LHarc, LHA and the LArc and PMarc methods they share a header with),
// through liblhasa. A file is one when a header at its very start names one of those
// methods and parses whole: a self-extracting program, whose archive lies past its own code,
// stays a program to scan. Entries are read as data only, nothing is ever written to disk;
// each entry's length and CRC are checked at its end. Methods the library cannot decode
// ("-lh2-", "-lh3-"…) give entries marked `unsupported` whose data is never read.
class LhaOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
};

}  // namespace quarn

#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "containers/container.h"

namespace quarn {

// The packaged extractor's two programs (Debian's unar package).
struct ExtractorPrograms {
  std::string lister = "/usr/bin/lsar";
  std::string extractor = "/usr/bin/unar";
};

// Opens ARJ and ARC/PAK archives, which no maintained library reads, through the packaged
// extractor run as a child process (platform/child_process.h: no shell, empty environment,
// limits, killed at its time limit). The archive is recognised by our own reading of its
// headers; the extractor then lists it (`lsar -j -nr -e cp437`, names in code page 437) and
// gives the wanted entries' bytes to a pipe, one after another from one run where their
// sizes and check sums allow (`unar -q -nr -e cp437 -o - -i ARCHIVE N M …`), the archive
// always handed over as /dev/fd/3 of a copy no name reaches: nothing is written to disk by a
// name. At most kMostEntries entries an archive are listed; the rest is `entries`. Where the
// extractor is not installed, the archive is `unsupported`, never clean.
class ExtractorOpener : public ContainerOpener {
 public:
  static constexpr size_t kMostEntries = 1000;

  // `most_entries`: kMostEntries but in tests.
  explicit ExtractorOpener(ExtractorPrograms programs = {}, size_t most_entries = kMostEntries)
      : programs_(std::move(programs)), most_entries_(most_entries) {}
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;

 private:
  ExtractorPrograms programs_;
  size_t most_entries_;
};

}  // namespace quarn

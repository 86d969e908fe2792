#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "containers/container.h"

namespace quarn {

// Every kind of container the scan opens, tried in the order of the kinds' table
// (container_kinds.h): the first opener that opens a file gives it, save that an image known
// by its first sector alone (a 55 AA mark), the weakest test of all, yields to any later kind
// the file also is. A program that carries an archive (SelfExtractorOpener) is tried last.
class AllContainersOpener : public ContainerOpener {
 public:
  AllContainersOpener();
  std::optional<OpenedContainer> Open(std::shared_ptr<File> file) override;
  std::optional<OpenedContainer> OpenWithSiblings(std::shared_ptr<File> file,
                                                  const SiblingOpener& siblings) override;
  bool MayOpen(std::span<const uint8_t> head, uint64_t size) const override;
  bool MayOpenHeld(const HeldEnds& held) const override;
  bool MayOpenLooking(HeldEnds& held, const LookReader& read) const override;
  uint32_t TailWanted(std::span<const uint8_t> head, uint64_t size) const override;

 private:
  std::vector<std::unique_ptr<ContainerOpener>> chain_;
};

}  // namespace quarn

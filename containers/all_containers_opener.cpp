#include "containers/all_containers_opener.h"

#include <algorithm>

#include "containers/archives/self_extractor_opener.h"
#include "containers/container_kinds.h"

namespace quarn {

AllContainersOpener::AllContainersOpener() {
  decltype(ContainerKindRow::new_opener) last = nullptr;
  for (const ContainerKindRow& row : ContainerKinds()) {
    if (row.new_opener == last) continue;
    last = row.new_opener;
    chain_.push_back(last());
  }
  // Last: a program is no container of any kind, unless it carries an archive.
  chain_.push_back(std::make_unique<SelfExtractorOpener>());
}

std::optional<OpenedContainer> AllContainersOpener::Open(std::shared_ptr<File> file) {
  return OpenWithSiblings(std::move(file), {});
}

std::optional<OpenedContainer> AllContainersOpener::OpenWithSiblings(
    std::shared_ptr<File> file, const SiblingOpener& siblings) {
  std::optional<OpenedContainer> boot_record_only;
  for (const std::unique_ptr<ContainerOpener>& opener : chain_) {
    std::optional<OpenedContainer> opened = opener->OpenWithSiblings(file, siblings);
    if (!opened) continue;
    if (!opened->BootRecordOnly()) return opened;
    if (!boot_record_only) boot_record_only = std::move(opened);
  }
  return boot_record_only;
}

bool AllContainersOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  for (const std::unique_ptr<ContainerOpener>& opener : chain_) {
    if (opener->MayOpen(head, size)) return true;
  }
  return false;
}

bool AllContainersOpener::MayOpenHeld(const HeldEnds& held) const {
  for (const std::unique_ptr<ContainerOpener>& opener : chain_) {
    if (opener->MayOpenHeld(held)) return true;
  }
  return false;
}

// Each opener in turn, with the look it wants: a look that lets one go may settle the next
// one's question too, which it is then asked with.
bool AllContainersOpener::MayOpenLooking(HeldEnds& held, const LookReader& read) const {
  return std::any_of(chain_.begin(), chain_.end(),
                     [&](const std::unique_ptr<ContainerOpener>& opener) {
                       return opener->MayOpenLooking(held, read);
                     });
}

uint32_t AllContainersOpener::TailWanted(std::span<const uint8_t> head, uint64_t size) const {
  uint32_t wanted = 0;
  for (const std::unique_ptr<ContainerOpener>& opener : chain_) {
    wanted = std::max(wanted, opener->TailWanted(head, size));
  }
  return wanted;
}

}  // namespace quarn

#include "containers/fat/fat_volume.h"

#include <atomic>

namespace quarn {
namespace {

// Host device numbers are small; these stay out of their way.
constexpr uint64_t kFirstDeviceId = uint64_t{0xFA7} << 48;
std::atomic<uint64_t> next_device_id{kFirstDeviceId};

}  // namespace

FatVolume::FatVolume(std::shared_ptr<BlockDevice> device, const FatGeometry& geometry)
    : device_(std::move(device)), geometry_(geometry), device_id_(next_device_id++) {}

std::optional<std::string> FatVolume::WriteRefusal() const {
  if (!device_->Writable()) return "the disk image is read only";
  std::lock_guard lock(mutex_);
  if (fat_copies_differ_) return "the copies of the volume's FAT differ";
  if (damage_seen_) return "damage was seen in the volume";
  return std::nullopt;
}

void FatVolume::NoteFatCopiesDiffer() {
  std::lock_guard lock(mutex_);
  fat_copies_differ_ = true;
}

void FatVolume::ReportDamage(const std::string& inner_path) {
  std::lock_guard lock(mutex_);
  damage_seen_ = true;
  if (reported_.insert(inner_path).second) {
    pending_.push_back({inner_path, IncompleteReason::kDamaged});
  }
}

std::vector<ContainerDamage> FatVolume::TakeDamage() {
  std::lock_guard lock(mutex_);
  std::vector<ContainerDamage> taken;
  taken.swap(pending_);
  return taken;
}

void FatVolume::StartOver() {
  std::lock_guard lock(mutex_);
  reported_.clear();
  pending_.clear();
  walked_chains_.clear();
  claimed_.clear();
  folder_entries_.clear();
}

bool FatVolume::BeginClaims(uint32_t first_cluster) {
  std::lock_guard lock(mutex_);
  return walked_chains_.insert(first_cluster).second;
}

bool FatVolume::Claim(uint32_t cluster) {
  if (!geometry_.IsDataCluster(cluster)) return true;
  std::lock_guard lock(mutex_);
  if (claimed_.empty()) claimed_.assign((uint64_t{geometry_.cluster_count} + 2 + 63) / 64, 0);
  uint64_t& word = claimed_[cluster / 64];
  const uint64_t bit = uint64_t{1} << (cluster % 64);
  if (word & bit) return false;
  word |= bit;
  return true;
}

void FatVolume::ReleaseClaim(uint32_t cluster) {
  if (!geometry_.IsDataCluster(cluster)) return;
  std::lock_guard lock(mutex_);
  if (claimed_.empty()) return;
  claimed_[cluster / 64] &= ~(uint64_t{1} << (cluster % 64));
}

bool FatVolume::ClaimFolder(uint32_t first_cluster, uint64_t entry_offset) {
  std::lock_guard lock(mutex_);
  return folder_entries_.emplace(first_cluster, entry_offset).first->second == entry_offset;
}

}  // namespace quarn

#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "containers/disks/block_device.h"
#include "containers/container.h"
#include "containers/fat/fat_geometry.h"

namespace quarn {

// What every folder and file of one FAT volume shares: the device, the geometry, a device
// number no other volume has, the damage met so far, and which clusters chains have
// claimed. Safe to use from several threads.
class FatVolume {
 public:
  FatVolume(std::shared_ptr<BlockDevice> device, const FatGeometry& geometry);

  BlockDevice& device() const { return *device_; }
  const FatGeometry& geometry() const { return geometry_; }
  // Unique among the volumes this process opened, and far from host device numbers.
  uint64_t device_id() const { return device_id_; }

  // Whether changes may be made at all: the device takes writes and no damage was ever
  // seen in the volume (StartOver does not forget that). Nothing when they may, else the
  // cause, for a message.
  std::optional<std::string> WriteRefusal() const;
  // Marks the volume as one whose FAT copies differ: it is never changed.
  void NoteFatCopiesDiffer();
  // Held by every change for its whole length: one change at a time per volume.
  std::mutex& change_mutex() { return change_mutex_; }

  // Notes damage at `inner_path` ("\" between folders, "" for the volume), once per path.
  void ReportDamage(const std::string& inner_path);
  std::vector<ContainerDamage> TakeDamage();
  // Forgets the damage reported and every claim, as if no walk had been.
  void StartOver();

  // Cross-links are found by claiming each cluster for the first chain that walks it: a
  // bit per cluster of the volume, taken only while a chain is walked for the first time
  // (a chain walked again, from the same first cluster, claims nothing).
  // True when the chain starting at `first_cluster` has not been walked before.
  bool BeginClaims(uint32_t first_cluster);
  // False when another chain claimed `cluster` first.
  bool Claim(uint32_t cluster);
  // A freed cluster is no chain's any more: the chain that takes it next crosses no other.
  void ReleaseClaim(uint32_t cluster);
  // A folder has one entry that names it. False when an entry other than the one at
  // `entry_offset` named the folder starting at `first_cluster` first: listing both would
  // let a few crafted entries make a walk visit one folder exponentially often.
  bool ClaimFolder(uint32_t first_cluster, uint64_t entry_offset);

 private:
  std::shared_ptr<BlockDevice> device_;
  FatGeometry geometry_;
  uint64_t device_id_;
  mutable std::mutex mutex_;
  std::mutex change_mutex_;
  bool damage_seen_ = false;
  bool fat_copies_differ_ = false;
  std::set<std::string> reported_;
  std::vector<ContainerDamage> pending_;
  std::unordered_set<uint32_t> walked_chains_;
  std::vector<uint64_t> claimed_;
  std::unordered_map<uint32_t, uint64_t> folder_entries_;
};

}  // namespace quarn

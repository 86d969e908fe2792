#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/folder.h"

namespace quarn {

// What a container is, as the `kind` of a `layers` entry names it.
enum class ContainerKind { kFat12, kFat16, kFat32, kMbr };

// "fat12", "fat16", "fat32", "mbr".
std::string_view ContainerKindName(ContainerKind kind);

// Why part of a container was not scanned, as the `reason` of an `incomplete` event names it.
enum class IncompleteReason {
  kDepth,
  kEntries,
  kSize,
  kRatio,
  kTime,
  kEncrypted,
  kUnsupported,
  kDamaged,
};

// "depth", "entries", "size", "ratio", "time", "encrypted", "unsupported", "damaged".
std::string_view IncompleteReasonName(IncompleteReason reason);

// A part of a container that was not read whole: the path inside its volume with "\"
// between folders ("DOS\KEYB.COM"; empty for the volume or the container itself), and why.
struct ContainerDamage {
  std::string inner_path;
  IncompleteReason reason = IncompleteReason::kDamaged;
  friend bool operator==(const ContainerDamage&, const ContainerDamage&) = default;
};

// The files of one volume of a container. Paths are inside the volume, "/" between folders,
// "" or "/" for its root; Folder::Path() gives them back in that form. Opened for reading,
// every change fails with a message that says so; what a volume opened for writing allows
// is its file system's to say.
class ContainerFileSystem : public FileSystem {
 public:
  // The damage met since the last call (a chain that loops, a folder that holds itself, a
  // file longer than its chain), each once: a walk drains it after every listing and read.
  virtual std::vector<ContainerDamage> TakeDamage() = 0;
  // Forgets what earlier walks met, so that the next one finds and reports the same damage
  // again: a new scan of a drive made of an image, in a program that scans it more than once.
  virtual void StartOver() = 0;
};

struct ContainerVolume {
  ContainerKind kind = ContainerKind::kFat12;
  // "A:" for an unpartitioned image, "C:", "D:"… for the lettered partitions of a
  // partitioned one; empty where the volume has no letter.
  std::string letter;
  // 0 in an unpartitioned image; else 1–4 by table slot, 5 and up for logical drives in
  // chain order (the name of the `mbr` layer).
  uint32_t partition_number = 0;
  // The volume's first sector, for the boot-area detectors.
  std::vector<uint8_t> boot_sector;
  std::unique_ptr<ContainerFileSystem> files;
};

// A container recognised by its structure.
struct OpenedContainer {
  // kMbr for a partitioned image, else the kind of its one volume.
  ContainerKind kind = ContainerKind::kFat12;
  // The partition table's sector, for the boot-area detectors; empty when unpartitioned.
  std::vector<uint8_t> master_boot_record;
  // In letter order (unlettered volumes last).
  std::vector<ContainerVolume> volumes;
  // Damage seen while opening (a logical chain that loops, a volume that fails its checks).
  std::vector<ContainerDamage> damage;
};

// Looks at a file and opens it as a container when its structure checks out. Reads through
// `file` from then on, from any thread the volumes' files are read on.
class ContainerOpener {
 public:
  virtual ~ContainerOpener() = default;
  // Nothing when the file is not a container of a kind this opener knows: it is then an
  // ordinary file, and nothing about it is reported.
  virtual std::optional<OpenedContainer> Open(std::shared_ptr<File> file) = 0;

  // False only when Open would give nothing for a file of `size` bytes that starts with
  // `head` (its first kContainerHeadBytes, fewer only when the file is shorter): a scan that
  // has read those bytes already for the detectors need not open the file again to learn
  // that it is no container. Safe to call from any thread.
  virtual bool MayOpen(std::span<const uint8_t> head, uint64_t size) const {
    (void)head;
    (void)size;
    return true;
  }
};

inline constexpr size_t kContainerHeadBytes = 512;

}  // namespace quarn

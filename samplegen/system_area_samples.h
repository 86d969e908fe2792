#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder.h"
#include "platform/status.h"

// Disk and memory images for the system-area test families of the default database
// (res/signatures/test_system_areas.qsig). They are data for the scanner's sector and memory
// access (quarnscan --disk, --memory-image), never run.
namespace quarn::samples {

inline constexpr uint32_t kBootFamily = 970;
inline constexpr uint32_t kMbrFamily = 971;
inline constexpr uint32_t kMbrSequenceFamily = 972;
inline constexpr uint32_t kMemoryFamily = 973;

inline constexpr char kSystemAreaFolder[] = "system";

enum class ImageKind { kFloppy, kHardDisk, kMemory };

struct SystemAreaSample {
  std::string name;
  std::string description;
  ImageKind kind = ImageKind::kFloppy;
  std::vector<uint8_t> bytes;
  uint32_t virus = 0;  // 0: clean
  // For a sample whose virus can be removed: the whole image after the removal.
  std::optional<std::vector<uint8_t>> cleaned;
};

// A 360 KB floppy whose boot sector carries the boot family, with the original sector where
// the virus's words point (past the track's last sector, so the removal wraps to head 1);
// two hard disks (16 heads × 63 sectors, one track each side of the boot sector) whose master
// boot records carry the two MBR families, with a clean boot sector at cylinder 0, head 1;
// a clean floppy; and 4 KiB of low memory with the memory family's mark.
std::vector<SystemAreaSample> BuildSystemAreaSamples();

// Writes every image and a manifest of them into `folder`, each file replaced whole.
Status WriteSystemAreaSamples(Folder& folder, const std::vector<SystemAreaSample>& samples);

}  // namespace quarn::samples

#include "shell/container_scan.h"

#include <algorithm>
#include <array>
#include <span>

#include "clean/file_cleaner.h"
#include "containers/wrappers/sibling_files.h"
#include "containers/wrappers/unpack_meter.h"
#include "shell/archive_scan.h"
#include "shell/boot_scan.h"
#include "shell/container_extension.h"
#include "shell/scanned_extension.h"

namespace quarn {
namespace {

constexpr std::string_view kMbrLayer = "mbr";

// The way into the container file itself: the layers of the volume it lies in, that volume's
// own named by the file's path; none for a host file.
std::vector<PathLayer> LayersToFile(const VolumePlace* outer, const std::string& inner_path) {
  if (outer == nullptr) return {};
  std::vector<PathLayer> layers = outer->layers;
  layers.back().name = inner_path;
  return layers;
}

std::vector<PathLayer> With(std::vector<PathLayer> layers, std::string_view kind,
                            std::string name) {
  layers.push_back(PathLayer{std::string(kind), std::move(name)});
  return layers;
}

// A volume without a letter (a hidden FAT partition) is named by its partition number.
std::string VolumeName(const ContainerVolume& volume) {
  if (!volume.letter.empty()) return volume.letter;
  return "P" + std::to_string(volume.partition_number) + ":";
}

// A boot area of an image is reported, never removed: a line only for a finding, so a folder
// of clean images does not fill the list, and the verdict in every case. A sector shorter
// than the detectors read is taken as padded with zeros.
void ReportImageBootArea(ScanSession& session, std::span<const uint8_t> bytes, bool mbr,
                         const std::string& target, const std::string& host_path,
                         std::vector<PathLayer> layers) {
  std::array<uint8_t, kSectorSize> sector{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), sector.size()), sector.begin());
  JudgedBootArea judged = JudgeBootArea(session, sector, mbr, target);
  judged.verdict.host_path = host_path;
  judged.verdict.layers = std::move(layers);
  if (judged.verdict.virus_id != 0 || judged.verdict.suspicious) {
    session.AddTextLine(ResultIcon::kVirus, "[" + target + "] " + judged.text);
  }
  session.ui().ReportBootVerdict(judged.verdict);
}

// While it lives, a wrapper that decompresses charges what it unpacks to the top-level file's
// budget and stops at its deadline, as an archive's entries do.
class UnpackLimit {
 public:
  UnpackLimit(const OpenedContainer& opened, ContainerBudget& budget, const ContainerLimits& limits)
      : meter_(opened.wrapper ? opened.wrapper->meter.get() : nullptr) {
    if (meter_ == nullptr) return;
    meter_->SetLimit([&budget, &limits](uint64_t bytes) -> std::optional<IncompleteReason> {
      if (std::chrono::steady_clock::now() > budget.deadline) return IncompleteReason::kTime;
      budget.unpacked += bytes;
      if (budget.unpacked > limits.max_scan_size) return IncompleteReason::kSize;
      return std::nullopt;
    });
  }
  ~UnpackLimit() {
    if (meter_ != nullptr) meter_->SetLimit(nullptr);
  }
  // The limit that stopped the wrapper's reads, once one did.
  std::optional<IncompleteReason> Stopped() const {
    return meter_ != nullptr ? meter_->Stopped() : std::nullopt;
  }
  UnpackLimit(const UnpackLimit&) = delete;
  UnpackLimit& operator=(const UnpackLimit&) = delete;

 private:
  UnpackMeter* meter_;
};

void ScanOpened(ScanSession& session, OpenedContainer& opened, const std::string& display_path,
                const std::string& host_path, std::vector<PathLayer> way_in, int depth,
                IncompleteLines& incomplete, ImageChanges* changes, ContainerBudget& budget,
                const std::string& name) {
  // A wrapper is the outermost layer of what it holds, named "".
  if (opened.wrapper) {
    way_in = With(std::move(way_in), ContainerKindName(opened.wrapper->kind), "");
    for (const ContainerDamage& damage : opened.wrapper->damage) {
      incomplete.Report(session, display_path, host_path, way_in, damage.reason);
    }
    // A disk the wrapper unpacked counts against the limits as an archive's entries do.
    if (opened.wrapper->unpacked > 0) {
      budget.unpacked += opened.wrapper->unpacked;
      std::optional<IncompleteReason> stopped;
      if (budget.unpacked > session.container_limits().max_scan_size) {
        stopped = IncompleteReason::kSize;
      } else if (std::chrono::steady_clock::now() > budget.deadline) {
        stopped = IncompleteReason::kTime;
      }
      if (stopped) {
        incomplete.Report(session, display_path, host_path, way_in, *stopped);
        return;
      }
    }
  }
  const std::string_view kind = ContainerKindName(opened.kind);
  for (const ContainerDamage& damage : opened.damage) {
    if (changes != nullptr) changes->NoteDamage(ImageChanges::kEveryVolume);
    incomplete.Report(
        session, damage.inner_path.empty() ? display_path : display_path + "!" + damage.inner_path,
        host_path, With(way_in, kind, damage.inner_path), damage.reason);
  }
  if (opened.archive) {
    ScanArchiveEntries(session, *opened.archive,
                       ArchivePlace{opened.kind, display_path, host_path, way_in, name, depth,
                                    &incomplete, &budget});
    return;
  }
  const bool partitioned = opened.kind == ContainerKind::kMbr;
  if (!opened.boot_record.empty()) {
    ReportImageBootArea(session, opened.boot_record, partitioned, display_path, host_path,
                        With(way_in, kind, ""));
  }
  for (size_t index = 0; index < opened.volumes.size(); ++index) {
    ContainerVolume& volume = opened.volumes[index];
    if (session.stop_requested().load()) break;
    std::vector<PathLayer> layers = way_in;
    if (partitioned) layers = With(layers, kMbrLayer, std::to_string(volume.partition_number));
    layers = With(layers, ContainerKindName(volume.kind), "");
    const std::string root = display_path + "!" + VolumeName(volume);
    if (!volume.boot_sector.empty()) {
      ReportImageBootArea(session, volume.boot_sector, false, partitioned ? root : display_path,
                          host_path, layers);
    }
    if (volume.files == nullptr) continue;
    const VolumePlace place{volume.files.get(),
                            root,
                            host_path,
                            std::move(layers),
                            "",
                            depth,
                            &incomplete,
                            changes,
                            index,
                            &budget,
                            opened.wrapper ? opened.wrapper->meter.get() : nullptr};
    if (auto top = volume.files->OpenFolder("/")) {
      WalkFolders(session, std::move(*top), root, host_path, nullptr, &place);
    }
    ReportVolumeDamage(session, place);
  }
}

// Whether the opener may take the file, by its head and size: libarchive's recognisers search
// executables for self-extracting archives, which costs far more than this read.
bool MayBeContainer(const ContainerOpener& opener, File& file) {
  std::array<uint8_t, kContainerHeadBytes> head;
  const std::optional<uint64_t> size = file.Size();
  if (!size || file.Seek(0, SeekOrigin::kBegin) != 0) return true;
  const uint32_t got = file.Read(head.data(), head.size());
  file.Seek(0, SeekOrigin::kBegin);
  return opener.MayOpen(std::span(head.data(), got), *size);
}

}  // namespace

bool IsContainerCandidate(const ScanSession& session, const std::string& name) {
  if (session.container_opener() == nullptr) return false;
  if (session.container_limits().kinds == kNoContainers) return false;
  const uint32_t file_filter = session.options().file_filter;
  return file_filter == 1 ||
         (file_filter == 0 && (HasContainerExtension(name) || HasScannedExtension(name)));
}

ContainerScan ScanIfContainer(ScanSession& session, Folder& folder, const std::string& name,
                              const std::string& display_path, const std::string& host_path,
                              const VolumePlace* outer, const std::string& inner_path,
                              std::string* open_failure) {
  auto file = folder.OpenListedFile(name);
  if (!file) {
    if (open_failure != nullptr) *open_failure = file.cause();
    return ContainerScan::kNone;
  }
  std::optional<FileInfo> info;
  if (outer == nullptr) {
    info = (*file)->GetInfo();
    if (info && session.IsDriveImage(info->device, info->inode)) return ContainerScan::kWhole;
  }
  if (!MayBeContainer(*session.container_opener(), **file)) return ContainerScan::kNone;
  // Only a file on the host has siblings a wrapper may open: inside a container, none.
  SiblingOpener siblings;
  if (info) siblings = SiblingsIn(folder, *info, name);
  std::optional<OpenedContainer> opened = session.container_opener()->OpenWithSiblings(
      std::shared_ptr<File>(std::move(*file)), siblings);
  // FileFilter 0 lets a program's name through for the archive it may carry, and no more.
  const bool carrier_only = session.options().file_filter == 0 && !HasContainerExtension(name);
  if (!opened || !OpensKind(session.container_limits().kinds, opened->kind) ||
      (carrier_only && !opened->carried_by_program)) {
    return ContainerScan::kNone;
  }
  const bool boot_record_only = opened->BootRecordOnly();

  IncompleteLines own_lines;
  IncompleteLines& incomplete = outer != nullptr ? *outer->incomplete : own_lines;
  const int depth = outer != nullptr ? outer->depth + 1 : 1;
  const std::vector<PathLayer> way_in = LayersToFile(outer, inner_path);
  // A top-level file's containers share one budget; a file inside a drive made of an image
  // is a top-level file of its own.
  ContainerBudget own_budget{0, std::chrono::steady_clock::now() +
                                    std::chrono::seconds(session.container_limits().max_time)};
  ContainerBudget& budget =
      outer != nullptr && outer->budget != nullptr ? *outer->budget : own_budget;
  // Only an image that is a host file of its own can change: one inside another container
  // would need its container changed around it, and one without a volume has no file to.
  std::optional<ImageChanges> changes;
  if (outer == nullptr && opened->Changeable() && !session.read_only()) {
    RemoveStaleCopies(session.stale_copies(), folder, name, session.ui());
    if (!boot_record_only) changes.emplace(folder, name);
  }
  const bool too_deep = static_cast<uint64_t>(depth) > session.container_limits().max_depth;
  if (too_deep) {
    incomplete.Report(session, display_path, host_path, way_in, IncompleteReason::kDepth);
  } else {
    const UnpackLimit limit(*opened, budget, session.container_limits());
    ScanOpened(session, *opened, display_path, host_path, way_in, depth, incomplete,
               changes ? &*changes : nullptr, budget, name);
    if (const std::optional<IncompleteReason> stopped = limit.Stopped()) {
      incomplete.Report(session, display_path, host_path,
                        With(way_in, ContainerKindName(opened->wrapper->kind), ""), *stopped);
    }
  }
  // The walk leaves the image, whether it ended or was stopped: what it did there is kept.
  if (changes) changes->Finish(session);
  if (outer == nullptr) incomplete.Finish(session);
  if (opened->carried_by_program) return ContainerScan::kAlsoProgram;
  return boot_record_only && !too_deep ? ContainerScan::kBootRecordOnly : ContainerScan::kWhole;
}

}  // namespace quarn

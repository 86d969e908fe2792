#include "bench/scan_tree/tree_plan.h"

#include <algorithm>
#include <cstdio>

#include "bench/scan_tree/tree_random.h"

namespace quarn::bench {
namespace {

constexpr uint64_t kMaxSubfolders = 3;
constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = 1024 * kKiB;
constexpr uint64_t kMinLargeSize = 20 * kMiB;
constexpr uint64_t kMaxLargeSize = 40 * kMiB;

struct KindShare {
  FileKind kind;
  uint64_t weight;  // out of the sum of all weights
  uint64_t min_size;
  uint64_t max_size;
};

// Roughly what a DOS-era hard disk held: programs and their data, documents, notes.
constexpr KindShare kSmallKinds[] = {
    {FileKind::kDosProgram, 18, 2 * kKiB, 48 * kKiB},
    {FileKind::kPeProgram, 14, 2 * kKiB, 64 * kKiB},
    {FileKind::kComProgram, 14, 256, 16 * kKiB},
    {FileKind::kDeviceDriver, 4, 512, 8 * kKiB},
    {FileKind::kWordDocument, 10, 2 * kKiB, 24 * kKiB},
    {FileKind::kText, 22, 128, 32 * kKiB},
    {FileKind::kRandomData, 18, 4 * kKiB, 64 * kKiB},
};

const KindShare& PickKind(TreeRandom& random) {
  uint64_t total = 0;
  for (const KindShare& share : kSmallKinds) total += share.weight;
  uint64_t pick = random.Below(total);
  for (const KindShare& share : kSmallKinds) {
    if (pick < share.weight) return share;
    pick -= share.weight;
  }
  return kSmallKinds[0];
}

const char* NamePrefix(FileKind kind) {
  switch (kind) {
    case FileKind::kDosProgram:
      return "MZP";
    case FileKind::kPeProgram:
      return "WIN";
    case FileKind::kComProgram:
      return "COM";
    case FileKind::kDeviceDriver:
      return "DRV";
    case FileKind::kWordDocument:
      return "DOC";
    case FileKind::kText:
      return "TXT";
    case FileKind::kRandomData:
      return "DAT";
    case FileKind::kLargeProgram:
    case FileKind::kLargeData:
      return "BIG";
  }
  return "FIL";
}

const char* Extension(FileKind kind) {
  switch (kind) {
    case FileKind::kDosProgram:
    case FileKind::kPeProgram:
    case FileKind::kLargeProgram:
      return ".EXE";
    case FileKind::kComProgram:
      return ".COM";
    case FileKind::kDeviceDriver:
      return ".SYS";
    case FileKind::kWordDocument:
      return ".DOC";
    case FileKind::kText:
      return ".TXT";
    case FileKind::kRandomData:
    case FileKind::kLargeData:
      return ".DAT";
  }
  return ".BIN";
}

// The serial number keeps every name unique across the tree; past 99,999 files the name
// outgrows 8.3, which only the host file system sees.
std::string FileName(FileKind kind, uint64_t serial) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%05llu", static_cast<unsigned long long>(serial));
  return std::string(NamePrefix(kind)) + digits + Extension(kind);
}

std::string FolderName(uint64_t serial) {
  char name[24];
  std::snprintf(name, sizeof name, "DIR%04llu", static_cast<unsigned long long>(serial));
  return name;
}

// Spreads the large files over the tree: distinct indices, drawn from the plan's own stream
// so they move when the seed does.
std::vector<size_t> PickLargeIndices(TreeRandom& random, size_t file_count, size_t wanted) {
  std::vector<size_t> picked;
  wanted = std::min(wanted, file_count);
  while (picked.size() < wanted) {
    size_t index = static_cast<size_t>(random.Below(file_count));
    if (std::find(picked.begin(), picked.end(), index) == picked.end()) picked.push_back(index);
  }
  return picked;
}

}  // namespace

TreePlan PlanTree(const TreeOptions& options) {
  TreeRandom random(options.seed);
  TreePlan plan;
  plan.folders.push_back({0, 0, ""});

  // Folders wait on a stack until they receive files, so the plan never holds an empty one;
  // when the stack runs dry before the files do, a new folder opens under the root.
  std::vector<PlannedFolder> pending;
  uint64_t folder_serial = 0;
  size_t current = 0;
  for (;;) {
    uint64_t remaining = options.file_count - plan.files.size();
    uint64_t count = std::min(remaining, random.Between(kMinFilesPerFolder, kMaxFilesPerFolder));
    for (uint64_t i = 0; i < count; ++i) {
      const KindShare& share = PickKind(random);
      PlannedFile file;
      file.folder = current;
      file.kind = share.kind;
      file.size = random.Between(share.min_size, share.max_size);
      file.seed = random.Next();
      file.name = FileName(file.kind, plan.files.size());
      plan.files.push_back(std::move(file));
    }
    if (plan.files.size() >= options.file_count) break;

    const int depth = plan.folders[current].depth;
    if (depth < kMaxFolderDepth) {
      uint64_t subfolders = random.Below(kMaxSubfolders + 1);
      for (uint64_t i = 0; i < subfolders; ++i) {
        pending.push_back({current, depth + 1, FolderName(folder_serial++)});
      }
    }
    if (pending.empty()) pending.push_back({0, 1, FolderName(folder_serial++)});
    plan.folders.push_back(std::move(pending.back()));
    pending.pop_back();
    current = plan.folders.size() - 1;
  }

  std::vector<size_t> large = PickLargeIndices(random, plan.files.size(), options.large_file_count);
  for (size_t i = 0; i < large.size(); ++i) {
    PlannedFile& file = plan.files[large[i]];
    file.kind = i == 0 ? FileKind::kLargeProgram : FileKind::kLargeData;
    file.size = random.Between(kMinLargeSize, kMaxLargeSize);
    file.name = FileName(file.kind, large[i]);
  }
  return plan;
}

std::string RelativePath(const TreePlan& plan, size_t folder) {
  std::string path;
  while (folder != 0) {
    const PlannedFolder& step = plan.folders[folder];
    path = path.empty() ? step.name : step.name + "/" + path;
    folder = step.parent;
  }
  return path;
}

const char* KindLabel(FileKind kind) {
  switch (kind) {
    case FileKind::kDosProgram:
      return "DOS programs";
    case FileKind::kPeProgram:
      return "PE programs";
    case FileKind::kComProgram:
      return "COM programs";
    case FileKind::kDeviceDriver:
      return "device drivers";
    case FileKind::kWordDocument:
      return "Word documents";
    case FileKind::kText:
      return "text files";
    case FileKind::kRandomData:
      return "data files";
    case FileKind::kLargeProgram:
      return "large programs";
    case FileKind::kLargeData:
      return "large data files";
  }
  return "files";
}

}  // namespace quarn::bench

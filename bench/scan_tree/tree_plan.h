#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What the scan-tree generator writes, decided before a byte is written: the folders, and
// for every file its name, kind, size and seed. The same options give the same plan.
namespace quarn::bench {

inline constexpr uint64_t kDefaultTreeSeed = 0x5CA77EE5;
inline constexpr uint64_t kDefaultFileCount = 20000;
inline constexpr uint32_t kDefaultLargeFileCount = 3;

enum class FileKind {
  kDosProgram,    // .EXE, MZ header only
  kPeProgram,     // .EXE, MZ stub and a one-section PE image
  kComProgram,    // .COM
  kDeviceDriver,  // .SYS, a DOS device driver header
  kWordDocument,  // .DOC, a compound file holding one harmless macro
  kText,          // .TXT, prose: not scanned by the default filter
  kRandomData,    // .DAT, a short text catalogue, then noise: not scanned by the default filter
  kLargeProgram,  // .EXE of tens of MiB: a small program followed by a data overlay
  kLargeData,     // .DAT of tens of MiB, made like kRandomData
};

struct TreeOptions {
  uint64_t file_count = kDefaultFileCount;
  uint32_t large_file_count = kDefaultLargeFileCount;  // among file_count, not added to it
  uint64_t seed = kDefaultTreeSeed;
};

struct PlannedFolder {
  size_t parent = 0;  // index into TreePlan::folders; the root is its own parent
  int depth = 0;      // 0 for the root
  std::string name;   // empty for the root
};

struct PlannedFile {
  size_t folder = 0;  // index into TreePlan::folders
  std::string name;   // DOS 8.3, unique in the whole tree
  FileKind kind = FileKind::kText;
  uint64_t size = 0;  // exact for the large kinds, a target the builders come close to otherwise
  uint64_t seed = 0;  // what the file's contents are drawn from
};

// Folders come parents first, in depth-first order, so a writer holding the open folders of
// the current path always has a new folder's parent among them. Files come grouped by folder
// in the same order. No folder is empty; the root holds files too.
struct TreePlan {
  std::vector<PlannedFolder> folders;
  std::vector<PlannedFile> files;
};

inline constexpr int kMaxFolderDepth = 5;
inline constexpr uint64_t kMinFilesPerFolder = 20;
inline constexpr uint64_t kMaxFilesPerFolder = 60;

TreePlan PlanTree(const TreeOptions& options);

// The folder's path relative to the root, "/"-separated; empty for the root.
std::string RelativePath(const TreePlan& plan, size_t folder);

// Short label of a kind, for the generator's summary.
const char* KindLabel(FileKind kind);

}  // namespace quarn::bench

#pragma once

// The shared state behind MemoryFileSystem and the folders and files it hands out. Internal
// to the in-memory file system; tests use memory_file_system.h.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/folder.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {

// One file, folder, link or other entry. Handles hold nodes by shared_ptr, so a file that is
// deleted or renamed while open keeps its content for its handles, as on POSIX.
struct MemoryNode {
  EntryKind kind = EntryKind::kFile;
  std::vector<uint8_t> bytes;                                   // a file's content
  std::map<std::string, std::shared_ptr<MemoryNode>> children;  // a folder's entries
  std::string target;                                           // a link's target
  bool detached = false;  // a folder taken out of the tree: nothing can be made in it
  FileTimes times;
  FileTime changed = 0;  // the content or a fact, as FileInfo::last_change
  uint32_t mode = 0644;
  FileAttributes attributes;  // hidden, system and archive; read-only is the mode's 0200 bit
  uint32_t link_count = 1;
  uint32_t owner = 0;
  uint32_t group = 0;
  uint64_t device = 1;
  uint64_t inode = 0;
  std::map<std::string, std::vector<uint8_t>> extended_attributes;
  uint32_t flags = 0;

  bool writable() const { return (mode & 0200) != 0; }
};

// Where a path led: the node it names (null when absent), the folder holding its last
// component and that component, or an errno value.
struct MemoryLookup {
  int error = 0;
  std::shared_ptr<MemoryNode> folder;
  std::string name;
  std::shared_ptr<MemoryNode> node;
};

inline constexpr size_t kOperationCount = static_cast<size_t>(FileOperation::kSetFlags) + 1;

// The flags a memory file refuses to take, as a POSIX file does because they would bar
// changes: the values Linux gives immutable and append-only.
inline constexpr uint32_t kMemoryBarringFlags = 0x30;

// Everything below is used with `mutex` held.
struct MemoryState {
  MemoryState();

  // Counts a call of `operation`; true when this call is one a test asked to fail.
  bool CountCall(FileOperation operation);
  void FailCall(FileOperation operation, int nth, bool and_after);

  std::shared_ptr<MemoryNode> NewNode(EntryKind kind, uint64_t device);

  // Resolves `path` from the root, following links in every component but the last, and in
  // the last too when `follow_last`. ".." never climbs above the root.
  MemoryLookup Resolve(std::string_view path, bool follow_last) const;

  // Like Resolve, but creates missing folders on the way to the last component. The last
  // component itself is not created.
  MemoryLookup ResolveCreatingParents(std::string_view path);

  // Takes `node` out of `folder` as an unlink would.
  static void Detach(MemoryNode& folder, const std::string& name);

  struct Fault {
    int calls = 0;
    int fail_at = 0;  // 0 = no fault
    bool and_after = false;
  };

  std::mutex mutex;
  std::shared_ptr<MemoryNode> root;
  FileTime clock;
  uint64_t next_inode = 2;
  uint32_t short_read = 0;   // 0 = reads are not cut
  uint32_t short_write = 0;  // 0 = writes are not cut
  std::array<Fault, kOperationCount> faults{};
};

}  // namespace quarn

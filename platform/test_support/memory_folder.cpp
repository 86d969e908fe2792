#include "platform/test_support/memory_folder.h"

#include <cerrno>

#include "platform/test_support/memory_file.h"
#include "platform/test_support/memory_tree.h"
#include "platform/path_names.h"

namespace quarn {
namespace {

// The texts the POSIX folder gives for the same refusals. A special entry may stand for a
// FIFO or a device, so it is not named further.
constexpr std::string_view kNotRegular = "not a regular file";
constexpr std::string_view kFolderNotRegular = "is a folder, not a regular file";
constexpr std::string_view kNotSingleName = "not a single file name";

}  // namespace

MemoryFolder::MemoryFolder(std::shared_ptr<MemoryState> state, std::shared_ptr<MemoryNode> node,
                           std::string path)
    : state_(std::move(state)), node_(std::move(node)), path_(std::move(path)) {}

Status MemoryFolder::Failure(std::string_view action, const std::string& name, int error) const {
  return NoFollowFailure(action, JoinPath(path_, name), error);
}

Status MemoryFolder::Failure(std::string_view action, const std::string& name,
                             std::string_view cause) const {
  return Status::Error(PathMessage(action, JoinPath(path_, name), cause));
}

std::optional<Status> MemoryFolder::CheckName(std::string_view action,
                                              const std::string& name) const {
  if (!IsSingleComponentName(name)) return Failure(action, name, kNotSingleName);
  if (name.size() > kMaxNameBytes) return Failure(action, name, ENAMETOOLONG);
  return std::nullopt;
}

int MemoryFolder::ChangeRefusal() const {
  if (node_->detached) return ENOENT;
  if (!node_->writable()) return EACCES;
  return 0;
}

Result<std::vector<FolderEntry>> MemoryFolder::List() {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kList)) {
    return ErrnoFailure("cannot list", path_, EIO);
  }
  std::vector<FolderEntry> entries;
  entries.reserve(node_->children.size());
  for (const auto& [name, child] : node_->children) {
    entries.push_back({name, child->kind, child->device});  // each device is a mount here
  }
  return entries;
}

Result<std::unique_ptr<File>> MemoryFolder::OpenFile(const std::string& name, OpenMode mode) {
  constexpr std::string_view kAction = "cannot open";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kOpenFile)) return Failure(kAction, name, EIO);
  auto found = node_->children.find(name);
  if (found == node_->children.end()) return Failure(kAction, name, ENOENT);
  const std::shared_ptr<MemoryNode>& node = found->second;
  if (node->kind == EntryKind::kLink) return Failure(kAction, name, ELOOP);
  if (node->kind == EntryKind::kFolder) return Failure(kAction, name, kFolderNotRegular);
  if (node->kind != EntryKind::kFile) return Failure(kAction, name, kNotRegular);
  bool writable = mode != OpenMode::kRead;
  if (writable && !node->writable()) return Failure(kAction, name, EACCES);
  return std::unique_ptr<File>(new MemoryFile(state_, node, writable, mode == OpenMode::kAppend));
}

Result<std::optional<FileInfo>> MemoryFolder::Examine(const std::string& name) {
  constexpr std::string_view kAction = "cannot examine";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kExamine)) return Failure(kAction, name, EIO);
  auto found = node_->children.find(name);
  if (found == node_->children.end()) return std::optional<FileInfo>();
  return std::optional<FileInfo>(InfoOfNode(*found->second));
}

Result<std::unique_ptr<File>> MemoryFolder::CreateFile(const std::string& name, uint32_t mode) {
  constexpr std::string_view kAction = "cannot create";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kCreateFile)) return Failure(kAction, name, EIO);
  if (node_->children.count(name) != 0) return Failure(kAction, name, EEXIST);
  if (int refusal = ChangeRefusal()) return Failure(kAction, name, refusal);
  std::shared_ptr<MemoryNode> node = state_->NewNode(EntryKind::kFile, node_->device);
  node->mode = mode & 07777;
  node_->children[name] = node;
  return std::unique_ptr<File>(new MemoryFile(state_, node, true));
}

Result<std::unique_ptr<Folder>> MemoryFolder::OpenFolder(const std::string& name) {
  constexpr std::string_view kAction = "cannot open folder";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kOpenFolder)) return Failure(kAction, name, EIO);
  auto found = node_->children.find(name);
  if (found == node_->children.end()) return Failure(kAction, name, ENOENT);
  if (found->second->kind == EntryKind::kLink) return Failure(kAction, name, ELOOP);
  if (found->second->kind != EntryKind::kFolder) return Failure(kAction, name, ENOTDIR);
  return std::unique_ptr<Folder>(new MemoryFolder(state_, found->second, JoinPath(path_, name)));
}

Status MemoryFolder::CreateFolder(const std::string& name) {
  constexpr std::string_view kAction = "cannot create folder";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kCreateFolder)) return Failure(kAction, name, EIO);
  auto found = node_->children.find(name);
  if (found != node_->children.end()) {
    if (found->second->kind == EntryKind::kFolder) return Status::Ok();
    return Failure(kAction, name, "exists and is not a folder");
  }
  if (int refusal = ChangeRefusal()) return Failure(kAction, name, refusal);
  node_->children[name] = state_->NewNode(EntryKind::kFolder, node_->device);
  return Status::Ok();
}

Status MemoryFolder::Rename(const std::string& from, const std::string& to, RenameMode mode) {
  constexpr std::string_view kAction = "cannot rename";
  std::lock_guard lock(state_->mutex);
  std::string both = JoinPath(path_, from) + " to " + JoinPath(path_, to);
  if (auto refused = CheckName(kAction, from)) return *refused;
  if (auto refused = CheckName(kAction, to)) return *refused;
  auto fail = [&](int error) {
    return Status::Error(PathMessage(kAction, both, ErrnoText(error)));
  };
  if (state_->CountCall(FileOperation::kRename)) return fail(EIO);
  auto source = node_->children.find(from);
  if (source == node_->children.end()) return fail(ENOENT);
  if (int refusal = ChangeRefusal()) return fail(refusal);
  auto target = node_->children.find(to);
  if (target != node_->children.end()) {
    if (mode == RenameMode::kNoReplace) return fail(EEXIST);
    if (from == to) return Status::Ok();
    bool source_is_folder = source->second->kind == EntryKind::kFolder;
    bool target_is_folder = target->second->kind == EntryKind::kFolder;
    if (source_is_folder && !target_is_folder) return fail(ENOTDIR);
    if (!source_is_folder && target_is_folder) return fail(EISDIR);
    if (target_is_folder && !target->second->children.empty()) return fail(ENOTEMPTY);
    MemoryState::Detach(*node_, to);
  }
  std::shared_ptr<MemoryNode> moved = node_->children[from];
  moved->changed = state_->clock;
  node_->children.erase(from);
  node_->children[to] = std::move(moved);
  return Status::Ok();
}

Status MemoryFolder::Delete(const std::string& name) {
  constexpr std::string_view kAction = "cannot delete";
  std::lock_guard lock(state_->mutex);
  if (auto refused = CheckName(kAction, name)) return *refused;
  if (state_->CountCall(FileOperation::kDelete)) return Failure(kAction, name, EIO);
  auto found = node_->children.find(name);
  if (found == node_->children.end()) return Failure(kAction, name, ENOENT);
  if (found->second->kind == EntryKind::kFolder) return Failure(kAction, name, EISDIR);
  if (int refusal = ChangeRefusal()) return Failure(kAction, name, refusal);
  MemoryState::Detach(*node_, name);
  return Status::Ok();
}

uint64_t MemoryFolder::Mount() const {
  std::lock_guard lock(state_->mutex);
  return node_->device;
}

FolderIdentity MemoryFolder::Identity() const {
  std::lock_guard lock(state_->mutex);
  return {node_->device, node_->inode};
}

Result<std::unique_ptr<Folder>> MemoryFolder::OpenParent() {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kOpenFolder))
    return Failure("cannot open folder", "..", EIO);
  if (node_ == state_->root) {
    return std::unique_ptr<Folder>(new MemoryFolder(state_, node_, "/"));
  }
  // Nodes know no parent: the tree is searched for the folder that holds this one now.
  std::vector<std::shared_ptr<MemoryNode>> pending = {state_->root};
  while (!pending.empty()) {
    std::shared_ptr<MemoryNode> folder = std::move(pending.back());
    pending.pop_back();
    for (const auto& [name, child] : folder->children) {
      if (child == node_) {
        return std::unique_ptr<Folder>(new MemoryFolder(state_, folder, ParentPath(path_)));
      }
      if (child->kind == EntryKind::kFolder) pending.push_back(child);
    }
  }
  return Failure("cannot open folder", "..", ENOENT);
}

}  // namespace quarn

#include "platform/test_support/memory_file_system.h"

#include <algorithm>
#include <cerrno>

#include "platform/path_names.h"
#include "platform/test_support/memory_file.h"
#include "platform/test_support/memory_folder.h"
#include "platform/test_support/memory_tree.h"

namespace quarn {
namespace {

void SetDeviceBelow(MemoryNode& node, uint64_t device) {
  node.device = device;
  for (auto& [name, child] : node.children) SetDeviceBelow(*child, device);
}

}  // namespace

MemoryFileSystem::MemoryFileSystem() : state_(std::make_shared<MemoryState>()) {}

MemoryFileSystem::~MemoryFileSystem() = default;

Result<std::unique_ptr<Folder>> MemoryFileSystem::OpenFolder(const std::string& path) {
  constexpr std::string_view kAction = "cannot open folder";
  if (path.empty()) return Status::Error("cannot open folder: the path is empty");
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kOpenFolder)) return ErrnoFailure(kAction, path, EIO);
  MemoryLookup found = state_->Resolve(path, true);
  if (found.error != 0) return ErrnoFailure(kAction, path, found.error);
  if (found.node == nullptr) return ErrnoFailure(kAction, path, ENOENT);
  if (found.node->kind != EntryKind::kFolder) return ErrnoFailure(kAction, path, ENOTDIR);
  return std::unique_ptr<Folder>(new MemoryFolder(state_, found.node, TrimTrailingSlashes(path)));
}

Status MemoryFileSystem::CreateFolders(const std::string& path) {
  constexpr std::string_view kAction = "cannot create folder";
  if (path.empty()) return Status::Error("cannot create folder: the path is empty");
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kCreateFolder)) return ErrnoFailure(kAction, path, EIO);
  std::string walked;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = std::min(path.find('/', start), path.size());
    std::string_view component = std::string_view(path).substr(start, end - start);
    start = end + 1;
    if (component.empty()) continue;
    walked = path.substr(0, end);
    MemoryLookup found = state_->Resolve(walked, true);
    if (found.error != 0) return ErrnoFailure(kAction, walked, found.error);
    if (found.node == nullptr) {
      if (found.folder->detached) return ErrnoFailure(kAction, walked, ENOENT);
      if (!found.folder->writable()) return ErrnoFailure(kAction, walked, EACCES);
      found.folder->children[found.name] =
          state_->NewNode(EntryKind::kFolder, found.folder->device);
    } else if (found.node->kind != EntryKind::kFolder) {
      return Status::Error(PathMessage(kAction, walked, "exists and is not a folder"));
    }
  }
  return Status::Ok();
}

namespace {

// Puts `node` at `path`, creating parents and replacing what was there.
Status Place(MemoryState& state, const std::string& path, std::shared_ptr<MemoryNode> node) {
  MemoryLookup found = state.ResolveCreatingParents(path);
  if (found.error != 0) return ErrnoFailure("cannot add", path, found.error);
  if (found.name.empty()) return ErrnoFailure("cannot add", path, EEXIST);
  if (found.node != nullptr) MemoryState::Detach(*found.folder, found.name);
  node->device = found.folder->device;
  found.folder->children[found.name] = std::move(node);
  return Status::Ok();
}

}  // namespace

Status MemoryFileSystem::AddFile(const std::string& path, std::vector<uint8_t> bytes) {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = state_->NewNode(EntryKind::kFile, 1);
  node->bytes = std::move(bytes);
  return Place(*state_, path, std::move(node));
}

Status MemoryFileSystem::AddFile(const std::string& path, std::string_view text) {
  return AddFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

Status MemoryFileSystem::AddFolder(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  MemoryLookup found = state_->ResolveCreatingParents(path);
  if (found.error != 0) return ErrnoFailure("cannot add", path, found.error);
  if (found.node != nullptr && found.node->kind == EntryKind::kFolder) return Status::Ok();
  return Place(*state_, path, state_->NewNode(EntryKind::kFolder, 1));
}

Status MemoryFileSystem::AddLink(const std::string& path, const std::string& target) {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = state_->NewNode(EntryKind::kLink, 1);
  node->target = target;
  return Place(*state_, path, std::move(node));
}

Status MemoryFileSystem::AddSpecial(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  return Place(*state_, path, state_->NewNode(EntryKind::kOther, 1));
}

Status MemoryFileSystem::Remove(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  MemoryLookup found = state_->Resolve(path, false);
  if (found.error != 0) return ErrnoFailure("cannot remove", path, found.error);
  if (found.node == nullptr) return ErrnoFailure("cannot remove", path, ENOENT);
  if (found.name.empty()) return ErrnoFailure("cannot remove", path, EBUSY);
  MemoryState::Detach(*found.folder, found.name);
  return Status::Ok();
}

Result<std::string> MemoryFileSystem::ReadLink(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  MemoryLookup found = state_->Resolve(path, false);
  if (found.error != 0) return ErrnoFailure("cannot read link", path, found.error);
  if (found.node == nullptr) return ErrnoFailure("cannot read link", path, ENOENT);
  if (found.node->kind != EntryKind::kLink) return ErrnoFailure("cannot read link", path, EINVAL);
  return found.node->target;
}

Status MemoryFileSystem::Move(const std::string& from, const std::string& to) {
  std::lock_guard lock(state_->mutex);
  MemoryLookup source = state_->Resolve(from, false);
  if (source.error != 0) return ErrnoFailure("cannot move", from, source.error);
  if (source.node == nullptr) return ErrnoFailure("cannot move", from, ENOENT);
  if (source.name.empty()) return ErrnoFailure("cannot move", from, EBUSY);
  MemoryLookup target = state_->Resolve(to, false);
  if (target.error != 0) return ErrnoFailure("cannot move", to, target.error);
  if (target.node != nullptr) return ErrnoFailure("cannot move", to, EEXIST);
  if (target.folder == nullptr || target.name.empty())
    return ErrnoFailure("cannot move", to, ENOENT);
  std::shared_ptr<MemoryNode> moved = source.node;
  source.folder->children.erase(source.name);
  target.folder->children[target.name] = std::move(moved);
  return Status::Ok();
}

namespace {

// The node `path` names without following a last link, or null.
std::shared_ptr<MemoryNode> Find(const MemoryState& state, const std::string& path) {
  return state.Resolve(path, false).node;
}

}  // namespace

bool MemoryFileSystem::Exists(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  return Find(*state_, path) != nullptr;
}

std::optional<EntryKind> MemoryFileSystem::KindOf(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return std::nullopt;
  return node->kind;
}

std::optional<std::vector<uint8_t>> MemoryFileSystem::ReadFileBytes(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr || node->kind != EntryKind::kFile) return std::nullopt;
  return node->bytes;
}

std::optional<std::string> MemoryFileSystem::ReadFileText(const std::string& path) const {
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

std::optional<FileTimes> MemoryFileSystem::TimesOf(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return std::nullopt;
  return node->times;
}

std::optional<FileInfo> MemoryFileSystem::InfoOf(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return std::nullopt;
  return InfoOfNode(*node);
}

std::optional<std::vector<ExtendedAttribute>> MemoryFileSystem::ExtendedAttributesOf(
    const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return std::nullopt;
  return ExtendedAttributesOfNode(*node);
}

std::optional<uint32_t> MemoryFileSystem::FlagsOf(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return std::nullopt;
  return node->flags;
}

std::vector<std::string> MemoryFileSystem::NamesIn(const std::string& path) const {
  std::lock_guard lock(state_->mutex);
  std::vector<std::string> names;
  std::shared_ptr<MemoryNode> node = Find(*state_, path);
  if (node == nullptr) return names;
  for (const auto& [name, child] : node->children) names.push_back(name);
  return names;  // std::map keeps them sorted
}

namespace {

// Runs `change` on the node at `path`, or says why it cannot.
template <typename Change>
Status ChangeNode(MemoryState& state, const std::string& path, Change change) {
  std::lock_guard lock(state.mutex);
  MemoryLookup found = state.Resolve(path, false);
  if (found.error != 0) return ErrnoFailure("cannot change", path, found.error);
  if (found.node == nullptr) return ErrnoFailure("cannot change", path, ENOENT);
  change(*found.node);
  found.node->changed = state.clock;
  return Status::Ok();
}

}  // namespace

Status MemoryFileSystem::SetLinkCount(const std::string& path, uint32_t count) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) { node.link_count = count; });
}

Status MemoryFileSystem::SetReadOnly(const std::string& path, bool read_only) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) {
    node.mode = read_only ? (node.mode & ~0200u) : (node.mode | 0200u);
  });
}

Status MemoryFileSystem::SetAttributes(const std::string& path, const FileAttributes& attributes) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) {
    node.mode = attributes.read_only ? (node.mode & ~0200u) : (node.mode | 0200u);
    node.attributes = attributes;
    node.attributes.read_only = false;  // the mode says it
  });
}

Status MemoryFileSystem::SetTimes(const std::string& path, const FileTimes& times) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) { node.times = times; });
}

Status MemoryFileSystem::SetMode(const std::string& path, uint32_t mode) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) { node.mode = mode & 07777; });
}

Status MemoryFileSystem::SetOwner(const std::string& path, uint32_t owner, uint32_t group) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) {
    node.owner = owner;
    node.group = group;
  });
}

Status MemoryFileSystem::SetExtendedAttribute(const std::string& path,
                                              const ExtendedAttribute& attribute) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) {
    node.extended_attributes[attribute.name] = attribute.value;
  });
}

Status MemoryFileSystem::SetFlags(const std::string& path, uint32_t flags) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) { node.flags = flags; });
}

Status MemoryFileSystem::SetDevice(const std::string& path, uint64_t device) {
  return ChangeNode(*state_, path, [&](MemoryNode& node) { SetDeviceBelow(node, device); });
}

void MemoryFileSystem::SetClock(FileTime now) {
  std::lock_guard lock(state_->mutex);
  state_->clock = now;
}

void MemoryFileSystem::FailCall(FileOperation operation, int nth, bool and_after) {
  std::lock_guard lock(state_->mutex);
  state_->FailCall(operation, nth, and_after);
}

void MemoryFileSystem::SetShortReads(uint32_t max_bytes) {
  std::lock_guard lock(state_->mutex);
  state_->short_read = max_bytes;
}

void MemoryFileSystem::SetShortWrites(uint32_t max_bytes) {
  std::lock_guard lock(state_->mutex);
  state_->short_write = max_bytes;
}

void MemoryFileSystem::ClearFaults() {
  std::lock_guard lock(state_->mutex);
  for (MemoryState::Fault& fault : state_->faults) {
    fault.fail_at = 0;
    fault.and_after = false;
  }
  state_->short_read = 0;
  state_->short_write = 0;
}

int MemoryFileSystem::CallCount(FileOperation operation) const {
  std::lock_guard lock(state_->mutex);
  return state_->faults[static_cast<size_t>(operation)].calls;
}

}  // namespace quarn

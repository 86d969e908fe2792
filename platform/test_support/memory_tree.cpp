#include "platform/test_support/memory_tree.h"

#include <cerrno>
#include <deque>

namespace quarn {
namespace {

// Where a chain of links gives up, as Linux does.
constexpr int kMaxLinkHops = 40;

// 2000-01-01 00:00:00 UTC: a fixed start, so that tests see the same stamps on every run.
constexpr FileTime kInitialClock = int64_t{946684800} * 1'000'000'000;

std::deque<std::string> Components(std::string_view path) {
  std::deque<std::string> components;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") components.emplace_back(part);
    start = end + 1;
  }
  return components;
}

}  // namespace

MemoryState::MemoryState() : clock(kInitialClock) {
  root = NewNode(EntryKind::kFolder, 1);
  root->mode = 0755;
}

bool MemoryState::CountCall(FileOperation operation) {
  Fault& fault = faults[static_cast<size_t>(operation)];
  ++fault.calls;
  if (fault.fail_at == 0) return false;
  return fault.calls == fault.fail_at || (fault.and_after && fault.calls > fault.fail_at);
}

void MemoryState::FailCall(FileOperation operation, int nth, bool and_after) {
  Fault& fault = faults[static_cast<size_t>(operation)];
  fault.fail_at = nth > 0 ? fault.calls + nth : 0;
  fault.and_after = and_after;
}

std::shared_ptr<MemoryNode> MemoryState::NewNode(EntryKind kind, uint64_t device) {
  auto node = std::make_shared<MemoryNode>();
  node->kind = kind;
  node->device = device;
  node->inode = next_inode++;
  node->times.creation = clock;
  node->times.last_access = clock;
  node->times.last_write = clock;
  node->changed = clock;
  node->mode = kind == EntryKind::kFile ? 0644 : kind == EntryKind::kLink ? 0777 : 0755;
  return node;
}

MemoryLookup MemoryState::Resolve(std::string_view path, bool follow_last) const {
  std::vector<std::shared_ptr<MemoryNode>> stack{root};
  std::deque<std::string> rest = Components(path);
  int hops = 0;
  while (!rest.empty()) {
    std::string component = std::move(rest.front());
    rest.pop_front();
    if (component == "..") {
      if (stack.size() > 1) stack.pop_back();
      continue;
    }
    const std::shared_ptr<MemoryNode>& folder = stack.back();
    if (folder->kind != EntryKind::kFolder) return {ENOTDIR, nullptr, "", nullptr};
    auto found = folder->children.find(component);
    if (found == folder->children.end()) {
      if (!rest.empty()) return {ENOENT, nullptr, "", nullptr};
      return {0, folder, component, nullptr};
    }
    std::shared_ptr<MemoryNode> node = found->second;
    if (node->kind == EntryKind::kLink && (follow_last || !rest.empty())) {
      if (++hops > kMaxLinkHops) return {ELOOP, nullptr, "", nullptr};
      std::deque<std::string> target = Components(node->target);
      if (!node->target.empty() && node->target.front() == '/') stack.resize(1);
      rest.insert(rest.begin(), target.begin(), target.end());
      continue;
    }
    if (rest.empty()) return {0, folder, component, node};
    stack.push_back(node);
  }
  // The path ended on the root, a "..", or a link to a folder.
  std::shared_ptr<MemoryNode> parent = stack.size() > 1 ? stack[stack.size() - 2] : nullptr;
  return {0, parent, "", stack.back()};
}

MemoryLookup MemoryState::ResolveCreatingParents(std::string_view path) {
  std::deque<std::string> components = Components(path);
  if (components.empty()) return Resolve(path, false);
  std::string walked;
  for (size_t i = 0; i + 1 < components.size(); ++i) {
    walked += '/';
    walked += components[i];
    MemoryLookup step = Resolve(walked, true);
    if (step.error != 0) return step;
    if (step.node == nullptr) {
      step.node = NewNode(EntryKind::kFolder, step.folder->device);
      step.folder->children[step.name] = step.node;
    } else if (step.node->kind != EntryKind::kFolder) {
      return {ENOTDIR, nullptr, "", nullptr};
    }
  }
  return Resolve(path, false);
}

void MemoryState::Detach(MemoryNode& folder, const std::string& name) {
  auto found = folder.children.find(name);
  if (found == folder.children.end()) return;
  std::shared_ptr<MemoryNode> node = found->second;
  folder.children.erase(found);
  if (node->kind == EntryKind::kFolder) {
    node->detached = true;
    while (!node->children.empty()) Detach(*node, node->children.begin()->first);
  } else if (node->link_count > 0) {
    --node->link_count;
  }
}

}  // namespace quarn

#include "platform/test_support/memory_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/test_support/memory_tree.h"

namespace quarn {

FileInfo InfoOfNode(const MemoryNode& node) {
  FileInfo info;
  info.size = node.kind == EntryKind::kLink ? node.target.size() : node.bytes.size();
  info.link_count = node.link_count;
  info.mode = node.mode & 07777;
  info.owner = node.owner;
  info.group = node.group;
  info.device = node.device;
  info.inode = node.inode;
  info.last_write = node.times.last_write;
  info.last_change = node.changed;
  return info;
}

std::vector<ExtendedAttribute> ExtendedAttributesOfNode(const MemoryNode& node) {
  std::vector<ExtendedAttribute> attributes;
  for (const auto& [name, value] : node.extended_attributes) attributes.push_back({name, value});
  return attributes;
}

FileAttributes AttributesOfNode(const MemoryNode& node) {
  FileAttributes attributes = node.attributes;
  attributes.read_only = !node.writable();
  return attributes;
}

MemoryFile::MemoryFile(std::shared_ptr<MemoryState> state, std::shared_ptr<MemoryNode> node,
                       bool writable, bool appends)
    : state_(std::move(state)), node_(std::move(node)), writable_(writable), appends_(appends) {}

uint32_t MemoryFile::Read(void* buffer, uint32_t length) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kRead)) return 0;
  const std::vector<uint8_t>& bytes = node_->bytes;
  if (position_ >= bytes.size()) return 0;
  uint64_t count = std::min<uint64_t>(length, bytes.size() - position_);
  if (state_->short_read != 0) count = std::min<uint64_t>(count, state_->short_read);
  std::memcpy(buffer, bytes.data() + position_, count);
  position_ += count;
  return static_cast<uint32_t>(count);
}

std::optional<uint64_t> MemoryFile::Seek(int64_t offset, SeekOrigin origin) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSeek)) return std::nullopt;
  int64_t base = 0;
  if (origin == SeekOrigin::kCurrent) base = static_cast<int64_t>(position_);
  if (origin == SeekOrigin::kEnd) base = static_cast<int64_t>(node_->bytes.size());
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return std::nullopt;
  position_ = static_cast<uint64_t>(target);
  return position_;
}

std::optional<uint64_t> MemoryFile::Size() {
  std::lock_guard lock(state_->mutex);
  return node_->bytes.size();
}

uint32_t MemoryFile::Write(const void* buffer, uint32_t length) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kWrite)) return 0;
  if (!writable_ || length == 0) return 0;
  // Under the state's lock, as the kernel moves to the end and writes in one step.
  if (appends_) position_ = node_->bytes.size();
  uint64_t count = length;
  if (state_->short_write != 0) count = std::min<uint64_t>(count, state_->short_write);
  if (position_ > kMaxMemoryFileSize || count > kMaxMemoryFileSize - position_) return 0;
  std::vector<uint8_t>& bytes = node_->bytes;
  if (bytes.size() < position_ + count) bytes.resize(position_ + count, 0);
  std::memcpy(bytes.data() + position_, buffer, count);
  position_ += count;
  node_->times.last_write = state_->clock;
  node_->changed = state_->clock;
  return static_cast<uint32_t>(count);
}

bool MemoryFile::SetEndOfFile() {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetEndOfFile)) return false;
  if (!writable_ || position_ > kMaxMemoryFileSize) return false;
  node_->bytes.resize(position_, 0);
  node_->times.last_write = state_->clock;
  node_->changed = state_->clock;
  return true;
}

bool MemoryFile::Flush() {
  std::lock_guard lock(state_->mutex);
  return !state_->CountCall(FileOperation::kFlush);
}

std::optional<FileTimes> MemoryFile::GetTimes() {
  std::lock_guard lock(state_->mutex);
  return node_->times;
}

bool MemoryFile::SetTimes(const FileTimes& times) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetTimes)) return false;
  node_->times.last_access = times.last_access;
  node_->times.last_write = times.last_write;
  if (times.creation) node_->times.creation = times.creation;
  node_->changed = state_->clock;
  return true;
}

std::optional<FileAttributes> MemoryFile::GetAttributes() {
  std::lock_guard lock(state_->mutex);
  return AttributesOfNode(*node_);
}

bool MemoryFile::SetAttributes(const FileAttributes& attributes) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetAttributes)) return false;
  node_->mode = attributes.read_only ? (node_->mode & ~0200u) : (node_->mode | 0200u);
  node_->attributes.hidden = attributes.hidden;
  node_->attributes.system = attributes.system;
  node_->attributes.archive = attributes.archive;
  node_->changed = state_->clock;
  return true;
}

std::optional<FileInfo> MemoryFile::GetInfo() {
  std::lock_guard lock(state_->mutex);
  return InfoOfNode(*node_);
}

bool MemoryFile::SetOwner(uint32_t owner, uint32_t group) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetOwner)) return false;
  node_->owner = owner;
  node_->group = group;
  node_->changed = state_->clock;
  return true;
}

bool MemoryFile::SetMode(uint32_t mode) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetMode)) return false;
  node_->mode = mode & 07777;
  node_->changed = state_->clock;
  return true;
}

std::optional<std::vector<ExtendedAttribute>> MemoryFile::GetExtendedAttributes() {
  std::lock_guard lock(state_->mutex);
  return ExtendedAttributesOfNode(*node_);
}

bool MemoryFile::SetExtendedAttribute(const ExtendedAttribute& attribute) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetExtendedAttribute)) return false;
  node_->extended_attributes[attribute.name] = attribute.value;
  node_->changed = state_->clock;
  return true;
}

bool MemoryFile::RemoveExtendedAttribute(const std::string& name) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetExtendedAttribute)) return false;
  if (node_->extended_attributes.erase(name) != 0) node_->changed = state_->clock;
  return true;
}

std::optional<uint32_t> MemoryFile::GetFlags() {
  std::lock_guard lock(state_->mutex);
  return node_->flags;
}

bool MemoryFile::SetFlags(uint32_t flags) {
  std::lock_guard lock(state_->mutex);
  if (state_->CountCall(FileOperation::kSetFlags)) return false;
  if ((flags & kMemoryBarringFlags) != 0) return false;
  node_->flags = flags;
  node_->changed = state_->clock;
  return true;
}

}  // namespace quarn

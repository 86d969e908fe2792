#include "containers/fat/fat_directory_editor.h"

#include <algorithm>
#include <array>

namespace quarn {
namespace {

using namespace fat_entry;

Status WriteLittleEndian(BlockDevice& device, uint64_t offset, uint32_t value, size_t width) {
  std::array<uint8_t, 4> bytes{};
  for (size_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
  return device.WriteAt(offset, bytes.data(), width);
}

}  // namespace

Status WriteEntryExtent(BlockDevice& device, uint64_t entry_offset, uint32_t first_cluster,
                        uint32_t size) {
  // The cluster halves and the size with the times between them in one write: a device
  // that stops part way never shows one half of a cluster number with the other's size.
  std::vector<uint8_t> fields =
      ReadExactly(device, entry_offset + kClusterHighOffset, kSlotBytes - kClusterHighOffset);
  if (fields.empty()) return Status::Error("cannot read the entry");
  auto put = [&](size_t offset, uint32_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
      fields[offset - kClusterHighOffset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
  };
  put(kClusterHighOffset, first_cluster >> 16, 2);
  put(kClusterLowOffset, first_cluster & 0xFFFF, 2);
  put(kSizeOffset, size, 4);
  return device.WriteAt(entry_offset + kClusterHighOffset, fields.data(), fields.size());
}

Status WriteEntryWriteTime(BlockDevice& device, uint64_t entry_offset, uint16_t time,
                           uint16_t date) {
  return WriteLittleEndian(device, entry_offset + kWriteTimeOffset,
                           uint32_t{time} | uint32_t{date} << 16, 4);
}

Status WriteEntryAttributes(BlockDevice& device, uint64_t entry_offset, uint8_t attributes) {
  return device.WriteAt(entry_offset + kAttributesOffset, &attributes, 1);
}

FatDirectoryEditor::FatDirectoryEditor(FatVolume& volume, FatTable& table, uint32_t first_cluster,
                                       bool fixed_root)
    : volume_(volume), table_(table), first_cluster_(first_cluster), fixed_root_(fixed_root) {}

Status FatDirectoryEditor::WriteSlots(const std::vector<uint64_t>& targets,
                                      const std::vector<uint8_t>& bytes) {
  // Slots that lie side by side go in one write, so the device sees the whole name at once
  // wherever the folder allows it.
  size_t start = 0;
  while (start < targets.size()) {
    size_t end = start + 1;
    while (end < targets.size() && targets[end] == targets[end - 1] + kSlotBytes) ++end;
    if (Status written = volume_.device().WriteAt(targets[start], bytes.data() + start * kSlotBytes,
                                                  (end - start) * kSlotBytes);
        !written.ok()) {
      return written;
    }
    start = end;
  }
  return Status::Ok();
}

Status FatDirectoryEditor::Mark(uint64_t offset, uint8_t first_byte) {
  return volume_.device().WriteAt(offset, &first_byte, 1);
}

Status FatDirectoryEditor::MarkDeleted(const DirectoryRecord& record) {
  for (uint64_t offset : record.long_name_offsets) {
    if (Status marked = Mark(offset, kDeletedMark); !marked.ok()) return marked;
  }
  return Mark(record.entry_offset, kDeletedMark);
}

std::vector<uint64_t> FatDirectoryEditor::Slots() const {
  const FatGeometry& geometry = volume_.geometry();
  std::vector<uint64_t> slots;
  if (fixed_root_) {
    for (uint32_t i = 0; i < geometry.root_entries; ++i) {
      slots.push_back(geometry.RootOffset() + uint64_t{i} * kSlotBytes);
    }
    return slots;
  }
  const std::optional<std::vector<uint32_t>> chain = table_.Chain(first_cluster_);
  if (!chain) return slots;
  for (uint32_t cluster : *chain) {
    for (uint32_t at = 0; at + kSlotBytes <= geometry.ClusterBytes(); at += kSlotBytes) {
      if (slots.size() >= kMaxDirectorySlots) return {};
      slots.push_back(geometry.ClusterOffset(cluster) + at);
    }
  }
  return slots;
}

Status FatDirectoryEditor::Grow(size_t clusters) {
  const std::optional<std::vector<uint32_t>> chain = table_.Chain(first_cluster_);
  if (!chain) return Status::Error("the folder's chain is broken");
  Result<std::vector<uint32_t>> added = table_.TakeFree(clusters);
  if (!added) return added.status();
  return table_.Set(chain->back(), added->front());
}

Result<std::vector<uint64_t>> FatDirectoryEditor::FreeRun(size_t count) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::vector<uint64_t> slots = Slots();
    if (slots.empty() && !fixed_root_) return Status::Error("the folder's chain is broken");
    std::vector<uint8_t> first_bytes(slots.size());
    size_t end = slots.size();
    for (size_t i = 0; i < slots.size(); ++i) {
      if (volume_.device().ReadAt(slots[i], &first_bytes[i], 1) != 1) {
        return Status::Error("cannot read the folder");
      }
      if (first_bytes[i] == kEndMark && end == slots.size()) end = i;
    }
    auto free = [&](size_t i) { return i >= end || first_bytes[i] == kDeletedMark; };
    size_t run = 0;
    for (size_t i = 0; i < slots.size(); ++i) {
      run = free(i) ? run + 1 : 0;
      if (run < count) continue;
      const size_t start = i + 1 - count;
      // Entries written past the end mark move it: the entry after them must read as the end.
      if (i + 1 > end && i + 1 < slots.size() && first_bytes[i + 1] != kEndMark) {
        if (Status ended = Mark(slots[i + 1], kEndMark); !ended.ok()) return ended;
      }
      return std::vector<uint64_t>(slots.begin() + static_cast<ptrdiff_t>(start),
                                   slots.begin() + static_cast<ptrdiff_t>(i + 1));
    }
    if (fixed_root_) return Status::Error("the root folder is full");
    if (attempt == 1) break;
    // Grow by what the free entries at the folder's end leave missing.
    const uint32_t per_cluster = volume_.geometry().ClusterBytes() / kSlotBytes;
    const size_t missing = count - run;
    if (Status grown = Grow((missing + per_cluster - 1) / per_cluster); !grown.ok()) return grown;
  }
  return Status::Error("the folder has no room for the name");
}

Result<uint64_t> FatDirectoryEditor::Rename(const DirectoryRecord& record, const StoredName& name) {
  std::vector<uint8_t> entry = ReadExactly(volume_.device(), record.entry_offset, kSlotBytes);
  if (entry.empty()) return Status::Error("cannot read the entry");
  std::copy(name.short_name.begin(), name.short_name.end(), entry.begin() + kNameOffset);
  // The lower-case flags Windows keeps for a short name belong to the old one.
  entry[kCaseFlagsOffset] = 0;

  std::vector<uint64_t> old_slots = record.long_name_offsets;
  old_slots.push_back(record.entry_offset);
  const size_t needed = name.long_name_slots.size() + 1;
  std::vector<uint64_t> targets;
  std::vector<uint64_t> released;
  const bool in_place = needed <= old_slots.size();
  if (in_place) {
    // The short entry keeps its place: a folder's entry stays where its claim names it.
    const auto split = old_slots.end() - static_cast<ptrdiff_t>(needed);
    released.assign(old_slots.begin(), split);
    targets.assign(split, old_slots.end());
  } else {
    Result<std::vector<uint64_t>> run = FreeRun(needed);
    if (!run.ok()) return run.status();
    targets = *run;
    released = old_slots;
  }
  // Entries moved away are released after the new ones exist; entries left over in place
  // go first, so the old long name is never half overwritten and whole.
  if (in_place) {
    for (uint64_t offset : released) {
      if (Status marked = Mark(offset, kDeletedMark); !marked.ok()) return marked;
    }
  }
  std::vector<uint8_t> run;
  for (const auto& slot : name.long_name_slots) run.insert(run.end(), slot.begin(), slot.end());
  run.insert(run.end(), entry.begin(), entry.end());
  if (Status written = WriteSlots(targets, run); !written.ok()) return written;
  if (!in_place) {
    for (uint64_t offset : released) {
      if (Status marked = Mark(offset, kDeletedMark); !marked.ok()) return marked;
    }
  }
  return targets.back();
}

}  // namespace quarn

#include "containers/fat/fat_file_editor.h"

#include <algorithm>
#include <limits>

#include "containers/fat/fat_directory_editor.h"
#include "containers/fat/fat_entry_census.h"

namespace quarn {

FatFileEditor::FatFileEditor(FatVolume& volume, FatTable& table, DirectoryRecord& record)
    : volume_(volume), table_(table), record_(record) {}

uint64_t FatFileEditor::ClustersFor(uint64_t size) const {
  const uint32_t cluster_bytes = volume_.geometry().ClusterBytes();
  return (size + cluster_bytes - 1) / cluster_bytes;
}

std::optional<std::string> FatFileEditor::Refusal(bool every_entry) {
  if (record_.IsFolder()) return "it is a folder";
  chain_.clear();
  if (record_.first_cluster != 0) {
    std::optional<std::vector<uint32_t>> chain = table_.Chain(record_.first_cluster);
    if (!chain) return "its cluster chain is broken";
    chain_ = std::move(*chain);
  }
  if (chain_.size() != ClustersFor(record_.size)) return "its cluster chain does not fit its size";
  constexpr std::string_view kShared = "its clusters are shared with another file (cross-linked)";
  if (!chain_.empty() && table_.Shared(chain_)) return std::string(kShared);
  if (!chain_.empty() && every_entry) {
    const auto starts = CountEntryStarts(volume_, table_);
    if (!starts) return "a folder of the volume is damaged";
    for (size_t i = 0; i < chain_.size(); ++i) {
      const auto found = starts->find(chain_[i]);
      const uint32_t count = found == starts->end() ? 0 : found->second;
      if (count > (i == 0 ? 1u : 0u)) return std::string(kShared);
    }
  }
  chain_read_ = true;
  return std::nullopt;
}

Status FatFileEditor::ZeroRange(uint64_t from, uint64_t to) {
  const FatGeometry& geometry = volume_.geometry();
  const uint32_t cluster_bytes = geometry.ClusterBytes();
  while (from < to) {
    const uint64_t index = from / cluster_bytes;
    const uint64_t within = from % cluster_bytes;
    const uint64_t step = std::min<uint64_t>(to - from, cluster_bytes - within);
    if (Status zeroed =
            ZeroBytes(volume_.device(), geometry.ClusterOffset(chain_[index]) + within, step);
        !zeroed.ok()) {
      return zeroed;
    }
    from += step;
  }
  return Status::Ok();
}

Status FatFileEditor::EnsureClusters(uint64_t count) {
  if (count <= chain_.size()) return Status::Ok();
  // The new clusters are zeroed and chained among themselves before the file reaches them.
  Result<std::vector<uint32_t>> added = table_.TakeFree(static_cast<size_t>(count - chain_.size()));
  if (!added) return added.status();
  if (!chain_.empty()) {
    if (Status linked = table_.Set(chain_.back(), added->front()); !linked.ok()) return linked;
  } else {
    // The entry names the first cluster together with the size, in the caller's last step.
    record_.first_cluster = added->front();
  }
  chain_.insert(chain_.end(), added->begin(), added->end());
  return Status::Ok();
}

Status FatFileEditor::Write(uint64_t position, const uint8_t* bytes, uint32_t length) {
  if (!chain_read_) return Status::Error("the file was not checked before the change");
  const uint64_t end = position + length;
  if (end > std::numeric_limits<uint32_t>::max()) {
    return Status::Error("a FAT file cannot reach 4 GiB");
  }
  const uint64_t old_size = record_.size;
  const uint64_t old_capacity = chain_.size() * uint64_t{volume_.geometry().ClusterBytes()};
  if (Status grown = EnsureClusters(ClustersFor(std::max(end, old_size))); !grown.ok()) {
    return grown;
  }
  // What lay past the old end in its last cluster is no part of the file: a gap reads zeros.
  if (position > old_size) {
    if (Status zeroed = ZeroRange(old_size, std::min(position, old_capacity)); !zeroed.ok()) {
      return zeroed;
    }
  }
  const FatGeometry& geometry = volume_.geometry();
  const uint32_t cluster_bytes = geometry.ClusterBytes();
  for (uint64_t at = position; at < end;) {
    const uint64_t within = at % cluster_bytes;
    const uint64_t step = std::min<uint64_t>(end - at, cluster_bytes - within);
    const uint64_t offset = geometry.ClusterOffset(chain_[at / cluster_bytes]) + within;
    if (Status written =
            volume_.device().WriteAt(offset, bytes + (at - position), static_cast<size_t>(step));
        !written.ok()) {
      return written;
    }
    at += step;
  }
  if (end <= old_size && chain_.size() == ClustersFor(old_size)) return Status::Ok();
  const uint32_t new_size = static_cast<uint32_t>(std::max(end, old_size));
  if (Status extent =
          WriteEntryExtent(volume_.device(), record_.entry_offset, record_.first_cluster, new_size);
      !extent.ok()) {
    return extent;
  }
  record_.size = new_size;
  return Status::Ok();
}

Status FatFileEditor::Resize(uint64_t size) {
  if (!chain_read_) return Status::Error("the file was not checked before the change");
  if (size > record_.size) return Write(size, nullptr, 0);
  if (size == record_.size) return Status::Ok();
  const uint64_t keep = ClustersFor(size);
  const uint32_t first = keep == 0 ? 0 : record_.first_cluster;
  if (Status extent = WriteEntryExtent(volume_.device(), record_.entry_offset, first,
                                       static_cast<uint32_t>(size));
      !extent.ok()) {
    return extent;
  }
  record_.first_cluster = first;
  record_.size = static_cast<uint32_t>(size);
  const uint64_t capacity = chain_.size() * uint64_t{volume_.geometry().ClusterBytes()};
  if (Status zeroed = ZeroRange(size, capacity); !zeroed.ok()) return zeroed;
  if (keep > 0) {
    if (Status ended = table_.Set(chain_[keep - 1], table_.EndMark()); !ended.ok()) return ended;
  }
  for (uint64_t i = keep; i < chain_.size(); ++i) {
    if (Status freed = table_.Set(chain_[i], 0); !freed.ok()) return freed;
  }
  chain_.resize(static_cast<size_t>(keep));
  return Status::Ok();
}

Status FatFileEditor::ZeroAll() {
  if (!chain_read_) return Status::Error("the file was not checked before the change");
  return ZeroRange(0, chain_.size() * uint64_t{volume_.geometry().ClusterBytes()});
}

Status FatFileEditor::FreeAll() {
  if (!chain_read_) return Status::Error("the file was not checked before the change");
  for (uint32_t cluster : chain_) {
    if (Status freed = table_.Set(cluster, 0); !freed.ok()) return freed;
  }
  chain_.clear();
  return Status::Ok();
}

}  // namespace quarn

#include "containers/fat/fat_chain.h"

#include <algorithm>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr size_t kFatBlockBytes = 4096;

}  // namespace

bool FatReader::Load(uint64_t offset, size_t width) {
  if (!block_.empty() && offset >= block_offset_ &&
      offset - block_offset_ + width <= block_.size()) {
    return true;
  }
  const FatGeometry& geometry = volume_.geometry();
  // An entry that straddles a block boundary starts a block of its own.
  uint64_t start = offset - offset % kFatBlockBytes;
  if (offset + width > start + kFatBlockBytes) start = offset;
  const uint64_t length = std::min<uint64_t>(kFatBlockBytes, geometry.FatBytes() - start);
  block_.resize(static_cast<size_t>(length));
  const size_t got =
      volume_.device().ReadAt(geometry.FatOffset() + start, block_.data(), block_.size());
  block_.resize(got);
  block_offset_ = start;
  return offset - start + width <= block_.size();
}

ChainStep FatReader::Next(uint32_t cluster) {
  const FatGeometry& geometry = volume_.geometry();
  if (!geometry.IsDataCluster(cluster)) return {};
  uint64_t offset = 0;
  size_t width = 0;
  switch (geometry.kind) {
    case ContainerKind::kFat12:
      offset = uint64_t{cluster} + cluster / 2;
      width = 2;
      break;
    case ContainerKind::kFat16:
      offset = uint64_t{cluster} * 2;
      width = 2;
      break;
    default:
      offset = uint64_t{cluster} * 4;
      width = 4;
      break;
  }
  if (offset + width > geometry.FatBytes() || !Load(offset, width)) return {};
  const std::span<const uint8_t> at(block_.data() + (offset - block_offset_), width);
  uint32_t value = 0;
  uint32_t end_mark = 0;
  switch (geometry.kind) {
    case ContainerKind::kFat12:
      value = ReadU16(at, 0);
      value = (cluster & 1) ? value >> 4 : value & 0xFFF;
      end_mark = 0xFF8;
      break;
    case ContainerKind::kFat16:
      value = ReadU16(at, 0);
      end_mark = 0xFFF8;
      break;
    default:
      value = ReadU32(at, 0) & 0x0FFFFFFF;
      end_mark = 0x0FFFFFF8;
      break;
  }
  if (value >= end_mark) return {ChainLink::kEnd, 0};
  if (!geometry.IsDataCluster(value)) return {};
  return {ChainLink::kNext, value};
}

ChainCursor::ChainCursor(FatVolume& volume, uint32_t first_cluster)
    : volume_(volume), reader_(volume), first_(first_cluster) {
  claims_ = volume_.BeginClaims(first_cluster);
  Restart();
}

void ChainCursor::Restart() {
  std::fill(visited_.begin(), visited_.end(), 0);
  index_ = 0;
  cluster_ = first_;
  start_valid_ = Visit(first_);
  stopped_ = !start_valid_;
  faulted_ = faulted_ || !start_valid_;
}

bool ChainCursor::Visit(uint32_t cluster) {
  const FatGeometry& geometry = volume_.geometry();
  if (!geometry.IsDataCluster(cluster)) return false;
  if (visited_.empty()) visited_.assign((uint64_t{geometry.cluster_count} + 2 + 63) / 64, 0);
  uint64_t& word = visited_[cluster / 64];
  const uint64_t bit = uint64_t{1} << (cluster % 64);
  if (word & bit) return false;
  word |= bit;
  if (claims_ && !volume_.Claim(cluster)) crossed_ = true;
  return true;
}

bool ChainCursor::MoveTo(uint64_t index) {
  if (index < index_) {
    // The first walk claimed these clusters already; walking them again is no cross-link.
    claims_ = false;
    Restart();
  }
  while (index_ < index) {
    if (stopped_) return false;
    const ChainStep step = reader_.Next(cluster_);
    if (step.link != ChainLink::kNext || !Visit(step.next)) {
      stopped_ = true;
      faulted_ = faulted_ || step.link != ChainLink::kEnd;
      return false;
    }
    cluster_ = step.next;
    ++index_;
  }
  return start_valid_;
}

}  // namespace quarn

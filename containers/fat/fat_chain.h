#pragma once

#include <cstdint>
#include <vector>

#include "containers/fat/fat_volume.h"

namespace quarn {

enum class ChainLink { kNext, kEnd, kBroken };

struct ChainStep {
  ChainLink link = ChainLink::kBroken;
  uint32_t next = 0;
};

// Reads entries of a volume's first FAT, keeping the last block read: walking a chain reads
// each FAT sector once rather than once per cluster. One per walker; not shared.
class FatReader {
 public:
  explicit FatReader(const FatVolume& volume) : volume_(volume) {}

  // Where the chain goes after `cluster`: the next data cluster, its end, or broken (a
  // free, bad, reserved or out-of-range entry, or a FAT that ends before the entry).
  ChainStep Next(uint32_t cluster);

 private:
  bool Load(uint64_t offset, size_t width);

  const FatVolume& volume_;
  std::vector<uint8_t> block_;
  uint64_t block_offset_ = 0;
};

// A position in one cluster chain, moved forward one link at a time and back by walking
// again from the start. A bit per cluster of the volume marks the clusters this walk has
// visited, so a loop ends the chain instead of the reader.
class ChainCursor {
 public:
  ChainCursor(FatVolume& volume, uint32_t first_cluster);

  // Moves to the chain's `index`th cluster (0 is the first). False when the chain stops
  // before it: cleanly at its end, or at a fault that faulted() then tells.
  bool MoveTo(uint64_t index);

  uint32_t cluster() const { return cluster_; }
  uint64_t index() const { return index_; }
  // The chain stopped at a bad link or a loop, or started outside the data clusters.
  bool faulted() const { return faulted_; }
  // The chain went through a cluster another chain claimed first.
  bool crossed() const { return crossed_; }

 private:
  void Restart();
  bool Visit(uint32_t cluster);

  FatVolume& volume_;
  FatReader reader_;
  uint32_t first_;
  uint32_t cluster_ = 0;
  uint64_t index_ = 0;
  bool stopped_ = false;
  bool start_valid_ = false;
  bool faulted_ = false;
  bool crossed_ = false;
  bool claims_ = false;
  std::vector<uint64_t> visited_;
};

}  // namespace quarn

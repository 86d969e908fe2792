#pragma once

// What the archive openers' tests share: an archive held in memory as a platform File,
// opened as the scan opens it, and read entry by entry to the end as the scan reads it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "containers/container.h"
#include "containers/test_support/disk_image_test_support.h"
#include "platform/read_cache_file.h"

namespace quarn::testing {

// The bytes a scan holds of a file once the detectors have read its start and its end, the
// tail as long as an opener may ask.
inline HeldEnds HeldAsTheScanHolds(const std::vector<uint8_t>& bytes) {
  const size_t head = std::min<size_t>(bytes.size(), ReadCacheFile::kHeadSize + 1);
  const size_t tail = std::min<size_t>(bytes.size(), ReadCacheFile::kMaxTailSize);
  return HeldEnds{std::span(bytes.data(), head),
                  std::span(bytes.data() + bytes.size() - tail, tail), bytes.size()};
}

// Every archive a test opens also checks the quick looks a scan makes first: they may let in
// what does not open, never turn away what does.
inline std::optional<OpenedContainer> OpenChecked(ContainerOpener& opener, ContainerKind kind,
                                                  const std::vector<uint8_t>& bytes) {
  std::optional<OpenedContainer> opened = opener.Open(ImageFile(bytes));
  if (opened) {
    const size_t head = std::min(bytes.size(), kContainerHeadBytes);
    EXPECT_TRUE(opener.MayOpen(std::span(bytes.data(), head), bytes.size()))
        << "the quick look turns away an archive that opens";
    EXPECT_TRUE(opener.MayOpenHeld(HeldAsTheScanHolds(bytes)))
        << "the look at the held bytes turns away an archive that opens";
    EXPECT_EQ(opened->kind, kind);
    EXPECT_NE(opened->archive, nullptr);
  }
  return opened;
}

struct ReadEntry {
  ArchiveEntry entry;
  std::vector<uint8_t> data;
  std::optional<IncompleteReason> failure;
  uint64_t packed = 0;  // what PackedBytesRead grew by while the data was read
};

struct WholeArchive {
  std::vector<ReadEntry> entries;
  bool damaged = false;
};

// Every entry in order; the data of each regular, readable one to its end or its failure,
// `block` bytes at a time. A reader that keeps giving data past any sane size fails the test.
inline WholeArchive ReadWhole(ArchiveReader& archive, size_t block = 4096) {
  constexpr size_t kMostBytes = size_t{64} << 20;
  WholeArchive whole;
  std::vector<uint8_t> buffer(block);
  while (std::optional<ArchiveEntry> entry = archive.NextEntry()) {
    ReadEntry read;
    read.entry = *entry;
    if (entry->regular && !entry->unreadable) {
      const uint64_t packed_start = archive.PackedBytesRead();
      while (true) {
        const EntryRead got = archive.ReadData(buffer.data(), buffer.size());
        if (got.failure) read.failure = got.failure;
        if (got.failure || got.bytes == 0) break;
        read.data.insert(read.data.end(), buffer.begin(), buffer.begin() + got.bytes);
        if (read.data.size() > kMostBytes) {
          ADD_FAILURE() << "an entry gives data without end";
          break;
        }
      }
      read.packed = archive.PackedBytesRead() - packed_start;
    }
    whole.entries.push_back(std::move(read));
  }
  whole.damaged = archive.Damaged();
  return whole;
}

}  // namespace quarn::testing

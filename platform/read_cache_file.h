#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/file.h"

namespace quarn {

// A read-only view of an open file that keeps a few aligned 4 KiB blocks of it, so the many
// small reads the detectors make at the start, the entry and the end of a file cost one
// read of the underlying file per block. Meant for the few milliseconds a file is being
// scanned: it assumes the file does not change meanwhile, and it never writes.
class ReadCacheFile : public File {
 public:
  static constexpr uint32_t kBlockSize = 4096;
  static constexpr int kBlocks = 4;

  explicit ReadCacheFile(File& file) : file_(file) {}

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override { return position_; }
  std::optional<uint64_t> Size() override;
  // Writing is refused: the view is for scanning.
  uint32_t Write(const void*, uint32_t) override { return 0; }
  bool SetEndOfFile() override { return false; }
  bool Flush() override { return true; }
  std::optional<FileTimes> GetTimes() override { return file_.GetTimes(); }
  bool SetTimes(const FileTimes&) override { return false; }
  std::optional<FileAttributes> GetAttributes() override { return file_.GetAttributes(); }
  bool SetAttributes(const FileAttributes&) override { return false; }
  std::optional<FileInfo> GetInfo() override { return file_.GetInfo(); }
  bool SetOwner(uint32_t, uint32_t) override { return false; }

  // Reads of the underlying file so far, for tests and benchmarks.
  int underlying_reads() const { return underlying_reads_; }

 private:
  struct Block {
    uint64_t index = UINT64_MAX;  // which block of the file; UINT64_MAX = empty
    uint32_t filled = 0;          // bytes the file delivered (fewer at its end)
    uint64_t last_use = 0;
    std::array<uint8_t, kBlockSize> bytes;
  };

  // The cached block `index`, read from the file when it is not held; nothing when the
  // read delivered nothing.
  const Block* Fetch(uint64_t index);

  File& file_;
  uint64_t position_ = 0;
  std::optional<std::optional<uint64_t>> size_;
  std::array<Block, kBlocks> blocks_;
  uint64_t clock_ = 0;
  int underlying_reads_ = 0;
};

}  // namespace quarn

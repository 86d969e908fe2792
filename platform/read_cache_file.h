#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "platform/file.h"

namespace quarn {

// A read-only view of an open file for the few milliseconds it is being scanned. The
// detectors make many small reads near the start, the entry and the end of a file, so the
// view keeps three kinds of piece, each read from the file at most once:
//   - the head: the first kHeadSize bytes (and the next, so a small file's end is known),
//     read on the first read below that offset;
//   - the tail: the last kTailSize bytes as Size() tells them (more, up to kMaxTailSize,
//     when the reach asked for at construction says so from the head), and the byte after,
//     so the end is known, read on the first read there;
//   - up to kBlocks aligned blocks of kBlockSize for anything in between, least recently
//     used first out.
// Once any piece delivers less than asked, the file's end is known and reads past it cost
// nothing. It assumes the file does not change meanwhile: a piece that reaches the end
// Size() tells is taken to end the file there. Every read answers what the same read of
// the file itself would. It never writes.
class ReadCacheFile : public File {
 public:
  static constexpr uint32_t kBlockSize = 4096;
  static constexpr int kBlocks = 4;
  // The head and the byte after it fill one page; the tail is half that. Every byte more is
  // copied out of the page cache for each file of a scan, and the detectors look at the first
  // few hundred bytes and the last few dozen of nearly every file.
  static constexpr uint32_t kHeadSize = 4095;
  static constexpr uint32_t kTailSize = 2047;
  static constexpr uint32_t kMaxTailSize = 16384;

  // How many of the file's last bytes the tail should hold, told the head as far as it is
  // read (nothing when the tail is read first) and the size; below kTailSize means kTailSize.
  // Asked once, before the tail is read; it must not read the file.
  using TailReach = std::function<uint32_t(std::span<const uint8_t> head, uint64_t size)>;

  explicit ReadCacheFile(File& file, TailReach reach = {})
      : file_(file), reach_(std::move(reach)) {}

  // The bytes of the head and of the tail read so far, without reading: the head from offset
  // 0, the tail from TailHeldFrom(). Empty when not read.
  std::span<const uint8_t> HeadHeld() const { return {head_.bytes.data(), head_.filled}; }
  std::span<const uint8_t> TailHeld() const { return {tail_.bytes.data(), tail_.filled}; }
  uint64_t TailHeldFrom() const { return tail_.start; }

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

  // Pieces read from the underlying file so far (head, tail and blocks), for tests and
  // benchmarks.
  int underlying_reads() const { return underlying_reads_; }

 private:
  struct Block {
    uint64_t index = UINT64_MAX;  // which block of the file; UINT64_MAX = empty
    uint32_t filled = 0;          // bytes the file delivered (fewer at its end)
    uint64_t last_use = 0;
    std::array<uint8_t, kBlockSize> bytes;
  };

  template <size_t N>
  struct Window {
    bool loaded = false;
    uint64_t start = 0;
    uint32_t filled = 0;
    std::array<uint8_t, N> bytes;
  };

  // Bytes of the file from `at` on that one piece holds, or an empty answer when the file
  // holds nothing there.
  struct Piece {
    const uint8_t* bytes = nullptr;
    uint32_t length = 0;
  };
  Piece PieceAt(uint64_t at);

  // Fills `destination` with up to `length` bytes from `offset`; short reads of the file are
  // retried, and only "nothing" ends the fill. Notes the file's end when it comes short.
  uint32_t Load(uint64_t offset, uint8_t* destination, uint32_t length);
  // The cached block `index`, read from the file when it is not held; nothing when the
  // read delivered nothing.
  const Block* Fetch(uint64_t index);
  // Where the tail starts, or nothing when the file has no tail apart from its head.
  std::optional<uint64_t> TailStart();

  File& file_;
  uint64_t position_ = 0;
  std::optional<std::optional<uint64_t>> size_;
  std::optional<uint64_t> known_end_;  // reads from here on deliver nothing
  Window<kHeadSize + 1> head_;
  TailReach reach_;
  std::optional<uint32_t> tail_size_;  // decided on the first question about the tail
  Window<kMaxTailSize + 1> tail_;
  std::array<Block, kBlocks> blocks_;
  uint64_t clock_ = 0;
  int underlying_reads_ = 0;
};

}  // namespace quarn

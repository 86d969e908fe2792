#include "platform/read_cache_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quarn {

uint32_t ReadCacheFile::Load(uint64_t offset, uint8_t* destination, uint32_t length) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return 0;
  ++underlying_reads_;
  if (!file_.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin)) return 0;
  // A file may deliver less than asked before its end; "nothing", or reaching the end its
  // size tells, means the end. Trusting the size saves the read that would deliver nothing.
  uint32_t filled = 0;
  while (filled < length) {
    const uint32_t got = file_.ReadSome(destination + filled, length - filled);
    if (got == 0) break;
    filled += got;
    const std::optional<uint64_t> size = Size();
    if (filled < length && size && offset + filled >= *size) break;
  }
  if (filled < length) {
    const uint64_t end = offset + filled;
    known_end_ = known_end_ ? std::min(*known_end_, end) : end;
  }
  return filled;
}

const ReadCacheFile::Block* ReadCacheFile::Fetch(uint64_t index) {
  Block* oldest = &blocks_[0];
  for (Block& block : blocks_) {
    if (block.index == index) {
      block.last_use = ++clock_;
      return &block;
    }
    if (block.last_use < oldest->last_use) oldest = &block;
  }
  oldest->index = UINT64_MAX;
  oldest->filled = Load(index * kBlockSize, oldest->bytes.data(), kBlockSize);
  if (oldest->filled == 0) return nullptr;
  oldest->index = index;
  oldest->last_use = ++clock_;
  return oldest;
}

std::optional<uint64_t> ReadCacheFile::TailStart() {
  const std::optional<uint64_t> size = Size();
  if (!size || *size <= kHeadSize) return std::nullopt;
  if (!tail_size_) {
    const uint32_t wanted = reach_ ? reach_(HeadHeld(), *size) : 0;
    tail_size_ = std::clamp(wanted, kTailSize, kMaxTailSize);
  }
  return *size > kHeadSize + *tail_size_ ? *size - *tail_size_ : kHeadSize;
}

ReadCacheFile::Piece ReadCacheFile::PieceAt(uint64_t at) {
  if (known_end_ && at >= *known_end_) return {};
  if (at < head_.bytes.size()) {
    if (!head_.loaded) {
      head_.loaded = true;
      head_.filled = Load(0, head_.bytes.data(), static_cast<uint32_t>(head_.bytes.size()));
    }
    if (at >= head_.filled) return {};
    return {head_.bytes.data() + at, static_cast<uint32_t>(head_.filled - at)};
  }
  const std::optional<uint64_t> tail_start = TailStart();
  if (tail_start && at >= *tail_start) {
    if (!tail_.loaded) {
      tail_.loaded = true;
      tail_.start = *tail_start;
      // The byte past the end as the size tells it is asked for too: when it is not there,
      // the end is known and reads beyond it need not go to the file.
      const uint32_t length = static_cast<uint32_t>(
          std::min<uint64_t>(*Size() - *tail_start + 1, static_cast<uint64_t>(tail_.bytes.size())));
      tail_.filled = Load(tail_.start, tail_.bytes.data(), length);
    }
    if (at < tail_.start + tail_.filled) {
      const uint64_t within = at - tail_.start;
      return {tail_.bytes.data() + within, static_cast<uint32_t>(tail_.filled - within)};
    }
    if (known_end_ && at >= *known_end_) return {};
  }
  const Block* block = Fetch(at / kBlockSize);
  if (block == nullptr) return {};
  const uint32_t within = static_cast<uint32_t>(at % kBlockSize);
  if (within >= block->filled) return {};
  return {block->bytes.data() + within, block->filled - within};
}

uint32_t ReadCacheFile::Read(void* buffer, uint32_t length) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < length) {
    const Piece piece = PieceAt(position_ + done);
    if (piece.length == 0) break;
    const uint32_t count = std::min(length - done, piece.length);
    std::memcpy(out + done, piece.bytes, count);
    done += count;
  }
  position_ += done;
  return done;
}

std::optional<uint64_t> ReadCacheFile::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = 0;
  switch (origin) {
    case SeekOrigin::kBegin:
      break;
    case SeekOrigin::kCurrent:
      base = static_cast<int64_t>(position_);
      break;
    case SeekOrigin::kEnd: {
      const std::optional<uint64_t> size = Size();
      if (!size) return std::nullopt;
      base = static_cast<int64_t>(*size);
      break;
    }
  }
  int64_t target = 0;
  if (__builtin_add_overflow(base, offset, &target) || target < 0) return std::nullopt;
  position_ = static_cast<uint64_t>(target);
  return position_;
}

std::optional<uint64_t> ReadCacheFile::Size() {
  if (!size_) size_ = file_.SizeWhenOpened();
  return *size_;
}

}  // namespace quarn

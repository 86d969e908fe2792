#include "containers/archives/held_bytes_checks.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

namespace quarn {
namespace {

// libarchive's seekable ZIP reader looks no further back than this for the end record.
constexpr uint64_t kZipEndSearch = 16 * 1024;
constexpr uint64_t kZipEndRecordBytes = 22;
constexpr std::string_view kZipMagic = "PK\x03\x04";
constexpr std::string_view kZipEndMark = "PK\x05\x06";
constexpr std::string_view kZip64LocatorMark = "PK\x06\x07";

// Whether an end record or a ZIP64 end locator (which older readers looked for) starts in
// `bytes`.
bool HoldsZipEndMark(std::span<const uint8_t> bytes) {
  const uint8_t* const end = bytes.data() + bytes.size();
  for (const uint8_t* at = bytes.data(); end - at >= 4; ++at) {
    at = static_cast<const uint8_t*>(std::memchr(at, 'P', static_cast<size_t>(end - at - 3)));
    if (at == nullptr) return false;
    const std::string_view here(reinterpret_cast<const char*>(at), 4);
    if (here == kZipEndMark || here == kZip64LocatorMark) return true;
  }
  return false;
}

// Whether an end mark may start anywhere in the last kZipEndSearch bytes; true when any of
// them is not held. The head may hold the first part of them, the tail the rest.
bool ZipEndMayBeHeld(const HeldEnds& held) {
  if (held.size < kZipEndRecordBytes) return false;
  const uint64_t from = held.size > kZipEndSearch ? held.size - kZipEndSearch : 0;
  const auto length = static_cast<size_t>(held.size - from);
  const size_t from_tail = std::min(length, held.tail.size());
  const size_t from_head = length - from_tail;
  if (from_head > 0 && from + from_head > held.head.size()) return true;
  const std::span<const uint8_t> first = held.head.subspan(static_cast<size_t>(from), from_head);
  const std::span<const uint8_t> last = held.tail.last(from_tail);
  // A mark across the seam between the two.
  std::array<uint8_t, 6> seam{};
  const size_t before = std::min<size_t>(first.size(), 3);
  const size_t after = std::min<size_t>(last.size(), 3);
  std::copy(first.end() - static_cast<ptrdiff_t>(before), first.end(), seam.begin());
  std::copy_n(last.begin(), after, seam.begin() + static_cast<ptrdiff_t>(before));
  return HoldsZipEndMark(first) || HoldsZipEndMark(last) ||
         HoldsZipEndMark(std::span(seam.data(), before + after));
}

// The first volume descriptor follows a 32 KiB system area and starts with its type and
// "CD001"; libarchive refuses a file whose first one does not.
constexpr uint64_t kStandardAt = 32 * 1024 + 1;
constexpr std::string_view kStandard = "CD001";

bool IsoDescriptorMayBeHeld(const HeldEnds& held) {
  for (size_t i = 0; i < kStandard.size(); ++i) {
    const std::optional<uint8_t> byte = held.At(kStandardAt + i);
    if (!byte) return true;
    if (*byte != static_cast<uint8_t>(kStandard[i])) return false;
  }
  return true;
}

// Where the deflated data starts after a gzip header as libarchive parses it, or nothing when
// it runs past the head or carries a header check sum (which libarchive checks; left to it).
std::optional<size_t> GzipDataStart(std::span<const uint8_t> head) {
  constexpr size_t kFixedHeader = 10;
  constexpr uint8_t kHeaderCrc = 0x02;
  constexpr uint8_t kExtra = 0x04;
  constexpr uint8_t kName = 0x08;
  constexpr uint8_t kComment = 0x10;
  if (head.size() < kFixedHeader) return std::nullopt;
  const uint8_t flags = head[3];
  if ((flags & kHeaderCrc) != 0) return std::nullopt;
  size_t at = kFixedHeader;
  if ((flags & kExtra) != 0) {
    if (at + 2 > head.size()) return std::nullopt;
    at += 2 + (head[at] | (size_t{head[at + 1]} << 8));
  }
  for (const uint8_t text : {kName, kComment}) {
    if ((flags & text) == 0) continue;
    while (at < head.size() && head[at] != 0) ++at;
    ++at;  // past the terminating zero
  }
  if (at >= head.size()) return std::nullopt;
  return at;
}

// zlib's state and window, taken from a block each thread keeps, so that a look at a file's
// start allocates nothing.
struct InflateArena {
  static constexpr size_t kBytes = 64 * 1024;
  alignas(std::max_align_t) std::array<uint8_t, kBytes> bytes;
  size_t used = 0;
};

voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size) {
  auto* arena = static_cast<InflateArena*>(opaque);
  const size_t wanted = static_cast<size_t>(items) * size;
  constexpr size_t kAlign = alignof(std::max_align_t);
  const size_t start = (arena->used + kAlign - 1) / kAlign * kAlign;
  if (items == 0 || wanted / items != size || start + wanted > arena->bytes.size()) {
    return Z_NULL;
  }
  arena->used = start + wanted;
  return arena->bytes.data() + start;
}

void ArenaFree(voidpf, voidpf) {}

// libarchive's gzip filter refuses a stream whose deflated data fails to inflate before it
// has given any: inflating the held bytes tells the same, since inflating is deterministic.
bool GzipMayInflate(std::span<const uint8_t> head) {
  constexpr uint8_t kDeflate = 8;
  constexpr uint8_t kReservedFlags = 0xE0;
  if (head.size() < 4) return true;
  if (head[2] != kDeflate || (head[3] & kReservedFlags) != 0) return false;
  const std::optional<size_t> data = GzipDataStart(head);
  if (!data) return true;
  thread_local InflateArena arena;
  arena.used = 0;
  z_stream stream{};
  stream.zalloc = ArenaAlloc;
  stream.zfree = ArenaFree;
  stream.opaque = &arena;
  constexpr int kRawDeflate = -15;
  if (inflateInit2(&stream, kRawDeflate) != Z_OK) return true;
  stream.next_in = const_cast<Bytef*>(head.data() + *data);
  stream.avail_in = static_cast<uInt>(head.size() - *data);
  // libarchive's first read asks for this much: a failure past it is not seen at the start.
  constexpr uLong kFirstRead = 64 * 1024;
  std::array<uint8_t, 4096> out;
  int result = Z_OK;
  while (result == Z_OK && stream.avail_in > 0 && stream.total_out < kFirstRead) {
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    result = inflate(&stream, Z_NO_FLUSH);
  }
  inflateEnd(&stream);
  return result != Z_DATA_ERROR;
}

}  // namespace

bool HeldBytesMayBe(ContainerKind kind, const HeldEnds& held) {
  switch (kind) {
    case ContainerKind::kZip:
      return ZipEndMayBeHeld(held);
    case ContainerKind::kIso9660:
      return IsoDescriptorMayBeHeld(held);
    case ContainerKind::kGzip:
      return GzipMayInflate(held.head);
    default:
      return true;
  }
}

std::optional<BytesWanted> HeldLookWanted(ContainerKind kind, const HeldEnds& held) {
  if (kind != ContainerKind::kIso9660 || held.size < kStandardAt + kStandard.size()) {
    return std::nullopt;
  }
  return BytesWanted{kStandardAt, static_cast<uint32_t>(kStandard.size())};
}

uint32_t HeldTailWanted(std::span<const uint8_t> head, uint64_t) {
  const bool zip =
      head.size() >= kZipMagic.size() &&
      std::string_view(reinterpret_cast<const char*>(head.data()), kZipMagic.size()) == kZipMagic;
  return zip ? static_cast<uint32_t>(kZipEndSearch) : 0;
}

}  // namespace quarn

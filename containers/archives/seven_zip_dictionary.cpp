#include "containers/archives/seven_zip_dictionary.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <span>
#include <vector>

#include "containers/archives/seven_zip_packed_header.h"
#include "containers/archives/stream_dictionary.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"

namespace quarn {
namespace {

constexpr std::array<uint8_t, 6> kSignature = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
// The start header: signature, version, its own CRC, then where the header lies (from the
// start header's end) and how long it is.
constexpr size_t kStartHeaderBytes = 32;
constexpr size_t kStartHeaderCrcAt = 8;
constexpr size_t kNextHeaderOffsetAt = 12;
constexpr size_t kNextHeaderSizeAt = 20;
constexpr size_t kNextHeaderCrcAt = 28;

// The property ids of the header that lead to the folders.
constexpr uint8_t kEnd = 0x00;
constexpr uint8_t kHeader = 0x01;
constexpr uint8_t kArchiveProperties = 0x02;
constexpr uint8_t kMainStreamsInfo = 0x04;
constexpr uint8_t kFilesInfo = 0x05;
constexpr uint8_t kPackInfo = 0x06;
constexpr uint8_t kUnpackInfo = 0x07;
constexpr uint8_t kSize = 0x09;
constexpr uint8_t kCrc = 0x0A;
constexpr uint8_t kFolder = 0x0B;
constexpr uint8_t kCodersUnpackSize = 0x0C;
constexpr uint8_t kEncodedHeader = 0x17;

// A coder's first byte: the id's length, then whether it has several streams and properties.
constexpr uint8_t kIdBytesMask = 0x0F;
constexpr uint8_t kComplexCoder = 0x10;
constexpr uint8_t kHasProperties = 0x20;
constexpr uint8_t kAlternativeMethods = 0x80;  // an old form no reader takes

// Far past any folder 7z writes (four coders at most) or libarchive reads (four).
constexpr uint64_t kMaxCodersPerFolder = 64;

uint64_t U64At(std::span<const uint8_t> bytes, size_t offset) {
  return ReadU32(bytes, offset) | uint64_t{ReadU32(bytes, offset + 4)} << 32;
}

// The memory `coder`'s decoder allocates up front; properties too short for it ask nothing,
// as the decoder refuses them.
uint64_t CoderMemory(const SevenZipCoder& coder) {
  switch (coder.method) {
    case kSevenZipLzma:
    case kSevenZipPpmd:
      return coder.property_bytes >= 5 ? ReadU32(coder.properties, 1) : 0;
    case kSevenZipLzma2:
      return coder.property_bytes >= 1 ? Lzma2DictionarySize(coder.properties[0]).value_or(0) : 0;
    default:
      return 0;
  }
}

// The header's bytes in order. Every read is checked; one that runs past the end fails and
// says so, which tells a header cut short from one whose structure breaks.
class HeaderReader {
 public:
  explicit HeaderReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  std::optional<uint8_t> Byte() {
    if (!Holds(1)) return std::nullopt;
    return bytes_[at_++];
  }

  // A 7z number: the first byte's high bits, one per byte, tell how many bytes follow (low
  // byte first); its remaining low bits are the number's highest.
  std::optional<uint64_t> Number() {
    const std::optional<uint8_t> first = Byte();
    if (!first) return std::nullopt;
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i, mask >>= 1) {
      if ((*first & mask) == 0) return value | uint64_t{*first & (mask - 1u)} << (8 * i);
      const std::optional<uint8_t> next = Byte();
      if (!next) return std::nullopt;
      value |= uint64_t{*next} << (8 * i);
    }
    return value;
  }

  bool Skip(uint64_t count) {
    if (!Holds(count)) return false;
    at_ += static_cast<size_t>(count);
    return true;
  }

  // Whether `count` more bytes are there: also the bound of every count the header claims for
  // things that take at least a byte each.
  bool Holds(uint64_t count) {
    if (count <= bytes_.size() - at_) return true;
    ran_out_ = true;
    return false;
  }

  bool RanOut() const { return ran_out_; }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  bool ran_out_ = false;
};

// A walk of a header's streams info down to its folders' coders, keeping the largest memory
// one asks for. Nothing is allocated however many things the header claims: counts are
// bounded by the bytes left, and what is read is only remembered as the largest so far.
class HeaderWalk {
 public:
  explicit HeaderWalk(std::span<const uint8_t> bytes) : in_(bytes) {}

  // A plain header, after its kHeader id, to the end of its main streams' folders; each
  // archive property's data skipped by its size, or not at all.
  bool PlainHeader(bool skip_property_data) {
    std::optional<uint8_t> id = in_.Byte();
    if (id == kArchiveProperties) {
      while (true) {
        const std::optional<uint8_t> type = in_.Byte();
        if (!type) return false;
        if (type == kEnd) break;
        const std::optional<uint64_t> size = in_.Number();
        if (!size || (skip_property_data && !in_.Skip(*size))) return false;
      }
      id = in_.Byte();
    }
    // No streams, no folders: every file is empty.
    if (id == kEnd || id == kFilesInfo) return true;
    return id == kMainStreamsInfo && StreamsInfo(nullptr);
  }

  // Streams info down to its folders. With `packed` (a packed header's streams info), on to
  // the first folder's unpacked size, noting where the header lies and how it is packed.
  bool StreamsInfo(SevenZipPackedHeader* packed) {
    std::optional<uint8_t> id = in_.Byte();
    if (id == kPackInfo) {
      if (!PackInfo(packed)) return false;
      id = in_.Byte();
    } else if (packed != nullptr) {
      return false;
    }
    if (id != kUnpackInfo) return id.has_value() && packed == nullptr;
    return UnpackInfo(packed);
  }

  uint64_t largest() const { return largest_; }
  bool encrypted() const { return encrypted_; }
  bool RanOut() const { return in_.RanOut(); }

 private:
  bool PackInfo(SevenZipPackedHeader* packed) {
    const std::optional<uint64_t> position = in_.Number();
    const std::optional<uint64_t> streams = in_.Number();
    if (!position || !streams || *streams == 0 || in_.Byte() != kSize || !in_.Holds(*streams)) {
      return false;
    }
    const std::optional<uint64_t> first_size = in_.Number();
    if (!first_size) return false;
    for (uint64_t i = 1; i < *streams; ++i) {
      if (!in_.Number()) return false;
    }
    std::optional<uint8_t> id = in_.Byte();
    if (id == kCrc) {
      if (!Digests(*streams)) return false;
      id = in_.Byte();
    }
    if (id != kEnd) return false;
    if (packed != nullptr) {
      if (*position > std::numeric_limits<uint64_t>::max() - kStartHeaderBytes) return false;
      packed->offset = kStartHeaderBytes + *position;
      packed->packed_size = *first_size;
    }
    return true;
  }

  bool UnpackInfo(SevenZipPackedHeader* packed) {
    if (in_.Byte() != kFolder) return false;
    const std::optional<uint64_t> folders = in_.Number();
    const std::optional<uint8_t> external = in_.Byte();
    if (!folders || !external || !in_.Holds(*folders)) return false;
    // Folders kept in a stream of their own: a form readers take only when it holds none.
    if (*external != 0 && (*external != 1 || *folders != 0 || !in_.Number())) return false;
    for (uint64_t i = 0; i < *folders; ++i) {
      if (!Folder(i == 0 ? packed : nullptr)) return false;
    }
    if (packed == nullptr) return true;
    if (*folders == 0 || in_.Byte() != kCodersUnpackSize) return false;
    const std::optional<uint64_t> unpacked = in_.Number();
    if (!unpacked) return false;
    packed->unpacked_size = *unpacked;
    return true;
  }

  bool Folder(SevenZipPackedHeader* packed) {
    const std::optional<uint64_t> coders = in_.Number();
    if (!coders || *coders == 0 || *coders > kMaxCodersPerFolder) return false;
    uint64_t streams_in = 0;
    uint64_t streams_out = 0;
    for (uint64_t i = 0; i < *coders; ++i) {
      SevenZipCoder coder;
      uint64_t coder_in = 1;
      uint64_t coder_out = 1;
      if (!Coder(&coder, &coder_in, &coder_out)) return false;
      largest_ = std::max(largest_, CoderMemory(coder));
      encrypted_ = encrypted_ || coder.method == kSevenZipAes;
      streams_in += coder_in;
      streams_out += coder_out;
      if (packed != nullptr && i == 0) packed->coder = coder;
    }
    if (streams_out == 0 || streams_in + 1 < streams_out) return false;
    // The bind pairs (an input and an output each), then the packed streams' indices where
    // there are several.
    const uint64_t bind_pairs = streams_out - 1;
    const uint64_t packed_streams = streams_in - bind_pairs;
    const uint64_t indices = 2 * bind_pairs + (packed_streams > 1 ? packed_streams : 0);
    for (uint64_t i = 0; i < indices; ++i) {
      if (!in_.Number()) return false;
    }
    if (packed != nullptr) {
      packed->single_coder = *coders == 1 && streams_in == 1 && streams_out == 1;
    }
    return true;
  }

  bool Coder(SevenZipCoder* coder, uint64_t* streams_in, uint64_t* streams_out) {
    const std::optional<uint8_t> flags = in_.Byte();
    if (!flags || (*flags & kAlternativeMethods) != 0) return false;
    // An id longer than 8 bytes keeps its last 8, as a reader that shifts each byte in does.
    const size_t id_bytes = *flags & kIdBytesMask;
    for (size_t i = 0; i < id_bytes; ++i) {
      const std::optional<uint8_t> byte = in_.Byte();
      if (!byte) return false;
      coder->method = coder->method << 8 | *byte;
    }
    if ((*flags & kComplexCoder) != 0) {
      const std::optional<uint64_t> in = in_.Number();
      const std::optional<uint64_t> out = in_.Number();
      // Each stream but one takes a byte at least (a bind pair's or a packed stream's
      // index): the bound that refuses no folder a reader could take whole.
      if (!in || !out || !in_.Holds(std::max<uint64_t>({*in, *out, 1}) - 1)) return false;
      *streams_in = *in;
      *streams_out = *out;
    }
    if ((*flags & kHasProperties) != 0) {
      const std::optional<uint64_t> size = in_.Number();
      if (!size || !in_.Holds(*size)) return false;
      coder->property_bytes = *size;
      const size_t kept = static_cast<size_t>(std::min<uint64_t>(*size, coder->properties.size()));
      for (size_t i = 0; i < kept; ++i) coder->properties[i] = *in_.Byte();
      if (!in_.Skip(*size - kept)) return false;
    }
    return true;
  }

  // A CRC for each of `count` things, or for those a bit vector marks.
  bool Digests(uint64_t count) {
    const std::optional<uint8_t> all_defined = in_.Byte();
    if (!all_defined) return false;
    uint64_t defined = count;
    if (*all_defined == 0) {
      if (!in_.Holds((count + 7) / 8)) return false;
      defined = 0;
      for (uint64_t bit = 0; bit < count; bit += 8) {
        uint8_t byte = *in_.Byte();
        if (count - bit < 8) byte &= static_cast<uint8_t>(0xFF00 >> (count - bit));
        defined += static_cast<uint64_t>(std::popcount(byte));
      }
    }
    return in_.Skip(4 * defined);
  }

  HeaderReader in_;
  uint64_t largest_ = 0;
  bool encrypted_ = false;
};

constexpr uint64_t kTooLarge = std::numeric_limits<uint64_t>::max();

struct PlainReading {
  std::optional<uint64_t> largest;  // nothing when neither reading reaches the folders
  bool ran_out = false;
};

// A plain header after its kHeader id. Readers differ on archive properties: the format says
// to skip each one's data by its size, the libarchive of this system reads the size alone and
// goes on from there (later releases skip). Both readings are walked, the larger answer kept,
// so that no folder hides in what one of them skips.
PlainReading ReadPlainHeader(std::span<const uint8_t> bytes) {
  PlainReading reading;
  for (const bool skip_property_data : {true, false}) {
    HeaderWalk walk(bytes);
    if (walk.PlainHeader(skip_property_data)) {
      reading.largest = std::max(reading.largest.value_or(0), walk.largest());
    }
    reading.ran_out = reading.ran_out || walk.RanOut();
  }
  return reading;
}

// The largest memory of a packed header's coders (`own`) and of those its unpacked bytes list.
std::optional<uint64_t> PackedHeaderMemory(File& archive, const SevenZipPackedHeader& packed,
                                           uint64_t own) {
  if (packed.unpacked_size > kMaxSevenZipHeader) return kTooLarge;
  const std::optional<std::vector<uint8_t>> header = UnpackSevenZipHeader(archive, packed);
  // The archive's reader takes no packed header in front of another.
  if (!header || header->empty() || (*header)[0] != kHeader) return std::nullopt;
  const std::optional<uint64_t> listed = ReadPlainHeader(std::span(*header).subspan(1)).largest;
  if (!listed) return std::nullopt;
  return std::max(own, *listed);
}

// The header the start header points to, at most kMaxSevenZipHeader bytes of it (none for an
// archive of no files at all), and what the start header says of it.
struct NextHeader {
  std::vector<uint8_t> bytes;
  uint64_t claimed_size = 0;
  uint32_t crc = 0;
  bool start_header_whole = false;  // the start header's own CRC holds
};

std::optional<NextHeader> ReadNextHeader(File& archive) {
  std::array<uint8_t, kStartHeaderBytes> start{};
  const std::optional<uint64_t> size = archive.Size();
  if (!size || !ReadExactlyAt(archive, 0, start) ||
      !std::equal(kSignature.begin(), kSignature.end(), start.begin())) {
    return std::nullopt;
  }
  NextHeader next;
  const std::span<const uint8_t> checked = std::span(start).subspan(kNextHeaderOffsetAt);
  next.start_header_whole = crc32(0L, checked.data(), static_cast<uInt>(checked.size())) ==
                            ReadU32(start, kStartHeaderCrcAt);
  next.crc = ReadU32(start, kNextHeaderCrcAt);
  const uint64_t header_offset = U64At(start, kNextHeaderOffsetAt);
  next.claimed_size = U64At(start, kNextHeaderSizeAt);
  if (next.claimed_size == 0) return next;
  if (header_offset > *size - kStartHeaderBytes ||
      next.claimed_size > *size - kStartHeaderBytes - header_offset) {
    return std::nullopt;
  }
  next.bytes.resize(static_cast<size_t>(std::min(next.claimed_size, kMaxSevenZipHeader)));
  if (!ReadExactlyAt(archive, kStartHeaderBytes + header_offset, next.bytes)) return std::nullopt;
  return next;
}

}  // namespace

std::optional<uint64_t> SevenZipDictionarySize(File& archive) {
  const std::optional<NextHeader> next = ReadNextHeader(archive);
  if (!next) return std::nullopt;
  // An archive of no files at all has no header.
  if (next->claimed_size == 0) return 0;
  const std::vector<uint8_t>& header = next->bytes;

  // A header longer than what was read may hold what decides the answer past that.
  const bool cut = header.size() < next->claimed_size;
  const std::span<const uint8_t> body = std::span(header).subspan(1);
  if (header[0] == kHeader) {
    const PlainReading plain = ReadPlainHeader(body);
    if (plain.ran_out && cut) return kTooLarge;
    return plain.largest;
  }
  if (header[0] != kEncodedHeader) return std::nullopt;
  HeaderWalk walk(body);
  SevenZipPackedHeader packed;
  if (!walk.StreamsInfo(&packed)) {
    if (walk.RanOut() && cut) return kTooLarge;
    return std::nullopt;
  }
  return PackedHeaderMemory(archive, packed, walk.largest());
}

bool SevenZipHeaderIsEncrypted(File& archive) {
  const std::optional<NextHeader> next = ReadNextHeader(archive);
  if (!next || !next->start_header_whole || next->bytes.empty() ||
      next->bytes.size() != next->claimed_size ||
      crc32(0L, next->bytes.data(), static_cast<uInt>(next->bytes.size())) != next->crc ||
      next->bytes[0] != kEncodedHeader) {
    return false;
  }
  HeaderWalk walk(std::span(next->bytes).subspan(1));
  SevenZipPackedHeader packed;
  return walk.StreamsInfo(&packed) && walk.encrypted();
}

}  // namespace quarn

#include "containers/archives/seven_zip_packed_header.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <span>

namespace quarn {
namespace {

constexpr uint32_t kInputBlock = 64 * 1024;

// The packed bytes, a block at a time, never past what the header claims or the file holds.
class PackedInput {
 public:
  PackedInput(File& archive, uint64_t offset, uint64_t size)
      : archive_(archive), next_(offset), left_(size) {}

  // The next block; empty at the end or when the file will not give it.
  std::span<const uint8_t> Next() {
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kInputBlock, left_));
    if (wanted == 0 || archive_.Seek(static_cast<int64_t>(next_), SeekOrigin::kBegin) != next_) {
      return {};
    }
    const uint32_t got = archive_.Read(block_.data(), wanted);
    next_ += got;
    left_ -= got;
    return std::span(block_.data(), got);
  }

 private:
  File& archive_;
  uint64_t next_;
  uint64_t left_;
  std::array<uint8_t, kInputBlock> block_;
};

// `out` holds what is unpacked so far; it is reserved for the whole, and grows as bytes
// arrive, so a size the header claims costs nothing until its bytes come.
bool Stored(PackedInput& input, uint64_t unpacked_size, std::vector<uint8_t>& out) {
  while (out.size() < unpacked_size) {
    const std::span<const uint8_t> block = input.Next();
    if (block.empty()) return false;
    const size_t used =
        static_cast<size_t>(std::min<uint64_t>(block.size(), unpacked_size - out.size()));
    out.insert(out.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(used));
  }
  return true;
}

struct FreeOptions {
  void operator()(void* options) const { std::free(options); }
};

bool Lzma(PackedInput& input, const SevenZipCoder& coder, uint64_t unpacked_size,
          std::vector<uint8_t>& out) {
  const bool lzma2 = coder.method == kSevenZipLzma2;
  if (coder.property_bytes != (lzma2 ? 1u : 5u)) return false;
  lzma_filter filters[2] = {{lzma2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, nullptr},
                            {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, coder.properties.data(),
                             static_cast<size_t>(coder.property_bytes)) != LZMA_OK) {
    return false;
  }
  std::unique_ptr<void, FreeOptions> owned(filters[0].options);
  auto* options = static_cast<lzma_options_lzma*>(filters[0].options);
  options->dict_size = static_cast<uint32_t>(std::min<uint64_t>(
      options->dict_size, std::max<uint64_t>(unpacked_size, LZMA_DICT_SIZE_MIN)));

  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK) return false;
  std::unique_ptr<lzma_stream, decltype(&lzma_end)> ended(&stream, &lzma_end);
  std::vector<uint8_t> chunk(kInputBlock);
  // 7z ends its LZMA data without a marker: the unpacked size tells where it ends.
  while (out.size() < unpacked_size) {
    if (stream.avail_in == 0) {
      const std::span<const uint8_t> block = input.Next();
      if (block.empty()) break;
      stream.next_in = block.data();
      stream.avail_in = block.size();
    }
    stream.next_out = chunk.data();
    stream.avail_out =
        static_cast<size_t>(std::min<uint64_t>(chunk.size(), unpacked_size - out.size()));
    const lzma_ret result = lzma_code(&stream, LZMA_RUN);
    out.insert(out.end(), chunk.data(), stream.next_out);
    if (result != LZMA_OK) break;
  }
  return out.size() == unpacked_size;
}

}  // namespace

std::optional<std::vector<uint8_t>> UnpackSevenZipHeader(File& archive,
                                                         const SevenZipPackedHeader& packed) {
  const std::optional<uint64_t> size = archive.Size();
  if (!packed.single_coder || packed.unpacked_size > kMaxSevenZipHeader || !size ||
      packed.offset > *size || packed.packed_size > *size - packed.offset) {
    return std::nullopt;
  }
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(packed.unpacked_size));
  auto input = std::make_unique<PackedInput>(archive, packed.offset, packed.packed_size);
  bool whole = false;
  switch (packed.coder.method) {
    case kSevenZipCopy:
      whole = Stored(*input, packed.unpacked_size, out);
      break;
    case kSevenZipLzma:
    case kSevenZipLzma2:
      whole = Lzma(*input, packed.coder, packed.unpacked_size, out);
      break;
    default:
      break;
  }
  if (!whole) return std::nullopt;
  return out;
}

}  // namespace quarn

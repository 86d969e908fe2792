#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Builders of 7z archives for fixtures: headers of any folders written in code, and the two
// changes a test makes to an archive the real 7z wrote: a coder's properties rewritten (a
// dictionary 7z would only write for data of hundreds of MiB) and its plain header packed as
// 7z packs it. Every start header and header CRC holds, so 7z itself accepts the result.
namespace quarn::testing {

uint32_t SevenZipCrc(std::span<const uint8_t> bytes);

// A 7z number: the first byte's high bits tell how many bytes follow.
std::vector<uint8_t> SevenZipNumber(uint64_t value);

// The properties 7z writes for LZMA (lc 3, lp 0, pb 2) and PPMd (order 6).
std::vector<uint8_t> LzmaProperties(uint32_t dictionary);
std::vector<uint8_t> PpmdProperties(uint32_t memory);

struct SevenZipWrittenCoder {
  uint64_t method = 0;
  std::vector<uint8_t> properties;
};

// A coder as a folder lists it: its flags byte, method id and properties.
std::vector<uint8_t> SevenZipCoderBytes(const SevenZipWrittenCoder& coder);

enum class SevenZipHeaderForm { kPlain, kStored, kLzma, kLzma2 };
// The dictionary a header is packed with by LZMA or LZMA2: what the header's coder asks for.
inline constexpr uint32_t kSevenZipHeaderDictionary = 64 * 1024;

// An archive of folders whose packed bytes are given as they are. The header lists the
// folders and no files: what a walk of the coders reads, not what an extractor needs.
class SevenZipWriter {
 public:
  // A folder of `coders` in a chain, as 7z puts a filter in front of a compressor: the
  // folder's output is the first coder's, and the last one reads `packed`. Every coder gives
  // `unpacked_size` bytes.
  SevenZipWriter& AddFolder(std::vector<SevenZipWrittenCoder> coders, std::vector<uint8_t> packed,
                            uint64_t unpacked_size);
  SevenZipWriter& Header(SevenZipHeaderForm form);

  // kHeader, then the main streams' pack and unpack info, then kEnd.
  std::vector<uint8_t> PlainHeader() const;
  std::vector<uint8_t> Build() const;

 private:
  struct Folder {
    std::vector<SevenZipWrittenCoder> coders;
    std::vector<uint8_t> packed;
    uint64_t unpacked_size;
  };
  std::vector<Folder> folders_;
  SevenZipHeaderForm form_ = SevenZipHeaderForm::kPlain;
};

// The start header, then `packed` (the streams), then `header` as given.
std::vector<uint8_t> SevenZipArchive(std::span<const uint8_t> packed,
                                     std::span<const uint8_t> header);

// The archive's plain header packed (stored, LZMA or LZMA2, as `form` says) behind the
// streams, and an encoded header in its place that tells how. A packed header claims
// `claimed_dictionary` for its coder where that is not 0 (LZMA only): a claim decoding
// never needs.
std::vector<uint8_t> PackSevenZipHeader(const std::vector<uint8_t>& archive,
                                        SevenZipHeaderForm form, uint32_t claimed_dictionary = 0);

// The archive (with a plain header) with the properties of its first coder of `method` and
// of as many property bytes as `properties` replaced by them; empty when it has none.
std::vector<uint8_t> ReplaceSevenZipProperties(std::vector<uint8_t> archive, uint64_t method,
                                               std::span<const uint8_t> properties);

// The archive (with a plain header) with that header moved into the data of an archive
// property and a header of no streams after it: a reader that skips a property's data by its
// size finds no folders, one that takes the size alone (libarchive 3.6) reads the moved header
// and checks the header CRC over what it read, which is what the CRC covers.
std::vector<uint8_t> HideSevenZipHeaderInProperty(const std::vector<uint8_t>& archive);

}  // namespace quarn::testing

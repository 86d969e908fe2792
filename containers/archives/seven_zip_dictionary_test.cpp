// The memory a 7z archive's coders ask for, from archives built in code: every coder that
// counts, in every folder, under every header form; then what hostile headers claim.
#include "containers/archives/seven_zip_dictionary.h"

#include <gtest/gtest.h>

#include <limits>

#include "containers/archives/seven_zip_packed_header.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/seven_zip_writer.h"
#include "platform/test_support/pattern_bytes.h"

namespace quarn {
namespace {

using testing::LzmaProperties;
using testing::PpmdProperties;
using testing::SevenZipArchive;
using testing::SevenZipHeaderForm;
using testing::SevenZipNumber;
using testing::SevenZipWriter;
using testing::SevenZipWrittenCoder;

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr uint64_t kUnreadable = std::numeric_limits<uint64_t>::max();
constexpr SevenZipHeaderForm kEveryForm[] = {SevenZipHeaderForm::kPlain,
                                             SevenZipHeaderForm::kStored, SevenZipHeaderForm::kLzma,
                                             SevenZipHeaderForm::kLzma2};

std::optional<uint64_t> MemoryOf(const std::vector<uint8_t>& archive) {
  const std::shared_ptr<File> file = testing::ImageFile(archive);
  return SevenZipDictionarySize(*file);
}

SevenZipWrittenCoder Lzma(uint32_t dictionary) {
  return {kSevenZipLzma, LzmaProperties(dictionary)};
}
SevenZipWrittenCoder Lzma2(uint8_t property) {
  return {kSevenZipLzma2, {property}};
}
SevenZipWrittenCoder Ppmd(uint32_t memory) {
  return {kSevenZipPpmd, PpmdProperties(memory)};
}
const SevenZipWrittenCoder kCopy = {kSevenZipCopy, {}};
const SevenZipWrittenCoder kBcj = {0x03030103, {}};
const SevenZipWrittenCoder kDeflate = {0x040108, {}};

struct FoldersCase {
  std::string name;
  std::vector<std::vector<SevenZipWrittenCoder>> folders;
  uint64_t memory = 0;
  uint64_t unpacked_size = 1000;  // large ones take the longer forms of 7z numbers
  size_t packed_size = 10;
};

std::vector<uint8_t> ArchiveOf(const FoldersCase& row, SevenZipHeaderForm form) {
  SevenZipWriter writer;
  uint32_t seed = 1;
  for (const std::vector<SevenZipWrittenCoder>& coders : row.folders) {
    writer.AddFolder(coders, testing::PatternBytes(row.packed_size, seed++), row.unpacked_size);
  }
  return writer.Header(form).Build();
}

TEST(SevenZipDictionaryTest, TheLargestCoderOfAnyFolderIsTold) {
  const std::vector<FoldersCase> cases = {
      {"no folders", {}, 0},
      {"stored", {{kCopy}}, 0},
      {"deflate", {{kDeflate}}, 0},
      {"lzma2 4 GiB", {{Lzma2(40)}}, 0xFFFFFFFF},
      {"lzma2 past 40, refused by its decoder", {{Lzma2(41)}}, 0},
      {"lzma with properties too short", {{{kSevenZipLzma, {0x5D, 0, 0}}}}, 0},
      {"a filter in front of lzma", {{kBcj, Lzma(5 * kMiB)}}, 5 * kMiB},
      {"the largest folder last",
       {{Lzma(kMiB)}, {kCopy}, {kBcj, Ppmd(7 * kMiB)}, {Lzma2(30)}},
       128 * kMiB},
      {"the largest folder first", {{Ppmd(300 * kMiB)}, {Lzma(kMiB)}}, 300 * kMiB},
      {"sizes in 7z's longer numbers",
       {{Lzma(kMiB)}, {Lzma(2 * kMiB)}},
       2 * kMiB,
       uint64_t{1} << 40,
       70000},
      {"sizes in its longest", {{kBcj, Lzma(kMiB)}}, kMiB, uint64_t{1} << 60},
  };
  for (const FoldersCase& row : cases) {
    for (const SevenZipHeaderForm form : kEveryForm) {
      SCOPED_TRACE(row.name + ", header form " + std::to_string(static_cast<int>(form)));
      const bool lzma_packed =
          form == SevenZipHeaderForm::kLzma || form == SevenZipHeaderForm::kLzma2;
      EXPECT_EQ(MemoryOf(ArchiveOf(row, form)),
                lzma_packed ? std::max<uint64_t>(row.memory, testing::kSevenZipHeaderDictionary)
                            : row.memory);
    }
  }
}

// A header cut short anywhere, and an archive cut anywhere: never more than the whole
// archive tells, and nothing where the cut reaches the folders.
TEST(SevenZipDictionaryTest, CutsTellNothingOrTheWholeAnswer) {
  const FoldersCase row = {"", {{Lzma(kMiB)}, {kBcj, Ppmd(9 * kMiB)}, {Lzma2(20)}}, 9 * kMiB};
  const std::vector<uint8_t> whole = ArchiveOf(row, SevenZipHeaderForm::kPlain);
  constexpr ptrdiff_t kStartHeader = 32;
  const ptrdiff_t header_at = kStartHeader + static_cast<ptrdiff_t>(3 * row.packed_size);
  const std::vector<uint8_t> streams(whole.begin() + kStartHeader, whole.begin() + header_at);
  const std::vector<uint8_t> header(whole.begin() + header_at, whole.end());
  size_t told = 0;
  for (size_t cut = 1; cut < header.size(); ++cut) {
    const std::vector<uint8_t> plain = SevenZipArchive(streams, std::span(header.data(), cut));
    for (const SevenZipHeaderForm form : kEveryForm) {
      SCOPED_TRACE("header cut at " + std::to_string(cut));
      const std::vector<uint8_t> archive =
          form == SevenZipHeaderForm::kPlain ? plain : testing::PackSevenZipHeader(plain, form);
      const std::optional<uint64_t> memory = MemoryOf(archive);
      EXPECT_TRUE(!memory || *memory == row.memory);
      told += memory.has_value();
    }
  }
  // The walk ends with the last folder: only cuts into what follows it (the id of the
  // unpacked sizes, one for each of the four coders, three ends) leave all it reads.
  const size_t after_the_folders = 1 + 4 * SevenZipNumber(row.unpacked_size).size() + 3;
  EXPECT_EQ(told, std::size(kEveryForm) * after_the_folders);
  for (const SevenZipHeaderForm form : kEveryForm) {
    const std::vector<uint8_t> archive = ArchiveOf(row, form);
    ASSERT_EQ(MemoryOf(archive), row.memory);
    for (size_t cut = 0; cut < archive.size(); ++cut) {
      EXPECT_EQ(MemoryOf(std::vector<uint8_t>(archive.begin(), archive.begin() + cut)),
                std::nullopt)
          << "archive cut at " << cut;
    }
  }
}

std::vector<uint8_t> Bytes(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> joined;
  for (const std::vector<uint8_t>& part : parts)
    joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A main streams info of one pack stream, then `folders` as given (after their count).
std::vector<uint8_t> HeaderOfFolders(uint64_t count, const std::vector<uint8_t>& folders) {
  return Bytes({{0x01, 0x04, 0x06},
                SevenZipNumber(0),
                SevenZipNumber(1),
                {0x09, 10, 0x00},
                {0x07, 0x0B},
                SevenZipNumber(count),
                {0x00},
                folders,
                {0x0C, 5, 0x00, 0x00, 0x00}});
}

// One folder of `coders` LZMA 1 MiB coders in a chain: what a reader without a limit on
// coders would take.
std::vector<uint8_t> ChainOf(uint64_t coders) {
  std::vector<uint8_t> folder = SevenZipNumber(coders);
  for (uint64_t i = 0; i < coders; ++i) {
    const std::vector<uint8_t> coder = testing::SevenZipCoderBytes(Lzma(kMiB));
    folder.insert(folder.end(), coder.begin(), coder.end());
  }
  for (uint64_t i = 0; i + 1 < coders; ++i) {
    folder.insert(folder.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i + 1)});
  }
  return folder;
}

// Counts and sizes that claim more than the header holds or any reader takes.
TEST(SevenZipDictionaryTest, HostileCountsAndSizesTellNothing) {
  const std::vector<uint8_t> lzma = testing::SevenZipCoderBytes(Lzma(kMiB));
  const std::vector<uint8_t> one_folder = HeaderOfFolders(1, Bytes({{0x01}, lzma}));
  const std::vector<uint8_t> folder_3m =
      Bytes({{0x01}, testing::SevenZipCoderBytes(Lzma(3 * kMiB))});
  // A reader that takes an archive property's size alone ends the properties at the data's
  // first byte, and reads its main streams from the rest.
  std::vector<uint8_t> hidden =
      HeaderOfFolders(1, Bytes({{0x01}, testing::SevenZipCoderBytes(Lzma(128 * kMiB))}));
  hidden[0] = 0x00;
  // One LZMA2 coder of `count` packed streams in, and their indices.
  const auto streams_in = [](uint8_t count) {
    return Bytes({{0x01, 0x31, 0x21, count, 0x01, 0x01, 18}, std::vector<uint8_t>(count, 0)});
  };
  struct Hostile {
    std::string name;
    std::vector<uint8_t> header;
    std::optional<uint64_t> memory;
  };
  const std::vector<Hostile> cases = {
      {"64 coders in a folder", HeaderOfFolders(1, ChainOf(64)), kMiB},
      {"65 coders in a folder", HeaderOfFolders(1, ChainOf(65)), std::nullopt},
      {"no coders in a folder", HeaderOfFolders(1, {0x00}), std::nullopt},
      {"2^62 folders", HeaderOfFolders(uint64_t{1} << 62, Bytes({{0x01}, lzma})), std::nullopt},
      // The second folder is read only where the first one's packed stream indices were; as
      // many streams as the header has bytes for are taken, as libarchive takes them.
      {"a coder of 100 streams in, each packed",
       HeaderOfFolders(2, Bytes({streams_in(100), folder_3m})), 3 * kMiB},
      {"a coder of 2^40 streams in",
       HeaderOfFolders(
           1, Bytes({{0x01, 0x31, 0x21}, SevenZipNumber(uint64_t{1} << 40), {0x01, 0x01, 18}})),
       std::nullopt},
      {"more streams out than in", HeaderOfFolders(1, {0x01, 0x11, 0x21, 0x00, 0x02}),
       std::nullopt},
      {"properties of 2^63 bytes",
       HeaderOfFolders(1, Bytes({{0x01, 0x23, 0x03, 0x01, 0x01},
                                 SevenZipNumber(uint64_t{1} << 63),
                                 LzmaProperties(kMiB)})),
       std::nullopt},
      {"a method id of 9 bytes, its last 8 kept",
       HeaderOfFolders(1, Bytes({{0x01, 0x29, 0, 0, 0, 0, 0, 0, 0x03, 0x01, 0x01, 0x05},
                                 LzmaProperties(kMiB)})),
       kMiB},
      {"a method id of 8 bytes",
       HeaderOfFolders(
           1, Bytes({{0x01, 0x28, 0, 0, 0, 0, 0, 0x03, 0x01, 0x01, 0x05}, LzmaProperties(kMiB)})),
       kMiB},
      {"the alternative methods bit",
       HeaderOfFolders(1, Bytes({{0x01, 0xA3, 0x03, 0x01, 0x01, 0x05}, LzmaProperties(kMiB)})),
       std::nullopt},
      {"2^62 pack streams",
       Bytes({{0x01, 0x04, 0x06, 0x00}, SevenZipNumber(uint64_t{1} << 62), {0x09, 10, 0x00}}),
       std::nullopt},
      // The bits past the third are not the streams' and mark nothing.
      {"CRCs of the first and third of three pack streams",
       Bytes({{0x01, 0x04, 0x06, 0x00, 0x03, 0x09, 10, 10, 10, 0x0A, 0x00, 0xA7},
              std::vector<uint8_t>(8, 0xCC),
              {0x00, 0x07, 0x0B, 0x01, 0x00},
              folder_3m}),
       3 * kMiB},
      {"CRCs of two pack streams, one given",
       {0x01, 0x04, 0x06, 0x00, 0x02, 0x09, 10, 10, 0x0A, 0x01, 1, 2, 3, 4},
       std::nullopt},
      {"archive properties claiming 2^62 bytes, read by their sizes alone",
       Bytes({{0x01, 0x02, 0x42},
              SevenZipNumber(uint64_t{1} << 62),
              {0x00},
              std::vector(one_folder.begin() + 1, one_folder.end())}),
       kMiB},
      {"archive properties skipped by their sizes",
       Bytes({{0x01, 0x02, 0x42, 0x03, 0x04, 0x04, 0x04, 0x00},
              std::vector(one_folder.begin() + 1, one_folder.end())}),
       kMiB},
      {"a folder inside an archive property's data",
       Bytes({{0x01, 0x02, 0x42},
              SevenZipNumber(hidden.size()),
              hidden,
              {0x00},
              std::vector(one_folder.begin() + 1, one_folder.end())}),
       128 * kMiB},
      {"an unknown property where the streams belong", {0x01, 0x42, 0x00}, std::nullopt},
      {"no streams at all", {0x01, 0x05, 0x00}, 0},
  };
  for (const Hostile& row : cases) {
    EXPECT_EQ(MemoryOf(SevenZipArchive({}, row.header)), row.memory) << row.name;
  }
}

// The encoded header in front of a stored header: `position` of the packed header (from the
// start header's end), its packed and unpacked sizes, and its folder's coders.
std::vector<uint8_t> EncodedHeader(uint64_t position, uint64_t packed, uint64_t unpacked,
                                   std::vector<uint8_t> coders = {0x01, 0x01, 0x00}) {
  return Bytes({{0x17, 0x06},
                SevenZipNumber(position),
                {0x01, 0x09},
                SevenZipNumber(packed),
                {0x00, 0x07, 0x0B, 0x01, 0x00},
                coders,
                {0x0C},
                SevenZipNumber(unpacked),
                {0x00, 0x00}});
}

// What a packed header claims of its size and place, and what it unpacks to.
TEST(SevenZipDictionaryTest, APackedHeaderIsUnpackedOnlyWithinItsLimit) {
  const std::vector<uint8_t> plain =
      SevenZipWriter().AddFolder({Lzma(3 * kMiB)}, {1, 2, 3}, 9).PlainHeader();
  const auto stored = [&](std::vector<uint8_t> header, uint64_t claimed) {
    const uint64_t size = header.size();
    return SevenZipArchive(header, EncodedHeader(0, size, claimed));
  };
  std::vector<uint8_t> longest = plain;
  longest.resize(kMaxSevenZipHeader);
  std::vector<uint8_t> too_long = plain;
  too_long.resize(kMaxSevenZipHeader + 1);
  const std::vector<uint8_t> stored_through_bcj = Bytes({{0x02},
                                                         testing::SevenZipCoderBytes(kCopy),
                                                         testing::SevenZipCoderBytes(kBcj),
                                                         {0x00, 0x01}});
  std::vector<uint8_t> not_a_header = plain;
  not_a_header[0] = 0x05;
  const uint64_t itself = EncodedHeader(0, 0, 0).size();
  struct Packed {
    std::string name;
    std::vector<uint8_t> archive;
    std::optional<uint64_t> memory;
  };
  const std::vector<Packed> cases = {
      {"stored", stored(plain, plain.size()), 3 * kMiB},
      {"stored, its longest", stored(longest, longest.size()), 3 * kMiB},
      {"stored, a byte longer", stored(too_long, too_long.size()), kUnreadable},
      {"claiming 2^40 bytes", stored(plain, uint64_t{1} << 40), kUnreadable},
      {"claiming more than its packed bytes", stored(plain, plain.size() + 1), std::nullopt},
      {"packed past the archive's end",
       SevenZipArchive(plain, EncodedHeader(0, plain.size() + 1000, plain.size())), std::nullopt},
      {"packed at 2^63",
       SevenZipArchive(plain, EncodedHeader(uint64_t{1} << 63, plain.size(), plain.size())),
       std::nullopt},
      {"packed as its own encoded header", SevenZipArchive({}, EncodedHeader(0, itself, itself)),
       std::nullopt},
      {"stored through a filter",
       SevenZipArchive(plain, EncodedHeader(0, plain.size(), plain.size(), stored_through_bcj)),
       std::nullopt},
      {"unpacked to no header", stored(not_a_header, not_a_header.size()), std::nullopt},
      // Properties mean nothing to a copy: a reader copies all the same.
      {"stored by a copy with properties",
       SevenZipArchive(
           plain, EncodedHeader(0, plain.size(), plain.size(), {0x01, 0x21, 0x00, 0x01, 0x07})),
       3 * kMiB},
      {"lzma over noise",
       SevenZipArchive(testing::PatternBytes(500, 5),
                       EncodedHeader(0, 500, 400, testing::SevenZipCoderBytes(Lzma(kMiB)))),
       std::nullopt},
      {"packed twice",
       testing::PackSevenZipHeader(
           testing::PackSevenZipHeader(SevenZipArchive({}, plain), SevenZipHeaderForm::kStored),
           SevenZipHeaderForm::kStored),
       std::nullopt},
  };
  for (const Packed& row : cases) EXPECT_EQ(MemoryOf(row.archive), row.memory) << row.name;
}

// A plain header is read as far as its folders, however long its file names make it; one
// whose folders lie past what is read asks more than any limit.
TEST(SevenZipDictionaryTest, APlainHeaderIsReadAsFarAsItsFolders) {
  std::vector<uint8_t> files_after =
      SevenZipWriter().AddFolder({Lzma(3 * kMiB)}, {1, 2, 3}, 9).PlainHeader();
  files_after.resize(kMaxSevenZipHeader + 100);
  EXPECT_EQ(MemoryOf(SevenZipArchive({}, files_after)), 3 * kMiB);

  const std::vector<uint8_t> lzma = testing::SevenZipCoderBytes(Lzma(kMiB));
  const std::vector<uint8_t> folders = HeaderOfFolders(1, Bytes({{0x01}, lzma}));
  const std::vector<uint8_t> padding = SevenZipNumber(kMaxSevenZipHeader);
  const std::vector<uint8_t> folders_after =
      Bytes({{0x01, 0x02, 0x42},
             padding,
             std::vector<uint8_t>(kMaxSevenZipHeader),
             {0x00},
             std::vector(folders.begin() + 1, folders.end())});
  EXPECT_EQ(MemoryOf(SevenZipArchive({}, folders_after)), kUnreadable);
}

}  // namespace
}  // namespace quarn

// The walk over a compound document's streams against gsf, which writes documents the way
// real ones are laid out (short streams in the mini stream, a DIFAT past 109 FAT sectors,
// nested storages), and against the tests' own writer, whose scattered sectors make every
// chain jump; then damage: chains that loop, a directory whose entries share one chain, cuts.
#include "imported/matching/compound_streams.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/test_support/compound_file_writer.h"
#include "imported/test_support/matcher_test_support.h"
#include "platform/byte_reader.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::CompoundFileWriter;
using Streams = std::multimap<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

// Every stream the walk visits, by name, with the bytes it reads from it in blocks of
// uneven size (so reads cross the pieces a stream is made of); nothing when the walk refuses
// the file.
std::optional<Streams> Walk(const std::vector<uint8_t>& document, uint64_t limit = UINT64_MAX) {
  auto file = testing::WatchedFile::Of(document);
  Streams streams;
  const bool walked =
      ForEachCompoundStream(*file, {limit}, [&](const std::string& name, File& stream) {
        std::vector<uint8_t> bytes;
        uint8_t block[777];
        for (uint32_t got; (got = stream.Read(block, sizeof block)) > 0;) {
          bytes.insert(bytes.end(), block, block + got);
        }
        EXPECT_EQ(bytes.size(), stream.Size().value_or(0)) << name;
        streams.emplace(name, std::move(bytes));
      });
  if (!walked) return std::nullopt;
  return streams;
}

uint64_t TotalBytes(const Streams& streams) {
  uint64_t total = 0;
  for (const auto& [name, bytes] : streams) total += bytes.size();
  return total;
}

void PutU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A document written by gsf from files of these sizes: short ones on both sides of the
// mini stream's 64-byte units and of its 4096-byte cutoff, one in a storage within a
// storage, one whose name needs a surrogate pair, and one of 8 MB, which needs more FAT
// sectors than the header lists.
struct GsfDocument {
  std::vector<uint8_t> bytes;
  Streams streams;
};

const GsfDocument& MadeByGsf() {
  static const GsfDocument document = [] {
    GsfDocument made;
    const std::vector<std::pair<std::string, size_t>> files = {{"one", 1},
                                                               {"unit", 64},
                                                               {"unit_and_one", 65},
                                                               {"below_cutoff", 4095},
                                                               {"cutoff", 4096},
                                                               {"past_cutoff", 4097},
                                                               {"outer/inner/deep", 3000},
                                                               {"outer/long", 70000},
                                                               {"pair\xF0\x9F\x98\x80", 5},
                                                               {"huge", 8 << 20}};
    std::map<std::string, std::vector<uint8_t>> written;
    uint32_t seed = 1;
    for (const auto& [path, size] : files) {
      std::vector<uint8_t> bytes = RandomBytes(size, seed++);
      written.emplace(path, bytes);
      made.streams.emplace(path.substr(path.rfind('/') + 1), std::move(bytes));
    }
    made.bytes = testing::MadeByTool(written, "gsf createole doc.ole *", "doc.ole");
    return made;
  }();
  return document;
}

TEST(CompoundStreamsTest, EveryStreamReadsAsTheWriterWroteIt) {
  const GsfDocument& gsf = MadeByGsf();
  ASSERT_GT(ReadU32(gsf.bytes, 0x48), 0u) << "the document should need a DIFAT sector";
  EXPECT_EQ(Walk(gsf.bytes), gsf.streams);

  // Our own writer keeps streams in regular sectors, whatever their size; those of 4096
  // bytes and more are read so, each sector of them somewhere else in the file.
  CompoundFileWriter writer;
  Streams expected;
  for (uint32_t i = 0; i < 4; ++i) {
    std::vector<uint8_t> bytes = RandomBytes(4096 + i * 1000, 100 + i);
    writer.AddStream("s" + std::to_string(i), bytes);
    expected.emplace("s" + std::to_string(i), std::move(bytes));
  }
  EXPECT_EQ(Walk(writer.ScatterSectors(7).Build()), expected);
}

TEST(CompoundStreamsTest, OnlyCompoundDocumentsOfKnownSectorSizesAreWalked) {
  EXPECT_EQ(Walk({}), std::nullopt);
  EXPECT_EQ(Walk(std::vector<uint8_t>(4096, 0)), std::nullopt);
  std::vector<uint8_t> odd = MadeByGsf().bytes;
  odd[0x1E] = 10;  // 1024-byte sectors: no version of the format has them
  EXPECT_EQ(Walk(odd), std::nullopt);
}

TEST(CompoundStreamsTest, ADamagedChainEndsItsStreamWithoutLooping) {
  CompoundFileWriter writer;
  const std::vector<uint8_t> bytes = RandomBytes(20 * 512, 3);
  writer.AddStream("looped", bytes).ScatterSectors(11);
  std::vector<uint8_t> document = writer.Build();
  // The third sector of the stream leads back to the first.
  const std::vector<uint32_t> sectors = writer.SectorsOf("looped");
  PutU32(document, writer.FatEntryOffset(sectors[2]), sectors[0]);
  const std::optional<Streams> looped = Walk(document);
  ASSERT_TRUE(looped);
  ASSERT_EQ(looped->size(), 1u);
  const std::vector<uint8_t>& read = looped->begin()->second;
  ASSERT_EQ(read.size(), bytes.size()) << "a loop repeats sectors up to the stream's size";
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 3 * 512, read.begin()));
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 3 * 512, read.begin() + 3 * 512));

  // The directory's own chain leading back to itself shows its entries once.
  PutU32(document, writer.FatEntryOffset(writer.DirectorySectors().back()),
         writer.DirectorySectors().front());
  EXPECT_EQ(Walk(document)->size(), 1u);
}

TEST(CompoundStreamsTest, EntriesSharingOneChainCostNoMoreThanTheFile) {
  CompoundFileWriter writer;
  for (int i = 0; i < 12; ++i) {
    writer.AddStream("s" + std::to_string(i), RandomBytes(i == 0 ? 65536 : 4096, i));
  }
  std::vector<uint8_t> document = writer.Build();
  // Every entry names the first stream's chain and claims 64 MiB.
  const uint32_t first = writer.SectorsOf("s0").front();
  for (int i = 0; i < 12; ++i) {
    const size_t entry = *writer.DirectoryEntryOffset("s" + std::to_string(i));
    PutU32(document, entry + CompoundFileWriter::kEntryStartSectorOffset, first);
    PutU32(document, entry + CompoundFileWriter::kEntrySizeOffset, 64u << 20);
  }
  const std::optional<Streams> shared = Walk(document);
  ASSERT_TRUE(shared);
  EXPECT_GT(shared->size(), 1u);
  EXPECT_LE(TotalBytes(*shared), document.size());
}

TEST(CompoundStreamsTest, ACutDocumentOrALimitGivesTheStartsOfItsStreams) {
  const GsfDocument& gsf = MadeByGsf();
  // The first 200 KiB hold the header, the short streams and the long one's start.
  for (size_t cut = 0; cut < 200 * 1024; cut += 1531) {
    const std::vector<uint8_t> head(gsf.bytes.begin(), gsf.bytes.begin() + cut);
    const std::optional<Streams> cut_walk = Walk(head);
    EXPECT_EQ(cut_walk, Walk(gsf.bytes, cut)) << cut;
    if (!cut_walk) continue;
    for (const auto& [name, bytes] : *cut_walk) {
      const auto whole = gsf.streams.find(name);
      ASSERT_NE(whole, gsf.streams.end()) << name;
      ASSERT_LE(bytes.size(), whole->second.size()) << name;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), whole->second.begin()))
          << name << " at cut " << cut;
    }
  }
}

}  // namespace
}  // namespace quarn

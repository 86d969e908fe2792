// The archive opener against the real packers: one tree packed by zip, 7z, tar with every
// compressor, genisoimage and gcab, and each lone compressor, then read back through the
// container API. Every archive must give the tree's files, names and bytes, and nothing
// else, and the names the packers' own listers (tar, 7z) give. Then what breaks: truncation, a
// flipped byte, a decoder that asks for too much.
#include "containers/archives/libarchive_opener.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "containers/archives/archive_names.h"
#include "containers/archives/seven_zip_dictionary.h"
#include "containers/archives/seven_zip_packed_header.h"
#include "containers/archives/stream_dictionary.h"
#include "containers/test_support/archive_test_support.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/seven_zip_writer.h"
#include "containers/test_support/zip_writer.h"
#include "platform/posix_folder.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::PatternBytes;
using testing::RunIn;
using testing::ToolRun;
using testing::WitnessFolder;

using ArchiveFiles = std::map<std::string, std::vector<uint8_t>>;

// What a scan learns from the bytes it holds of a file and the few more the opener asks for.
bool MayOpenAsTheScanLooks(const std::vector<uint8_t>& bytes) {
  const LibarchiveOpener opener;
  HeldEnds held = testing::HeldAsTheScanHolds(bytes);
  return opener.MayOpenLooking(held, [&](const BytesWanted& wanted) {
    return std::span<const uint8_t>(bytes).subspan(wanted.offset, wanted.length);
  });
}

// What the opener makes of `name` in `folder`: its kind and its regular entries' bytes, and
// the first failure met, if any.
struct ArchiveRead {
  std::optional<ContainerKind> kind;
  ArchiveFiles files;
  std::vector<ContainerDamage> damage;
  std::optional<IncompleteReason> failure;
  bool damaged = false;
  std::set<std::string> in_place;  // the entries read where they lie, as the scan reads them
};

std::vector<uint8_t> ReadInPlace(const EntryInPlace& place) {
  std::vector<uint8_t> bytes(place.size);
  EXPECT_EQ(place.archive->Seek(static_cast<int64_t>(place.offset), SeekOrigin::kBegin),
            place.offset);
  EXPECT_EQ(place.archive->Read(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
  return bytes;
}

ArchiveRead ReadArchive(const WitnessFolder& folder, const std::string& name) {
  ArchiveRead read;
  auto opened_folder = OpenPosixFileSystem()->OpenFolder(folder.path());
  auto file = (*opened_folder)->OpenFile(name, OpenMode::kRead);
  EXPECT_TRUE(file.ok()) << name;
  if (!file.ok()) return read;
  std::optional<OpenedContainer> opened =
      LibarchiveOpener().Open(std::shared_ptr<File>(std::move(*file)));
  if (!opened) return read;
  const std::vector<uint8_t> bytes = folder.Read(name);
  EXPECT_TRUE(LibarchiveOpener().MayOpen(
      std::span(bytes.data(), std::min(bytes.size(), kContainerHeadBytes)), bytes.size()))
      << "the quick look turns away " << name;
  EXPECT_TRUE(LibarchiveOpener().MayOpenHeld(testing::HeldAsTheScanHolds(bytes)))
      << "the look at the held bytes turns away " << name;
  read.kind = opened->kind;
  read.damage = opened->damage;
  if (!opened->archive) return read;
  while (std::optional<ArchiveEntry> entry = opened->archive->NextEntry()) {
    if (!entry->regular) continue;
    std::vector<uint8_t>& bytes = read.files[entry->path];
    if (const std::optional<EntryInPlace> place = opened->archive->FindInPlace()) {
      bytes = ReadInPlace(*place);
      read.in_place.insert(entry->path);
      continue;
    }
    std::vector<uint8_t> block(4096);
    while (true) {
      const EntryRead got = opened->archive->ReadData(block.data(), block.size());
      if (got.failure && !read.failure) read.failure = got.failure;
      if (got.failure || got.bytes == 0) break;
      bytes.insert(bytes.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(got.bytes));
    }
  }
  read.damaged = opened->archive->Damaged();
  return read;
}

// The tree every archive holds; 8.3 upper-case names, so a level-1 ISO keeps them too.
ArchiveFiles PackedTree() {
  return {{"README.TXT", std::vector<uint8_t>(1000, 'r')},
          {"EMPTY.TXT", {}},
          {"SUB\\DEEP\\DATA.BIN", PatternBytes(200 * 1024, 7)},
          {"BIG.BIN", PatternBytes(1536 * 1024, 9)}};
}

void WriteTree(const WitnessFolder& folder) {
  RunIn(folder.path(), "mkdir -p tree/SUB/DEEP");
  for (const auto& [path, bytes] : PackedTree()) {
    std::string slashed = path;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    folder.Write("tree/" + slashed, bytes);
  }
}

struct PackCase {
  std::string name;
  std::string command;  // run in the tree, writing ../NAME
  ContainerKind kind;
  bool tar_lists = false;  // tar lists the archive; else 7z does
  bool stored = false;     // the files larger than one read are read where they lie
};

// The regular files a packer's own lister names in `name`, as the scan shows names.
std::set<std::string> ListedByTheTool(const WitnessFolder& folder, const PackCase& row) {
  const std::string command =
      row.tar_lists ? "tar tf " + row.name + " | grep -v '/$'"
                    : "7z l -slt -ba " + row.name +
                          " | awk 'BEGIN { RS = \"\"; FS = \"\\n\" } { path = \"\"; folder = 0;"
                          " for (i = 1; i <= NF; ++i) { if ($i ~ /^Path = /) path = substr($i, 8);"
                          " if ($i == \"Folder = +\" || $i ~ /^Attributes = D/) folder = 1 }"
                          " if (path != \"\" && !folder) print path }'";
  const ToolRun listed = RunIn(folder.path(), command);
  EXPECT_EQ(listed.status, 0) << listed.output;
  std::set<std::string> names;
  std::istringstream lines(listed.output);
  for (std::string line; std::getline(lines, line);) names.insert(ArchiveDisplayPath(line));
  return names;
}

const std::vector<PackCase> kPackers = {
    {"deflated.zip", "zip -qr ../deflated.zip .", ContainerKind::kZip},
    {"stored.zip", "zip -qr0 ../stored.zip .", ContainerKind::kZip, false, true},
    {"solid.7z", "7z a -bd -y ../solid.7z . >/dev/null", ContainerKind::kSevenZip},
    {"plain.tar", "tar cf ../plain.tar .", ContainerKind::kTar, true, true},
    {"v7.tar", "tar --format=v7 -b1 -cf ../v7.tar .", ContainerKind::kTar, true, true},
    {"gzip.tar.gz", "tar czf ../gzip.tar.gz .", ContainerKind::kTar, true},
    {"bzip2.tar.bz2", "tar cjf ../bzip2.tar.bz2 .", ContainerKind::kTar, true},
    {"xz.tar.xz", "tar cJf ../xz.tar.xz .", ContainerKind::kTar, true},
    {"zstd.tar.zst", "tar c --zstd -f ../zstd.tar.zst .", ContainerKind::kTar, true},
    {"compress.tar.Z", "tar cf - . | compress -cf > ../compress.tar.Z", ContainerKind::kTar, true},
    {"joliet.iso", "genisoimage -quiet -J -R -o ../joliet.iso .", ContainerKind::kIso9660},
    {"level1.iso", "genisoimage -quiet -o ../level1.iso .", ContainerKind::kIso9660},
    // Cut inside its padding: an image need not be whole sectors.
    {"cut.iso", "genisoimage -quiet -J -o ../cut.iso . && truncate -s -1000 ../cut.iso",
     ContainerKind::kIso9660},
    {"mszip.cab", "gcab -cz ../mszip.cab README.TXT EMPTY.TXT SUB/DEEP/DATA.BIN BIG.BIN",
     ContainerKind::kCab},
};

class LibarchiveOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    WriteTree(folder_);
  }
  WitnessFolder folder_;
};

TEST_F(LibarchiveOpenerTest, EveryPackerGivesBackTheTreeItWasGiven) {
  for (const PackCase& row : kPackers) {
    SCOPED_TRACE(row.name);
    const ToolRun packed = RunIn(folder_.path() + "/tree", row.command);
    ASSERT_EQ(packed.status, 0) << packed.output;
    const ArchiveRead read = ReadArchive(folder_, row.name);
    EXPECT_EQ(read.kind, row.kind);
    EXPECT_EQ(read.files, PackedTree());
    const std::set<std::string> larger_than_a_read = {"SUB\\DEEP\\DATA.BIN", "BIG.BIN"};
    EXPECT_EQ(read.in_place, row.stored ? larger_than_a_read : std::set<std::string>());
    std::set<std::string> names;
    for (const auto& [name, bytes] : read.files) names.insert(name);
    EXPECT_EQ(names, ListedByTheTool(folder_, row));
    EXPECT_FALSE(read.failure);
    EXPECT_FALSE(read.damaged);
  }
}

// The tests' own ZIP writer, which tests without a packer use, is a ZIP to unzip too; a name
// it stores without the UTF-8 flag is the DOS code page's.
TEST_F(LibarchiveOpenerTest, TheTestsOwnZipWriterWritesWhatUnzipAccepts) {
  folder_.Write("own.zip", testing::ZipWriter()
                               .Add("README.TXT", PackedTree()["README.TXT"])
                               .Add("CAF\x82.TXT", {'c'})
                               .Add("SUB/DEEP/DATA.BIN", PackedTree()["SUB\\DEEP\\DATA.BIN"])
                               .Build());
  const ToolRun tested = RunIn(folder_.path(), "unzip -tq own.zip");
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_EQ(ReadArchive(folder_, "own.zip").files,
            (ArchiveFiles{{"README.TXT", PackedTree()["README.TXT"]},
                          {"CAF\xC3\xA9.TXT", {'c'}},
                          {"SUB\\DEEP\\DATA.BIN", PackedTree()["SUB\\DEEP\\DATA.BIN"]}}));
}

// A lone compressed file is one entry: named as gzip stored it, else left for the scan to
// name after the file.
TEST_F(LibarchiveOpenerTest, ALoneCompressedFileIsOneEntry) {
  const std::vector<uint8_t> text = PackedTree()["README.TXT"];
  struct Lone {
    std::string command;
    std::string name;
    ContainerKind kind;
    std::string inner;
  };
  const std::vector<Lone> cases = {
      {"gzip -c tree/README.TXT > named.gz", "named.gz", ContainerKind::kGzip, "README.TXT"},
      {"gzip -nc tree/README.TXT > bare.gz", "bare.gz", ContainerKind::kGzip, ""},
      {"bzip2 -c tree/README.TXT > r.bz2", "r.bz2", ContainerKind::kBzip2, ""},
      {"xz -c tree/README.TXT > r.xz", "r.xz", ContainerKind::kXz, ""},
      {"lzma -c tree/README.TXT > r.lzma", "r.lzma", ContainerKind::kLzma, ""},
      {"zstd -qc tree/README.TXT > r.zst", "r.zst", ContainerKind::kZstd, ""},
      {"compress -cf tree/BIG.BIN > r.Z", "r.Z", ContainerKind::kCompress, ""},
  };
  for (const Lone& lone : cases) {
    SCOPED_TRACE(lone.name);
    ASSERT_EQ(RunIn(folder_.path(), lone.command).status, 0);
    const ArchiveRead read = ReadArchive(folder_, lone.name);
    EXPECT_EQ(read.kind, lone.kind);
    const std::vector<uint8_t> expected =
        lone.kind == ContainerKind::kCompress ? PackedTree()["BIG.BIN"] : text;
    EXPECT_EQ(read.files, (ArchiveFiles{{lone.inner, expected}}));
  }
}

// What is not an archive opens as nothing; what breaks is told, never read past.
TEST_F(LibarchiveOpenerTest, BrokenArchivesAreToldAndOtherFilesAreNoArchives) {
  ASSERT_EQ(RunIn(folder_.path() + "/tree",
                  "zip -qr ../a.zip . && tar czf ../a.tgz . && zip -qr0 ../stored.zip . && "
                  "tar cf ../a.tar .")
                .status,
            0);
  std::vector<uint8_t> zip = folder_.Read("a.zip");
  std::vector<uint8_t> tgz = folder_.Read("a.tgz");
  const std::vector<uint8_t> stored = folder_.Read("stored.zip");

  // What only starts like an archive, or carries one behind a program, is an ordinary file:
  // whole sectors of zeros (a tar's end mark) with or without more behind them, a ZIP's first
  // entry with no central directory, a gzip header over bytes that do not inflate, a program
  // of whole ISO 9660 sectors. The bytes a scan holds of each tell it so, without opening it.
  folder_.Write("plain.bin", PatternBytes(100000, 3));
  std::vector<uint8_t> fake = PatternBytes(5000, 4);
  std::copy_n("PK\x03\x04", 4, fake.begin());
  folder_.Write("fake.zip", fake);
  folder_.Write("zeros.bin", std::vector<uint8_t>(64 * 1024));
  std::vector<uint8_t> zero_block = PatternBytes(64 * 1024, 5);
  std::fill_n(zero_block.begin(), 512, 0);
  folder_.Write("zero-block.bin", zero_block);
  std::vector<uint8_t> inflates_not = PatternBytes(70000, 6);
  std::copy_n("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03", 10, inflates_not.begin());
  folder_.Write("inflates-not.gz", inflates_not);
  const std::vector<uint8_t> first_entry(stored.begin(), stored.begin() + stored.size() / 2);
  folder_.Write("first-entry.zip", first_entry);
  std::vector<uint8_t> carrier(40000, 0x90);
  std::copy_n("MZ", 2, carrier.begin());
  carrier.insert(carrier.end(), zip.begin(), zip.end());
  folder_.Write("carrier.exe", carrier);
  std::vector<uint8_t> sectors = PatternBytes(40 * 2048, 7);
  std::copy_n("MZ", 2, sectors.begin());
  folder_.Write("sectors.exe", sectors);
  ASSERT_EQ(RunIn(folder_.path(), "tar cf empty.tar -T /dev/null").status, 0);
  for (const std::string name :
       {"plain.bin", "fake.zip", "zeros.bin", "zero-block.bin", "inflates-not.gz",
        "first-entry.zip", "carrier.exe", "sectors.exe", "empty.tar"}) {
    EXPECT_FALSE(ReadArchive(folder_, name).kind) << name;
    EXPECT_FALSE(MayOpenAsTheScanLooks(folder_.Read(name))) << name;
  }

  // A flipped byte inside BIG.BIN's deflated data fails its CRC.
  std::vector<uint8_t> flipped = zip;
  flipped[zip.size() / 2] ^= 0x55;
  folder_.Write("flipped.zip", flipped);
  const ArchiveRead bad_crc = ReadArchive(folder_, "flipped.zip");
  EXPECT_EQ(bad_crc.failure, IncompleteReason::kDamaged);

  // A 7z whose header is encrypted hides even its names: the archive itself is told.
  ASSERT_EQ(
      RunIn(folder_.path() + "/tree", "7z a -bd -psecret -mhe=on ../locked.7z . >/dev/null").status,
      0);
  const ArchiveRead locked = ReadArchive(folder_, "locked.7z");
  EXPECT_EQ(locked.kind, ContainerKind::kSevenZip);
  EXPECT_EQ(locked.damage, (std::vector<ContainerDamage>{{"", IncompleteReason::kEncrypted}}));

  // A stored entry whose headers give fewer packed bytes than its size is no entry to read in
  // place: read as given, it fails its CRC.
  std::vector<uint8_t> short_packed = stored;
  const auto set_packed_size_of_big = [&](std::string_view signature, size_t name_at,
                                          size_t size_at) {
    const std::string_view text(reinterpret_cast<const char*>(short_packed.data()),
                                short_packed.size());
    for (size_t at = text.find(signature); at != std::string_view::npos;
         at = text.find(signature, at + 1)) {
      if (text.substr(at + name_at, 7) != "BIG.BIN") continue;
      const uint32_t packed = static_cast<uint32_t>(PackedTree()["BIG.BIN"].size() - 1);
      for (size_t i = 0; i < 4; ++i) short_packed[at + size_at + i] = (packed >> (8 * i)) & 0xFF;
      return;
    }
    ADD_FAILURE() << "no header of BIG.BIN";
  };
  set_packed_size_of_big(std::string_view("PK\x03\x04", 4), 30, 18);
  set_packed_size_of_big(std::string_view("PK\x01\x02", 4), 46, 20);
  folder_.Write("short.zip", short_packed);
  const ArchiveRead short_read = ReadArchive(folder_, "short.zip");
  EXPECT_FALSE(short_read.in_place.contains("BIG.BIN"));
  EXPECT_EQ(short_read.failure, IncompleteReason::kDamaged);

  // Cut anywhere, an archive ends early and says so, or is no archive at all; an entry read
  // in place too.
  for (const auto& [name, bytes] :
       {std::pair{"cut.zip", zip}, std::pair{"cut.tgz", tgz}, std::pair{"cut-stored.zip", stored},
        std::pair{"cut.tar", folder_.Read("a.tar")}}) {
    for (size_t cut = 1; cut < bytes.size(); cut += bytes.size() / 23 + 1) {
      folder_.Write(name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
      const ArchiveRead read = ReadArchive(folder_, name);
      if (!read.kind) continue;
      EXPECT_TRUE(read.damaged || read.failure || read.files.size() < PackedTree().size())
          << name << " cut at " << cut;
    }
  }
}

TEST_F(LibarchiveOpenerTest, ADecoderThatWouldNeedMoreThan64MiBIsNotStarted) {
  ASSERT_EQ(RunIn(folder_.path(),
                  "xz -c --lzma2=dict=128MiB tree/README.TXT > big-dictionary.xz && "
                  "xz -c --lzma2=dict=64MiB tree/README.TXT > fits.xz && "
                  "xz -c -F lzma --lzma1=dict=128MiB tree/README.TXT > big-dictionary.lzma && "
                  "cat tree/README.TXT | zstd -qc --long=28 > big-window.zst && "
                  "zstd -qc tree/BIG.BIN > fits.zst")
                .status,
            0);
  for (const std::string name : {"big-dictionary.xz", "big-window.zst", "big-dictionary.lzma"}) {
    const ArchiveRead read = ReadArchive(folder_, name);
    EXPECT_TRUE(read.kind) << name;
    EXPECT_EQ(read.damage, (std::vector<ContainerDamage>{{"", IncompleteReason::kSize}})) << name;
    EXPECT_TRUE(read.files.empty()) << name;
  }
  for (const std::string name : {"fits.xz", "fits.zst"}) {
    const ArchiveRead read = ReadArchive(folder_, name);
    EXPECT_TRUE(read.damage.empty()) << name;
    EXPECT_EQ(read.files.size(), 1u) << name;
  }
  const std::vector<uint8_t> head = folder_.Read("big-dictionary.xz");
  EXPECT_EQ(StreamDictionarySize(head), uint64_t{128} << 20);
}

// 7z writes no dictionary larger than its data needs, so the large ones are written over
// its own (in a plain header, packed again afterwards where the row says) and 7z itself
// must still test the archive whole.
struct SevenZipCase {
  std::string name;
  std::string switches;                // and what 7z packs, from within the tree
  testing::SevenZipHeaderForm header;  // kLzma: packed, as 7z packs it by default
  std::optional<testing::SevenZipWrittenCoder> forged;
  uint64_t memory;  // what the coders ask for, the largest
  uint32_t header_claims = 0;
  // The header moved into an archive property's data, where only libarchive finds it: 7z
  // skips the data and, finding no folders, cannot witness the rest.
  bool hidden = false;
};

TEST_F(LibarchiveOpenerTest, A7zArchiveWhoseCodersNeedMoreThan64MiBIsNotStarted) {
  using testing::SevenZipWrittenCoder;
  constexpr auto kPlain = testing::SevenZipHeaderForm::kPlain;
  constexpr auto kPacked = testing::SevenZipHeaderForm::kLzma;
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const auto lzma = [](uint64_t size) {
    return SevenZipWrittenCoder{kSevenZipLzma,
                                testing::LzmaProperties(static_cast<uint32_t>(size))};
  };
  const auto lzma2 = [](uint8_t property) {
    return SevenZipWrittenCoder{kSevenZipLzma2, {property}};
  };
  // What 7z writes for the tree's 1.7 MiB is a 2 MiB dictionary; 256 MiB of PPMd model it
  // keeps for more than 8 MiB.
  const std::vector<SevenZipCase> cases = {
      {"lzma.7z", "-m0=LZMA -md=64m .", kPacked, {}, 2 * kMiB},
      {"lzma2-plain.7z", "-m0=LZMA2 -md=64m .", kPlain, {}, 2 * kMiB},
      {"ppmd.7z", "-m0=PPMd:mem=16m .", kPacked, {}, 16 * kMiB},
      {"ppmd-256m.7z", "-m0=PPMd:mem=256m ../pad.bin", kPacked, {}, 256 * kMiB},
      {"lzma-64m.7z", "-m0=LZMA .", kPlain, lzma(64 * kMiB), 64 * kMiB},
      {"lzma-past-64m.7z", "-m0=LZMA .", kPacked, lzma(64 * kMiB + 1), 64 * kMiB + 1},
      {"lzma-128m-plain.7z", "-m0=LZMA .", kPlain, lzma(128 * kMiB), 128 * kMiB},
      {"lzma-128m.7z", "-m0=LZMA .", kPacked, lzma(128 * kMiB), 128 * kMiB},
      {"lzma2-64m.7z", "-m0=LZMA2 .", kPlain, lzma2(28), 64 * kMiB},
      {"lzma2-96m.7z", "-m0=LZMA2 .", kPacked, lzma2(29), 96 * kMiB},
      {"header-1536m.7z", "-m0=LZMA .", kPacked, {}, 1536 * kMiB, 1536 << 20},
      {"hidden-128m.7z", "-m0=LZMA .", kPlain, lzma(128 * kMiB), 128 * kMiB, 0, true},
  };
  folder_.Write("pad.bin", std::vector<uint8_t>(8 * kMiB + 1, 'p'));
  for (const SevenZipCase& row : cases) {
    SCOPED_TRACE(row.name);
    const bool rewritten = row.forged || row.header_claims != 0;
    const bool plain = rewritten || row.header == kPlain;
    const ToolRun packed =
        RunIn(folder_.path() + "/tree", "7z a -bd -y " + std::string(plain ? "-mhc=off " : "") +
                                            "../" + row.name + " " + row.switches);
    ASSERT_EQ(packed.status, 0) << packed.output;
    if (rewritten) {
      std::vector<uint8_t> bytes = folder_.Read(row.name);
      if (row.forged) {
        bytes =
            testing::ReplaceSevenZipProperties(bytes, row.forged->method, row.forged->properties);
        ASSERT_FALSE(bytes.empty()) << "7z wrote no such coder";
      }
      if (row.header != kPlain) {
        bytes = testing::PackSevenZipHeader(bytes, row.header, row.header_claims);
      }
      if (row.hidden) bytes = testing::HideSevenZipHeaderInProperty(bytes);
      folder_.Write(row.name, bytes);
      const ToolRun tested = RunIn(folder_.path(), "7z t " + row.name);
      EXPECT_EQ(tested.status == 0, !row.hidden) << tested.output;
    }
    auto file =
        (*OpenPosixFileSystem()->OpenFolder(folder_.path()))->OpenFile(row.name, OpenMode::kRead);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(SevenZipDictionarySize(**file), row.memory);

    const ArchiveRead read = ReadArchive(folder_, row.name);
    EXPECT_EQ(read.kind, ContainerKind::kSevenZip);
    if (row.memory > kMaxDictionary) {
      EXPECT_EQ(read.damage, (std::vector<ContainerDamage>{{"", IncompleteReason::kSize}}));
      EXPECT_TRUE(read.files.empty());
    } else {
      EXPECT_TRUE(read.damage.empty());
      EXPECT_EQ(read.files, PackedTree());
      EXPECT_FALSE(read.failure);
    }
  }
}

}  // namespace
}  // namespace quarn

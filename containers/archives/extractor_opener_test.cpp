// ExtractorOpener against the real archivers: archives made at test time by Debian's arj and
// arc (and by the samples' own ARJ writer, which arj tests) list their entries under the
// names given and read back byte for byte through the extractor; an encrypted entry is `encrypted`,
// a cut archive is damaged where it breaks and never clean; without the extractor an archive is
// `unsupported`; what only starts like one is no container. The archivers and the extractor belong
// to the tests' setup: without them the tests fail, they do not skip.
#include "containers/archives/extractor_opener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <tuple>

#include "containers/test_support/archive_test_support.h"
#include "containers/archives/extractor_listing.h"
#include "containers/test_support/arj_writer.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using testing::MadeByTool;
using testing::RunIn;
using testing::ToolRun;
using testing::WitnessFolder;
using Files = std::map<std::string, std::vector<uint8_t>>;

// The extractor as a script that leaves an empty file beside it for each run (a child may
// write no byte to a file).
constexpr std::string_view kCountingExtractor =
    "#!/bin/sh\n: > \"${0%/*}/run.$$\"\nexec /usr/bin/unar \"$@\"\n";

Files SomeFiles() {
  std::mt19937 random(5);
  std::vector<uint8_t> noise(3000);
  for (uint8_t& byte : noise) byte = static_cast<uint8_t>(random());
  std::vector<uint8_t> text;
  for (int line = 0; line < 3000; ++line) {
    const std::string words = "line " + std::to_string(line) + " of the read-me\r\n";
    text.insert(text.end(), words.begin(), words.end());
  }
  return {{"HELLO.TXT", {'h', 'i', '\n'}}, {"NOISE.BIN", noise}, {"README.TXT", text}};
}

std::optional<OpenedContainer> OpenDos(const std::vector<uint8_t>& bytes, ContainerKind kind,
                                       ExtractorPrograms programs = {},
                                       size_t most_entries = ExtractorOpener::kMostEntries) {
  ExtractorOpener opener(std::move(programs), most_entries);
  return testing::OpenChecked(opener, kind, bytes);
}

// The regular entries read whole, by the path the scan shows ("\" between folders).
Files ReadBack(ArchiveReader& archive) {
  Files read;
  for (const testing::ReadEntry& entry : testing::ReadWhole(archive).entries) {
    EXPECT_EQ(entry.failure, std::nullopt) << entry.entry.path;
    EXPECT_EQ(entry.entry.size, entry.data.size()) << entry.entry.path;
    if (entry.entry.regular) read[entry.entry.path] = entry.data;
  }
  return read;
}

Files Shown(const Files& files) {
  Files shown;
  for (const auto& [path, bytes] : files) {
    std::string backslashed = path;
    for (char& c : backslashed) c = c == '/' ? '\\' : c;
    shown[backslashed] = bytes;
  }
  return shown;
}

TEST(ExtractorOpenerTest, ArjAndArcArchivesReadBackAsTheArchiversWroteThem) {
  Files files = SomeFiles();
  files["GAMES/DOOM/SETUP.EXE"] = std::vector<uint8_t>(5000, 0x90);
  const std::vector<uint8_t> arj = MadeByTool(files, "arj a -r -y T.ARJ '*'", "T.ARJ");
  std::optional<OpenedContainer> opened = OpenDos(arj, ContainerKind::kArj);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ReadBack(*opened->archive), Shown(files));
  EXPECT_FALSE(opened->archive->Damaged());
  EXPECT_EQ(opened->archive->LeftUnread(), std::nullopt);

  // ARC keeps no folders; its methods pack what the data allows (stored, crunched, squashed).
  const Files flat = SomeFiles();
  const std::vector<uint8_t> arc =
      MadeByTool(flat, "arc a T.ARC HELLO.TXT NOISE.BIN README.TXT", "T.ARC");
  opened = OpenDos(arc, ContainerKind::kArc);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ReadBack(*opened->archive), flat);

  // The samples' own ARJ writer: arj itself tests its archive, and it reads back the same.
  testing::ArjWriter writer;
  for (const auto& [path, bytes] : files) writer.Add(path, bytes);
  const std::vector<uint8_t> written = writer.Build();
  WitnessFolder folder;
  folder.Write("W.ARJ", written);
  const ToolRun tested = RunIn(folder.path(), "arj t -y W.ARJ");
  EXPECT_EQ(tested.status, 0) << tested.output;
  opened = OpenDos(written, ContainerKind::kArj);
  ASSERT_TRUE(opened);
  EXPECT_EQ(ReadBack(*opened->archive), Shown(files));
}

TEST(ExtractorOpenerTest, EncryptedEntriesAndCutArchivesAreReportedNeverClean) {
  const Files files = SomeFiles();
  const std::vector<uint8_t> locked =
      MadeByTool(files, "arj a -y -gsecret T.ARJ HELLO.TXT NOISE.BIN README.TXT", "T.ARJ");
  std::optional<OpenedContainer> opened = OpenDos(locked, ContainerKind::kArj);
  ASSERT_TRUE(opened);
  const testing::WholeArchive whole = testing::ReadWhole(*opened->archive);
  ASSERT_EQ(whole.entries.size(), 3u);
  for (const testing::ReadEntry& entry : whole.entries) {
    EXPECT_EQ(entry.entry.unreadable, IncompleteReason::kEncrypted) << entry.entry.path;
  }

  const std::vector<uint8_t> arj =
      MadeByTool(files, "arj a -y T.ARJ HELLO.TXT NOISE.BIN README.TXT", "T.ARJ");
  for (size_t cut : {arj.size() / 3, arj.size() / 2, arj.size() - 20}) {
    opened = OpenDos(std::vector<uint8_t>(arj.begin(), arj.begin() + cut), ContainerKind::kArj);
    ASSERT_TRUE(opened) << cut;
    const testing::WholeArchive read = testing::ReadWhole(*opened->archive);
    size_t whole_entries = 0;
    bool reported = read.damaged;
    for (const testing::ReadEntry& entry : read.entries) {
      if (entry.failure) {
        reported = true;
        continue;
      }
      ASSERT_EQ(entry.data, files.at(entry.entry.path)) << cut;
      ++whole_entries;
    }
    EXPECT_TRUE(reported) << "an archive cut at " << cut << " read as whole";
    EXPECT_LT(whole_entries, files.size()) << cut;
  }
}

// The extractor does not check a check sum when it writes to a pipe: the opener does.
TEST(ExtractorOpenerTest, AByteChangedInAnEntrysDataMakesItDamaged) {
  const Files files = SomeFiles();
  for (const auto& [command, archive, kind] :
       std::vector<std::tuple<std::string, std::string, ContainerKind>>{
           {"arj a -y -m0 T.ARJ HELLO.TXT NOISE.BIN README.TXT", "T.ARJ", ContainerKind::kArj},
           {"arc a T.ARC HELLO.TXT NOISE.BIN README.TXT", "T.ARC", ContainerKind::kArc}}) {
    std::vector<uint8_t> bytes = MadeByTool(files, command, archive);
    bytes[bytes.size() - 200] ^= 0x55;  // inside the last entry's data
    std::optional<OpenedContainer> opened = OpenDos(bytes, kind);
    ASSERT_TRUE(opened) << archive;
    const testing::WholeArchive read = testing::ReadWhole(*opened->archive);
    ASSERT_EQ(read.entries.size(), 3u) << archive;
    EXPECT_EQ(read.entries[0].failure, std::nullopt) << archive;
    EXPECT_EQ(read.entries[2].failure, IncompleteReason::kDamaged) << archive;
  }
}

// Each start of the extractor costs more than a small entry's data: the wanted entries come
// from one run, those passed over are never extracted, and an entry the run cannot give whole
// is damaged without taking the entries after it along.
TEST(ExtractorOpenerTest, TheWantedEntriesComeFromOneRunOfTheExtractor) {
  WitnessFolder counted;
  counted.Write("unar", std::vector<uint8_t>(kCountingExtractor.begin(), kCountingExtractor.end()));
  // Under root the extractor runs as nobody, who must reach it and leave its mark beside it.
  ASSERT_EQ(RunIn(counted.path(), "chmod +x unar && chmod 1777 .").status, 0);
  const auto runs = [&] {
    const auto files = std::filesystem::directory_iterator(counted.path());
    return static_cast<size_t>(std::distance(begin(files), end(files))) - 1;
  };
  Files files = SomeFiles();
  files["A.COM"] = {0xCD, 0x20};
  files["Z.EXE"] = std::vector<uint8_t>(700, 0x90);
  std::vector<uint8_t> arj =
      MadeByTool(files, "arj a -y -m0 T.ARJ A.COM HELLO.TXT NOISE.BIN README.TXT Z.EXE", "T.ARJ");
  for (const bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "NOISE.BIN broken" : "whole");
    // Inside NOISE.BIN's stored data, which lies between the two programs.
    if (broken)
      arj[std::search(arj.begin(), arj.end(), files["NOISE.BIN"].begin(),
                      files["NOISE.BIN"].end()) -
          arj.begin() + 100] ^= 0x55;
    std::optional<OpenedContainer> opened =
        OpenDos(arj, ContainerKind::kArj, {"/usr/bin/lsar", counted.path() + "/unar"});
    ASSERT_TRUE(opened);
    const auto program = [&](const ArchiveEntry& entry) {
      return entry.path.ends_with(".COM") || entry.path.ends_with(".EXE") ||
             (broken && entry.path == "NOISE.BIN");
    };
    opened->archive->Want(program);
    const size_t runs_before = runs();
    Files read;
    std::map<std::string, std::optional<IncompleteReason>> failures;
    while (std::optional<ArchiveEntry> entry = opened->archive->NextEntry()) {
      if (!program(*entry)) continue;
      std::vector<uint8_t> block(256);
      while (true) {
        const EntryRead got = opened->archive->ReadData(block.data(), block.size());
        failures[entry->path] = got.failure;
        if (got.failure || got.bytes == 0) break;
        read[entry->path].insert(read[entry->path].end(), block.begin(), block.begin() + got.bytes);
      }
    }
    EXPECT_EQ(read["A.COM"], files["A.COM"]);
    EXPECT_EQ(read["Z.EXE"], files["Z.EXE"]);
    EXPECT_EQ(failures["Z.EXE"], std::nullopt);
    EXPECT_EQ(failures["NOISE.BIN"],
              broken ? std::optional(IncompleteReason::kDamaged) : std::nullopt);
    // After a broken entry the rest comes from a run of its own.
    EXPECT_EQ(runs() - runs_before, broken ? 2u : 1u);
  }
}

TEST(ExtractorOpenerTest, PastTheEntriesAskedForTheRestIsSaid) {
  const std::vector<uint8_t> arj =
      MadeByTool(SomeFiles(), "arj a -y T.ARJ HELLO.TXT NOISE.BIN README.TXT", "T.ARJ");
  std::optional<OpenedContainer> opened = OpenDos(arj, ContainerKind::kArj, {}, 2);
  ASSERT_TRUE(opened);
  const testing::WholeArchive read = testing::ReadWhole(*opened->archive);
  ASSERT_EQ(read.entries.size(), 2u);
  EXPECT_EQ(read.entries[1].entry.path, "NOISE.BIN");
  EXPECT_EQ(opened->archive->LeftUnread(), IncompleteReason::kEntries);
  EXPECT_EQ(OpenDos(arj, ContainerKind::kArj, {}, 3)->archive->LeftUnread(), std::nullopt);
}

TEST(ExtractorOpenerTest, WithoutTheExtractorAnArchiveIsUnsupported) {
  const std::vector<uint8_t> arj = MadeByTool(SomeFiles(), "arj a -y T.ARJ HELLO.TXT", "T.ARJ");
  std::optional<OpenedContainer> opened =
      OpenDos(arj, ContainerKind::kArj, {"/nonexistent/lsar", "/nonexistent/unar"});
  ASSERT_TRUE(opened);
  EXPECT_FALSE(opened->archive->NextEntry());
  EXPECT_EQ(opened->archive->LeftUnread(), IncompleteReason::kUnsupported);
}

TEST(ExtractorOpenerTest, WhatOnlyStartsLikeAnArchiveIsNoContainer) {
  const std::vector<uint8_t> arj = MadeByTool(SomeFiles(), "arj a -y T.ARJ HELLO.TXT", "T.ARJ");
  std::vector<uint8_t> bad_crc = arj;
  bad_crc[10] ^= 1;  // inside the main header, under its CRC-32
  EXPECT_FALSE(ExtractorOpener().Open(testing::ImageFile(bad_crc)));
  const std::vector<uint8_t> arc = MadeByTool(SomeFiles(), "arc a T.ARC HELLO.TXT", "T.ARC");
  std::vector<uint8_t> bad_size = arc;
  bad_size[15] ^= 0x40;  // the packed size no longer leads to the next header
  EXPECT_FALSE(ExtractorOpener().Open(testing::ImageFile(bad_size)));
  std::vector<uint8_t> no_method = arc;
  no_method[1] = 0x40;
  EXPECT_FALSE(ExtractorOpener().Open(testing::ImageFile(no_method)));
}

TEST(ExtractorListingTest, TakesIndexesNamesAndFlagsAndNoMoreThanAsked) {
  const std::string listing = R"({"lsarContents": [
      {"XADIndex": 0, "XADFileName": "DOS/KEYB.COM", "XADFileSize": 10, "XADCompressedSize": 7},
      {"XADIndex": 1, "XADFileName": "DOS", "XADIsDirectory": 1},
      {"XADIndex": 2, "XADFileName": "SECRET.TXT", "XADFileSize": 5, "XADIsEncrypted": true},
      {"XADIndex": 3, "XADFileName": "MORE.TXT", "XADFileSize": 1}]})";
  Result<ExtractorListing> parsed = ParseExtractorListing(listing, 3);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  ASSERT_EQ(parsed->entries.size(), 3u);
  EXPECT_TRUE(parsed->more);
  EXPECT_EQ(parsed->entries[0].entry.path, "DOS\\KEYB.COM");
  EXPECT_EQ(parsed->entries[0].entry.size, 10u);
  EXPECT_EQ(parsed->entries[0].packed, 7u);
  EXPECT_FALSE(parsed->entries[1].entry.regular);
  EXPECT_EQ(parsed->entries[2].entry.unreadable, IncompleteReason::kEncrypted);
  EXPECT_FALSE(ParseExtractorListing(listing, 4)->more);
  for (const char* bad : {"", "[]", R"({"lsarContents": 3})",
                          R"({"lsarContents": [{"XADIndex": -1, "XADFileName": "A"}]})",
                          R"({"lsarContents": [{"XADIndex": 0}]})"}) {
    EXPECT_FALSE(ParseExtractorListing(bad, 10).ok()) << bad;
  }
}

}  // namespace
}  // namespace quarn

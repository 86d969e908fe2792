// Raw CD images written by the test from an ISO that genisoimage made, in mode 1 and in mode 2
// form 1: the files inside are the host files genisoimage was given, under the `cdraw` wrapper
// with its ISO 9660 volume, and bchunk reads the mode 1 image back into that ISO. A file that
// is not whole sectors of a data track is no raw CD. A cue sheet opens the file it names beside
// it, in the mode and from the index its first track gives.
#include <gtest/gtest.h>

#include <map>

#include "containers/test_support/archive_test_support.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/wrappers/sibling_files.h"
#include "containers/wrappers/wrapper_opener.h"
#include "platform/posix_folder.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

std::map<std::string, std::vector<uint8_t>> RegularFiles(ArchiveReader& archive) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (testing::ReadEntry& read : testing::ReadWhole(archive).entries) {
    if (read.entry.regular) files[read.entry.path] = std::move(read.data);
  }
  return files;
}

TEST(CdRawReader, UserDataIsTheIsoVolumeGenisoimageWrote) {
  testing::WitnessFolder folder;
  const std::map<std::string, std::vector<uint8_t>> host = {
      {"DOS\\KEYB.COM", testing::PatternBytes(700, 1)},
      {"BIG.BIN", testing::PatternBytes(300000, 2)}};
  std::filesystem::create_directories(folder.path() + "/cd/DOS");
  folder.Write("cd/DOS/KEYB.COM", host.at("DOS\\KEYB.COM"));
  folder.Write("cd/BIG.BIN", host.at("BIG.BIN"));
  const testing::ToolRun made =
      testing::RunIn(folder.path() + "/cd", "genisoimage -quiet -J -o ../cd.iso .");
  ASSERT_EQ(made.status, 0) << made.output;
  const std::vector<uint8_t> iso = folder.Read("cd.iso");
  for (const uint8_t mode : {1, 2}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    WrapperOpener opener;
    std::optional<OpenedContainer> opened =
        testing::OpenChecked(opener, ContainerKind::kIso9660, testing::RawCd(iso, mode));
    ASSERT_TRUE(opened.has_value());
    ASSERT_TRUE(opened->wrapper.has_value());
    EXPECT_EQ(opened->wrapper->kind, ContainerKind::kCdraw);
    EXPECT_TRUE(opened->wrapper->damage.empty());
    EXPECT_EQ(RegularFiles(*opened->archive), host);
  }
  // bchunk turns the mode 1 image, with a cue sheet, back into the ISO it was written from:
  // the sectors' layout is a CD's, not only what the reader expects. (It gives mode 2 tracks
  // 2,336 bytes a sector, so it cannot witness form 1.)
  folder.Write("cd.bin", testing::RawCd(iso, 1));
  const std::string cue = "FILE \"cd.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  folder.Write("cd.cue", std::vector<uint8_t>(cue.begin(), cue.end()));
  const testing::ToolRun back = testing::RunIn(folder.path(), "bchunk cd.bin cd.cue back");
  ASSERT_EQ(back.status, 0) << back.output;
  EXPECT_EQ(folder.Read("back01.iso"), iso);

  // A 2048-byte track after two seconds of pregap is no raw CD without its sheet.
  std::vector<uint8_t> cooked(150 * 2048, 0);
  cooked.insert(cooked.end(), iso.begin(), iso.end());
  folder.Write("mode2.bin", testing::RawCd(iso, 2));
  folder.Write("cooked.bin", cooked);
  const std::pair<std::string, std::string> sheets[] = {
      {"cd.cue", ""},
      {"mode2.cue", "FILE mode2.bin BINARY\r\n TRACK 01 MODE2/2352\r\n INDEX 01 00:00:00\r\n"},
      {"cooked.cue",
       "REM one data track\nFILE \"cooked.bin\" BINARY\nTRACK 01 MODE1/2048\n"
       "INDEX 00 00:00:00\nINDEX 01 00:02:00\nTRACK 02 AUDIO\nINDEX 01 09:00:00\n"}};
  auto host_folder = OpenPosixFileSystem()->OpenFolder(folder.path());
  ASSERT_TRUE(host_folder.ok()) << host_folder.message();
  for (const auto& [name, text] : sheets) {
    SCOPED_TRACE(name);
    if (!text.empty()) folder.Write(name, std::vector<uint8_t>(text.begin(), text.end()));
    auto sheet = (*host_folder)->OpenFile(name, OpenMode::kRead);
    ASSERT_TRUE(sheet.ok()) << sheet.message();
    std::shared_ptr<File> file = std::move(*sheet);
    std::optional<OpenedContainer> opened =
        WrapperOpener().OpenWithSiblings(file, SiblingsIn(**host_folder, *file->GetInfo(), name));
    ASSERT_TRUE(opened.has_value());
    ASSERT_TRUE(opened->wrapper.has_value());
    EXPECT_EQ(opened->wrapper->kind, ContainerKind::kCdraw);
    ASSERT_EQ(opened->kind, ContainerKind::kIso9660);
    EXPECT_EQ(RegularFiles(*opened->archive), host);
  }
  std::vector<uint8_t> cut = testing::RawCd(iso, 1);
  cut.pop_back();
  EXPECT_FALSE(WrapperOpener().Open(testing::ImageFile(cut)).has_value());
  std::vector<uint8_t> form2 = testing::RawCd(iso, 2);
  form2[16 * 2352 + 18] = 0x20;
  EXPECT_FALSE(WrapperOpener().Open(testing::ImageFile(form2)).has_value());
}

}  // namespace
}  // namespace quarn

// Raw CD images written by the test from an ISO that genisoimage made, in mode 1 and in mode 2
// form 1: the files inside are the host files genisoimage was given, under the `cdraw` wrapper
// with its ISO 9660 volume, and bchunk reads the mode 1 image back into that ISO. A file that
// is not whole sectors of a data track is no raw CD.
#include <gtest/gtest.h>

#include <map>

#include "containers/test_support/archive_test_support.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/wrappers/wrapper_opener.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

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
    std::map<std::string, std::vector<uint8_t>> inside;
    for (testing::ReadEntry& read : testing::ReadWhole(*opened->archive).entries) {
      if (read.entry.regular) inside[read.entry.path] = std::move(read.data);
    }
    EXPECT_EQ(inside, host);
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
  std::vector<uint8_t> cut = testing::RawCd(iso, 1);
  cut.pop_back();
  EXPECT_FALSE(WrapperOpener().Open(testing::ImageFile(cut)).has_value());
  std::vector<uint8_t> form2 = testing::RawCd(iso, 2);
  form2[16 * 2352 + 18] = 0x20;
  EXPECT_FALSE(WrapperOpener().Open(testing::ImageFile(form2)).has_value());
}

}  // namespace
}  // namespace quarn

// AllContainersOpener: each kind goes to the opener that knows it, in order, and the quick
// look lets through every file one of them opens.
#include <gtest/gtest.h>

#include "containers/all_containers_opener.h"

#include <set>

#include "containers/container_kinds.h"
#include "containers/test_support/disk_image_test_support.h"
#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/lzh_writer.h"
#include "containers/test_support/zip_writer.h"

namespace quarn {
namespace {

struct KindCase {
  const char* what;
  std::vector<uint8_t> bytes;
  std::optional<ContainerKind> kind;
};

TEST(AllContainers, EachKindOpensThroughItsOwnOpener) {
  testing::FatImageWriter floppy(testing::FloppyLayout(360));
  floppy.AddFile("COMMAND.COM", std::vector<uint8_t>(900, 0xC3));
  // A DOS program whose header says its image is its 400 bytes.
  std::vector<uint8_t> program = {'M', 'Z', 0x90, 0x01, 1, 0};
  program.resize(400, 0x90);
  const std::vector<uint8_t> lzh =
      testing::LzhWriter().AddFile("Setup.exe", std::vector<uint8_t>(50, 0xCC)).Build();
  std::vector<uint8_t> self_extracting = program;
  self_extracting.insert(self_extracting.end(), lzh.begin(), lzh.end());
  // Stored behind a 38-byte local header, the entry puts 55 AA where a master boot record
  // has it, after an empty table: as an image it would be one by that sector alone.
  std::vector<uint8_t> marked(600, 0);
  marked[510 - 38] = 0x55;
  marked[511 - 38] = 0xAA;
  const std::vector<uint8_t> zip = testing::ZipWriter().Add("BOOT.BIN", marked).Build();
  const KindCase cases[] = {
      {"a floppy image", floppy.Build(), ContainerKind::kFat12},
      {"an LZH archive", lzh, ContainerKind::kLha},
      {"a program", program, std::nullopt},
      {"a self-extracting LZH program", self_extracting, ContainerKind::kLha},
      {"a ZIP whose first sector ends in 55 AA", zip, ContainerKind::kZip},
  };
  AllContainersOpener opener;
  for (const KindCase& example : cases) {
    std::optional<OpenedContainer> opened = opener.Open(testing::ImageFile(example.bytes));
    ASSERT_EQ(opened.has_value(), example.kind.has_value()) << example.what;
    if (!opened) continue;
    EXPECT_EQ(opened->kind, *example.kind) << example.what;
    EXPECT_EQ(opened->archive != nullptr, !IsImageKind(*example.kind)) << example.what;
    const size_t head = std::min(example.bytes.size(), kContainerHeadBytes);
    EXPECT_TRUE(opener.MayOpen(std::span(example.bytes.data(), head), example.bytes.size()))
        << example.what;
  }
}

// The chain makes one opener per run of rows: a kind whose rows were split would be tried twice
// and out of its place, and a name given twice would make two kinds one in `layers`.
TEST(AllContainers, EachKindIsOneRowAndEachOpenerOneRunOfRows) {
  std::set<ContainerKind> kinds;
  std::set<std::string_view> names;
  std::set<decltype(ContainerKindRow::new_opener)> finished;
  decltype(ContainerKindRow::new_opener) current = nullptr;
  for (const ContainerKindRow& row : ContainerKinds()) {
    EXPECT_TRUE(kinds.insert(row.kind).second) << row.name;
    EXPECT_TRUE(names.insert(row.name).second) << row.name;
    EXPECT_EQ(ContainerKindName(row.kind), row.name);
    if (row.new_opener != current) {
      EXPECT_TRUE(finished.insert(current).second) << row.name;
      current = row.new_opener;
    }
    EXPECT_FALSE(finished.contains(current)) << row.name;
  }
  // kCdraw is the enum's last kind: every one before it has its row too.
  EXPECT_EQ(kinds.size(), static_cast<size_t>(ContainerKind::kCdraw) + 1);
}

}  // namespace
}  // namespace quarn

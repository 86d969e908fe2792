// The entry fields a cleaner sets after its work: the modification time it restores and
// the attributes it puts back, read again from a volume opened afresh.
#include <gtest/gtest.h>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/fat/fat_file_system.h"
#include "containers/fat/fat_geometry.h"
#include "containers/test_support/memory_block_device_test_support.h"
#include "containers/test_support/fat_image_writer.h"

namespace quarn {
namespace {

using testing::MemoryBlockDevice;

constexpr int64_t kSecond = 1000000000;

std::shared_ptr<MemoryBlockDevice> FieldsFloppy() {
  testing::FatImageWriter writer(testing::FloppyLayout(720));
  writer.AddFile("FILE.COM", testing::PatternBytes(1200, 41));
  return std::make_shared<MemoryBlockDevice>(writer.Build());
}

std::unique_ptr<File> OpenOn(const std::shared_ptr<BlockDevice>& device, OpenMode mode,
                             std::unique_ptr<FatFileSystem>& volume) {
  volume = std::make_unique<FatFileSystem>(device, *RecognizeFat(*device));
  auto root = volume->OpenFolder("/");
  auto file = (*root)->OpenFile("FILE.COM", mode);
  EXPECT_TRUE(file.ok()) << file.message();
  return file.ok() ? std::move(*file) : nullptr;
}

TEST(FatEntryFieldsTest, SetTimesWritesTheModificationTimeDosCanHold) {
  const std::pair<FileTime, std::optional<FileTime>> cases[] = {
      {981173106 * kSecond, 981173106 * kSecond},      // 2001-02-03 04:05:06
      {981173107 * kSecond + 5, 981173106 * kSecond},  // odd seconds round down
      {0, std::nullopt},                               // 1970: before DOS dates
      {4354819200 * kSecond, std::nullopt},            // 2108: after them
  };
  for (const auto& [set, read_back] : cases) {
    SCOPED_TRACE(set);
    auto device = FieldsFloppy();
    const std::vector<uint8_t> before = device->bytes();
    std::unique_ptr<FatFileSystem> volume;
    std::unique_ptr<File> file = OpenOn(device, OpenMode::kReadWrite, volume);
    ASSERT_NE(file, nullptr);
    FileTimes times;
    times.last_write = set;
    times.last_access = set;
    EXPECT_EQ(file->SetTimes(times), read_back.has_value());
    std::unique_ptr<FatFileSystem> again;
    std::unique_ptr<File> reread = OpenOn(device, OpenMode::kRead, again);
    if (read_back) {
      EXPECT_EQ(reread->GetTimes()->last_write, *read_back);
    } else {
      EXPECT_TRUE(device->bytes() == before);
    }
  }
}

TEST(FatEntryFieldsTest, AttributesAndTheWriteBitFollowTheEntry) {
  const FileAttributes cases[] = {
      {true, false, false, false}, {false, true, true, false}, {false, false, false, true}};
  for (const FileAttributes& attributes : cases) {
    auto device = FieldsFloppy();
    std::unique_ptr<FatFileSystem> volume;
    std::unique_ptr<File> file = OpenOn(device, OpenMode::kReadWrite, volume);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->SetAttributes(attributes));
    std::unique_ptr<FatFileSystem> again;
    std::unique_ptr<File> reread = OpenOn(device, OpenMode::kRead, again);
    const FileAttributes got = *reread->GetAttributes();
    EXPECT_EQ(got.read_only, attributes.read_only);
    EXPECT_EQ(got.hidden, attributes.hidden);
    EXPECT_EQ(got.system, attributes.system);
    EXPECT_EQ(got.archive, attributes.archive);
    EXPECT_EQ(reread->GetInfo()->mode, attributes.read_only ? 0444u : 0644u);
  }
}

}  // namespace
}  // namespace quarn

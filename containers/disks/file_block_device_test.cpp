// Windows of one image read by several threads at once through one shared handle.
#include <gtest/gtest.h>

#include <thread>

#include "containers/test_support/disk_image_test_support.h"
#include "containers/disks/file_block_device.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

struct WindowCase {
  uint64_t offset;
  uint64_t length;
  uint64_t size;
};

TEST(FileBlockDeviceTest, WindowsAreClippedToTheImage) {
  const std::vector<uint8_t> bytes = testing::PatternBytes(10000, 11);
  std::shared_ptr<FileBlockDevice> disk = FileBlockDevice::Open(testing::ImageFile(bytes));
  ASSERT_EQ(disk->Size(), bytes.size());
  const WindowCase cases[] = {
      {0, 10000, 10000}, {512, 1024, 1024}, {9000, 5000, 1000}, {20000, 10, 0}, {10000, 1, 0}};
  for (const WindowCase& row : cases) {
    std::shared_ptr<FileBlockDevice> window = disk->Window(row.offset, row.length);
    EXPECT_EQ(window->Size(), row.size) << row.offset;
    std::vector<uint8_t> got(row.length + 10);
    got.resize(window->ReadAt(0, got.data(), got.size()));
    const auto from =
        bytes.begin() + static_cast<ptrdiff_t>(std::min<uint64_t>(row.offset, bytes.size()));
    EXPECT_EQ(got, std::vector<uint8_t>(from, from + static_cast<ptrdiff_t>(row.size)))
        << row.offset;
    EXPECT_FALSE(window->WriteAt(0, got.data(), 1).ok());
  }
}

struct BoundedWriteCase {
  uint64_t window_offset;
  uint64_t window_length;
  uint64_t offset;
  size_t length;
  bool ok;
};

TEST(FileBlockDeviceTest, AWritableDeviceWritesOnlyInsideItsBounds) {
  const BoundedWriteCase cases[] = {
      {0, 10000, 0, 10, true},     {0, 10000, 9990, 10, true},   {0, 10000, 9991, 10, false},
      {0, 10000, 20000, 1, false}, {512, 1024, 0, 1024, true},   {512, 1024, 1000, 25, false},
      {9000, 5000, 999, 1, true},  {9000, 5000, 1000, 1, false},
  };
  for (const BoundedWriteCase& row : cases) {
    SCOPED_TRACE(std::to_string(row.window_offset) + "+" + std::to_string(row.offset));
    const std::vector<uint8_t> bytes = testing::PatternBytes(10000, 13);
    MemoryFileSystem files;
    ASSERT_TRUE(files.AddFile("/image.img", bytes).ok());
    auto root = files.OpenFolder("/");
    auto opened = (*root)->OpenFile("image.img", OpenMode::kReadWrite);
    ASSERT_TRUE(opened.ok());
    std::shared_ptr<FileBlockDevice> disk =
        FileBlockDevice::OpenWritable(std::shared_ptr<File>(std::move(*opened)));
    std::shared_ptr<FileBlockDevice> window = disk->Window(row.window_offset, row.window_length);
    EXPECT_TRUE(window->Writable());
    const std::vector<uint8_t> written(row.length, 0xAB);
    const Status status = window->WriteAt(row.offset, written.data(), written.size());
    EXPECT_EQ(status.ok(), row.ok) << status.message();
    std::vector<uint8_t> expected = bytes;
    if (row.ok) {
      std::fill_n(expected.begin() + static_cast<ptrdiff_t>(row.window_offset + row.offset),
                  row.length, 0xAB);
    } else {
      EXPECT_NE(status.message().find("past its end"), std::string::npos) << status.message();
      EXPECT_NE(status.message().find(row.window_offset == 0 ? "the image" : "bytes from"),
                std::string::npos)
          << status.message();
    }
    EXPECT_TRUE(window->Flush().ok());
    auto reread = (*root)->OpenFile("image.img", OpenMode::kRead);
    EXPECT_EQ(testing::ReadToEnd(**reread), expected);
  }
}

TEST(FileBlockDeviceTest, AReadOnlyDeviceRefusesEveryWrite) {
  std::shared_ptr<FileBlockDevice> disk =
      FileBlockDevice::Open(testing::ImageFile(testing::PatternBytes(1000, 14)));
  EXPECT_FALSE(disk->Writable());
  const uint8_t byte = 0;
  const Status status = disk->WriteAt(0, &byte, 1);
  EXPECT_NE(status.message().find("read only"), std::string::npos) << status.message();
}

TEST(FileBlockDeviceTest, ThreadsReadingWindowsSeeTheirOwnBytes) {
  const std::vector<uint8_t> bytes = testing::PatternBytes(64 * 1024, 12);
  std::shared_ptr<FileBlockDevice> disk = FileBlockDevice::Open(testing::ImageFile(bytes));
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::shared_ptr<FileBlockDevice> window = disk->Window(t * 16384, 16384);
      std::vector<uint8_t> got(700);
      for (uint64_t at = 0; at + got.size() <= window->Size(); at += 37) {
        window->ReadAt(at, got.data(), got.size());
        const auto from = bytes.begin() + static_cast<ptrdiff_t>(t * 16384 + at);
        if (!std::equal(got.begin(), got.end(), from)) ++mismatches[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace quarn

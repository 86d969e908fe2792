// Windows of one image read by several threads at once through one shared handle.
#include <gtest/gtest.h>

#include <thread>

#include "containers/disk_image_test_support.h"
#include "containers/file_block_device.h"

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

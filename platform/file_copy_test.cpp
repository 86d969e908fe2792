// The working copy of a disk image: the same bytes, and the holes of a sparse image kept.
#include "platform/file_copy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/scratch_folder.h"

namespace quarn {
namespace {

// What a sparse image holds: data at its start, in its middle and just before its end,
// holes between, and a hole at the very end when `hole_at_end`.
struct SparseLayout {
  uint64_t size;
  std::vector<std::pair<uint64_t, std::string>> data;
};

std::vector<SparseLayout> Layouts() {
  const uint64_t mib = 1 << 20;
  return {
      {0, {}},
      {5, {{0, "ABCDE"}}},
      {64 * mib, {{0, "boot"}, {20 * mib + 123, std::string(5000, 'x')}, {64 * mib - 4, "tail"}}},
      {48 * mib, {{1 * mib, "only data in the middle"}}}};
}

std::string ReadAll(File& file) {
  std::string bytes;
  EXPECT_EQ(file.Seek(0, SeekOrigin::kBegin), 0u);
  char buffer[1 << 16];
  while (uint32_t got = file.Read(buffer, sizeof buffer)) bytes.append(buffer, got);
  return bytes;
}

void Fill(File& file, const SparseLayout& layout) {
  for (const auto& [offset, bytes] : layout.data) {
    ASSERT_EQ(file.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin), offset);
    ASSERT_EQ(file.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
  }
  ASSERT_EQ(file.Seek(static_cast<int64_t>(layout.size), SeekOrigin::kBegin), layout.size);
  ASSERT_TRUE(file.SetEndOfFile());
}

TEST(FileCopyTest, HostCopyHasTheBytesAndKeepsTheHoles) {
  ScratchFolder scratch;
  auto folder = OpenPosixFileSystem()->OpenFolder(scratch.path());
  ASSERT_TRUE(folder.ok()) << folder.message();
  int number = 0;
  for (const SparseLayout& layout : Layouts()) {
    SCOPED_TRACE(layout.size);
    const std::string name = "image" + std::to_string(number++);
    auto source = (*folder)->CreateFile(name);
    ASSERT_TRUE(source.ok());
    Fill(**source, layout);
    auto copy = (*folder)->CreateFile(name + ".copy");
    ASSERT_TRUE(copy.ok());
    ASSERT_TRUE(CopyFileContents(**source, **copy).ok());
    EXPECT_EQ((*copy)->Size(), layout.size);
    EXPECT_TRUE(ReadAll(**copy) == ReadAll(**source));
    struct stat original {
    }, copied{};
    ASSERT_EQ(stat(scratch.Child(name).c_str(), &original), 0);
    ASSERT_EQ(stat(scratch.Child(name + ".copy").c_str(), &copied), 0);
    // Blocks of 512 bytes: the data's own blocks and a little more, never the holes.
    EXPECT_LE(copied.st_blocks, original.st_blocks + 64) << "the holes were filled";
  }
}

TEST(FileCopyTest, InMemoryCopyHasTheBytes) {
  MemoryFileSystem files;
  ASSERT_TRUE(files.CreateFolders("/d").ok());
  auto folder = files.OpenFolder("/d");
  ASSERT_TRUE(folder.ok());
  const SparseLayout layout{300000, {{0, "boot"}, {299996, "tail"}}};
  auto source = (*folder)->CreateFile("image");
  ASSERT_TRUE(source.ok());
  Fill(**source, layout);
  auto copy = (*folder)->CreateFile("copy");
  ASSERT_TRUE(copy.ok());
  ASSERT_TRUE(CopyFileContents(**source, **copy).ok());
  EXPECT_TRUE(ReadAll(**copy) == ReadAll(**source));
  EXPECT_EQ((*copy)->Size(), layout.size);
}

}  // namespace
}  // namespace quarn

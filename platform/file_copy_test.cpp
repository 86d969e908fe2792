// A clone request either gives the target the source's very bytes or leaves it empty, so a
// caller that falls back to copying never finds half a clone.
#include "platform/file_copy.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/test_support/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

std::string ReadAll(File& file) {
  std::string bytes;
  EXPECT_EQ(file.Seek(0, SeekOrigin::kBegin), 0u);
  char buffer[1 << 16];
  while (uint32_t got = file.Read(buffer, sizeof buffer)) bytes.append(buffer, got);
  return bytes;
}

void Fill(File& file, uint64_t size) {
  const std::string mark = "boot sector";
  ASSERT_EQ(file.Write(mark.data(), static_cast<uint32_t>(mark.size())), mark.size());
  ASSERT_EQ(file.Seek(static_cast<int64_t>(size), SeekOrigin::kBegin), size);
  ASSERT_TRUE(file.SetEndOfFile());
}

TEST(FileCopyTest, ACloneIsWholeOrNothing) {
  ScratchFolder scratch;
  auto host = OpenPosixFileSystem()->OpenFolder(scratch.path());
  ASSERT_TRUE(host.ok()) << host.message();
  MemoryFileSystem memory;
  auto twin = memory.OpenFolder("/");
  ASSERT_TRUE(twin.ok());
  for (Folder* folder : {host->get(), twin->get()}) {
    auto source = folder->CreateFile("image");
    auto target = folder->CreateFile("copy");
    ASSERT_TRUE(source.ok() && target.ok());
    Fill(**source, 3 << 20);
    if (CloneFileContents(**source, **target)) {
      EXPECT_TRUE(ReadAll(**target) == ReadAll(**source)) << folder->Path();
    } else {
      EXPECT_EQ((*target)->Size(), 0u) << folder->Path();
    }
  }
  // The in-memory twin has nothing to clone with.
  auto source = (*twin)->OpenFile("image", OpenMode::kRead);
  auto target = (*twin)->CreateFile("second");
  ASSERT_TRUE(source.ok() && target.ok());
  EXPECT_FALSE(CloneFileContents(**source, **target));
}

}  // namespace
}  // namespace quarn

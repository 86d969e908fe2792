// What only the POSIX file shows; the behaviour it shares with the memory file system is
// checked in file_system_contract_test.cpp.

#include "platform/posix_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

class PosixFileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch_.path().empty()); }

  // A new file holding `content`, opened for reading and writing.
  std::unique_ptr<PosixFile> Make(const std::string& name, const std::string& content,
                                  mode_t mode = 0644) {
    int descriptor = open(scratch_.Child(name).c_str(), O_RDWR | O_CREAT | O_TRUNC, mode);
    EXPECT_GE(descriptor, 0);
    EXPECT_EQ(write(descriptor, content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    fchmod(descriptor, mode);
    lseek(descriptor, 0, SEEK_SET);
    return std::make_unique<PosixFile>(descriptor);
  }

  ScratchFolder scratch_;
};

TEST_F(PosixFileTest, CreationTimeIsTheBirthTimeWhereTheFileSystemKeepsOne) {
  auto before = std::chrono::system_clock::now();
  std::unique_ptr<PosixFile> file = Make("born", "x");
  auto after = std::chrono::system_clock::now();
  std::optional<FileTimes> times = file->GetTimes();
  ASSERT_TRUE(times.has_value());
  if (!times->creation) GTEST_SKIP() << "this file system keeps no birth time";
  auto to_nanoseconds = [](std::chrono::system_clock::time_point point) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(point.time_since_epoch()).count();
  };
  // File system clocks run on kernel ticks; allow a second either side.
  EXPECT_GE(*times->creation, to_nanoseconds(before) - 1'000'000'000);
  EXPECT_LE(*times->creation, to_nanoseconds(after) + 1'000'000'000);

  // A creation time cannot be set here: asking is not an error and changes nothing.
  FileTimes wanted = *times;
  wanted.creation = 42;
  EXPECT_TRUE(file->SetTimes(wanted));
  EXPECT_EQ(file->GetTimes()->creation, times->creation);
}

TEST_F(PosixFileTest, ASeekThatWouldOverflowAndAReadAtAnOffsetKeepThePosition) {
  std::unique_ptr<PosixFile> file = Make("small", "abcdefgh");
  ASSERT_EQ(file->Seek(5, SeekOrigin::kBegin), 5u);
  EXPECT_FALSE(file->Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::kCurrent));
  EXPECT_FALSE(file->Seek(std::numeric_limits<int64_t>::min(), SeekOrigin::kEnd));
  EXPECT_EQ(file->Position(), 5u);
  char byte = 0;
  ASSERT_EQ(file->Read(&byte, 1), 1u);
  EXPECT_EQ(byte, 'f');
  char two[2] = {};
  EXPECT_EQ(file->ReadAtOffset(1, two, 2), 2u);
  EXPECT_EQ(std::string(two, 2), "bc");
  EXPECT_EQ(file->Position(), 6u);
}

TEST_F(PosixFileTest, AReadAfterAnotherHandleCutTheFileGivesNothing) {
  std::unique_ptr<PosixFile> file = Make("cut", "0123456789");
  ASSERT_EQ(file->Seek(6, SeekOrigin::kBegin), 6u);
  ASSERT_EQ(truncate(scratch_.Child("cut").c_str(), 3), 0);
  char buffer[4];
  EXPECT_EQ(file->Read(buffer, 4), 0u);
  EXPECT_EQ(file->Size(), 3u);
}

// A file opened from a folder keeps the size its opening saw for the scan's read cache, while
// Size() still follows the file; a handle made without one answers Size() for both.
TEST_F(PosixFileTest, TheSizeWhenOpenedStaysWhileTheFileGrows) {
  Make("grows", "0123456789");
  auto folder = OpenPosixFileSystem()->OpenFolder(scratch_.path());
  ASSERT_TRUE(folder.ok());
  auto file = (*folder)->OpenFile("grows", OpenMode::kRead);
  ASSERT_TRUE(file.ok());
  ASSERT_EQ(truncate(scratch_.Child("grows").c_str(), 25), 0);
  EXPECT_EQ((*file)->SizeWhenOpened(), 10u);
  EXPECT_EQ((*file)->Size(), 25u);
  EXPECT_EQ(Make("plain", "abc")->SizeWhenOpened(), 3u);
}

TEST(FileTimeFromPartsTest, SaturatesInsteadOfOverflowing) {
  EXPECT_EQ(FileTimeFromParts(1, 5), 1'000'000'005);
  EXPECT_EQ(FileTimeFromParts(-2, 499'999'999), -1'500'000'001);
  EXPECT_EQ(FileTimeFromParts(int64_t{1} << 40, 0), std::numeric_limits<FileTime>::max());
  EXPECT_EQ(FileTimeFromParts(-(int64_t{1} << 40), 0), std::numeric_limits<FileTime>::min());
}

}  // namespace
}  // namespace quarn

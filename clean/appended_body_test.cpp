#include "clean/appended_body.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleaningTest;
using testing::ExeRecordBytes;
using testing::GetU16;

TEST(SetHeaderLengthFieldsTest, CountsTheLastPageAndEveryPage) {
  struct Case {
    uint32_t length;
    uint16_t last_page;
    uint16_t pages;
  };
  for (Case c : {Case{1024, 512, 2}, Case{1025, 1, 3}, Case{511, 511, 1}, Case{512, 512, 1},
                 Case{0x260, 0x60, 2}}) {
    SCOPED_TRACE(c.length);
    DosHeaderCopy header{};
    header.fill(0xAA);
    SetHeaderLengthFields(header, c.length);
    Bytes bytes(header.begin(), header.end());
    EXPECT_EQ(GetU16(bytes, 2), c.last_page);
    EXPECT_EQ(GetU16(bytes, 4), c.pages);
    EXPECT_EQ(bytes[1], 0xAA);
    EXPECT_EQ(bytes[6], 0xAA);
  }
}

class LocateAppendedBodyTest : public CleaningTest {
 protected:
  std::optional<AppendedBody> Locate(uint32_t file_size, uint32_t entry, const Bytes& record) {
    return LocateAppendedBody(Context(entry), *Open(Bytes(file_size, 0)), record);
  }
};

TEST_F(LocateAppendedBodyTest, DeclinesRecordsThatReachOutsideTheFile) {
  // Virus length above the size; entry distance beyond the entry.
  EXPECT_FALSE(Locate(0x500, 0x320, ExeRecordBytes(0, 2, 4, 6, 0x501, 0x20)));
  EXPECT_TRUE(Locate(0x500, 0x320, ExeRecordBytes(0, 2, 4, 6, 0x500, 0x20)));
  EXPECT_FALSE(Locate(0x500, 0x1F, ExeRecordBytes(0, 2, 4, 6, 0x300, 0x20)));
  EXPECT_TRUE(Locate(0x500, 0x20, ExeRecordBytes(0, 2, 4, 6, 0x300, 0x20)));
  // Each saved word must end inside the file; 0xFFFF names no word.
  const uint16_t last = 0x500 - 0x300 - 2;
  EXPECT_TRUE(Locate(0x500, 0x320, ExeRecordBytes(last, last, last, last, 0x300, 0x20)));
  for (int field = 0; field < 4; ++field) {
    SCOPED_TRACE(field);
    Bytes record = ExeRecordBytes(0, 0, 0, 0, 0x300, 0x20);
    testing::PutU16(record, 2 + 2 * field, last + 1);
    EXPECT_FALSE(Locate(0x500, 0x320, record));
  }
  EXPECT_TRUE(Locate(0x500, 0x320, ExeRecordBytes(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x300, 0x20)));
}

TEST_F(LocateAppendedBodyTest, DeclinesAFileWhoseLengthTheHeaderCannotHold) {
  // The memory file system holds 1 GiB at most: a file that only answers its size stands in
  // for one that does not know it and for one over 4 GiB, whose new length would wrap.
  struct NoSize : public File {
    uint32_t Read(void*, uint32_t) override { return 0; }
    std::optional<uint64_t> Seek(int64_t, SeekOrigin) override { return 0; }
    uint64_t Position() const override { return 0; }
    std::optional<uint64_t> Size() override { return size; }
    uint32_t Write(const void*, uint32_t) override { return 0; }
    bool SetEndOfFile() override { return false; }
    bool Flush() override { return false; }
    std::optional<FileTimes> GetTimes() override { return std::nullopt; }
    bool SetTimes(const FileTimes&) override { return false; }
    std::optional<FileAttributes> GetAttributes() override { return std::nullopt; }
    bool SetAttributes(const FileAttributes&) override { return false; }
    std::optional<FileInfo> GetInfo() override { return std::nullopt; }
    bool SetOwner(uint32_t, uint32_t) override { return false; }
    std::optional<uint64_t> size;
  } file;
  Bytes record = ExeRecordBytes(0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0x300, 0x20);
  EXPECT_FALSE(LocateAppendedBody(Context(0x320), file, record));
  file.size = uint64_t{1} << 32;
  EXPECT_FALSE(LocateAppendedBody(Context(0x320), file, record));
  file.size = (uint64_t{1} << 32) - 1;
  EXPECT_TRUE(LocateAppendedBody(Context(0x320), file, record));
}

}  // namespace
}  // namespace quarn

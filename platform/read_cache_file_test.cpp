#include "platform/read_cache_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "platform/forwarding_file.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

class ReadCacheFileTest : public ::testing::Test {
 protected:
  void Make(size_t size, ReadCacheFile::TailReach reach = {}) {
    bytes_.resize(size);
    std::mt19937 random(size);
    for (uint8_t& byte : bytes_) byte = static_cast<uint8_t>(random());
    files_.Remove("/f");
    files_.AddFile("/f", bytes_);
    auto folder = files_.OpenFolder("/");
    direct_ = std::move((*folder)->OpenFile("f", OpenMode::kRead).value());
    underlying_ = std::move((*folder)->OpenFile("f", OpenMode::kRead).value());
    cached_ = std::make_unique<ReadCacheFile>(*underlying_, std::move(reach));
  }

  // The same seek and read on the file and through the cache give the same answer.
  void ExpectSameRead(int64_t offset, SeekOrigin origin, uint32_t length) {
    std::vector<uint8_t> want(length, 0xAA), got(length, 0xAA);
    const auto want_position = direct_->Seek(offset, origin);
    const auto got_position = cached_->Seek(offset, origin);
    ASSERT_EQ(want_position, got_position) << offset;
    if (!want_position) return;
    const uint32_t want_count = direct_->Read(want.data(), length);
    ASSERT_EQ(cached_->Read(got.data(), length), want_count) << offset << "+" << length;
    EXPECT_EQ(got, want) << offset << "+" << length;
    EXPECT_EQ(cached_->Position(), direct_->Position());
  }

  std::vector<uint8_t> bytes_;
  MemoryFileSystem files_;
  std::unique_ptr<File> direct_;
  std::unique_ptr<File> underlying_;
  std::unique_ptr<ReadCacheFile> cached_;
};

// With the usual tail, and with the longest a reach may ask for.
TEST_F(ReadCacheFileTest, ReadsAnywhereGiveTheFilesBytes) {
  for (uint32_t tail : {0u, ReadCacheFile::kMaxTailSize})
    for (size_t size : {0u, 1u, 4095u, 4096u, 4097u, 20000u, 30000u}) {
      SCOPED_TRACE(size);
      Make(size, [tail](std::span<const uint8_t>, uint64_t) { return tail; });
      std::mt19937 random(7);
      for (int i = 0; i < 400; ++i) {
        const int64_t offset = static_cast<int64_t>(random() % (size + 5000)) - 100;
        const SeekOrigin origin = static_cast<SeekOrigin>(random() % 3);
        ExpectSameRead(origin == SeekOrigin::kEnd ? offset - static_cast<int64_t>(size) : offset,
                       origin, random() % 9000);
      }
    }
}

TEST_F(ReadCacheFileTest, SmallReadsNearTheStartOrTheEndCostOneReadOfTheFileEach) {
  Make(100000);
  for (uint32_t offset : {0u, 24u, 512u, 100u, 4000u, ReadCacheFile::kHeadSize - 12})
    ExpectSameRead(offset, SeekOrigin::kBegin, 12);
  EXPECT_EQ(cached_->underlying_reads(), 1);
  // The tail is measured from the end, so a read across an aligned block boundary near the
  // end is still one read.
  ExpectSameRead(-80, SeekOrigin::kEnd, 80);
  ExpectSameRead(-20, SeekOrigin::kEnd, 4);
  ExpectSameRead(-(100000 - 4096 * 24) - 8, SeekOrigin::kEnd, 16);
  ExpectSameRead(-static_cast<int64_t>(ReadCacheFile::kTailSize), SeekOrigin::kEnd, 16);
  EXPECT_EQ(cached_->underlying_reads(), 2);
  // Between head and tail, aligned blocks: a read across a block boundary takes both.
  ExpectSameRead(4 * 4096 - 4, SeekOrigin::kBegin, 8);
  EXPECT_EQ(cached_->underlying_reads(), 4);
}

// The reach is told the head read so far; the tail it asks for comes in one read, and what
// was read is there to look at without reading.
TEST_F(ReadCacheFileTest, TheTailAReachAsksForIsReadAtOnceAndHeld) {
  for (size_t size : {12000u, 100000u}) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> seen;
    Make(size, [&seen](std::span<const uint8_t> head, uint64_t) {
      seen.assign(head.begin(), head.end());
      return ReadCacheFile::kMaxTailSize;
    });
    EXPECT_TRUE(cached_->HeadHeld().empty());
    const size_t tail_from = size > ReadCacheFile::kHeadSize + ReadCacheFile::kMaxTailSize
                                 ? size - ReadCacheFile::kMaxTailSize
                                 : ReadCacheFile::kHeadSize;
    ExpectSameRead(0, SeekOrigin::kBegin, 16);
    ExpectSameRead(-16, SeekOrigin::kEnd, 16);
    ExpectSameRead(static_cast<int64_t>(tail_from), SeekOrigin::kBegin, 16);
    EXPECT_EQ(cached_->underlying_reads(), 2);
    const std::vector<uint8_t> head(bytes_.begin(), bytes_.begin() + ReadCacheFile::kHeadSize + 1);
    EXPECT_EQ(seen, head);
    EXPECT_TRUE(std::ranges::equal(cached_->HeadHeld(), head));
    EXPECT_EQ(cached_->TailHeldFrom(), tail_from);
    EXPECT_TRUE(std::ranges::equal(cached_->TailHeld(), std::span(bytes_).subspan(tail_from)));
  }
}

TEST_F(ReadCacheFileTest, AFileOfTheHeadsSizeOrLessIsReadOnce) {
  for (size_t size : {size_t{1}, size_t{511}, size_t{4000}, size_t{ReadCacheFile::kHeadSize}}) {
    SCOPED_TRACE(size);
    Make(size);
    for (int64_t offset : {0, 2, 24, 0x3C, 500, 4095, 4096, 9000})
      ExpectSameRead(offset, SeekOrigin::kBegin, 256);
    for (int64_t back : {1, 16, 80, 511}) ExpectSameRead(-back, SeekOrigin::kEnd, 16);
    EXPECT_EQ(cached_->underlying_reads(), 1);
  }
}

// Counts what the cache asks of the file, one request per ReadSome as a system would see it.
class CountingFile : public ForwardingFile {
 public:
  explicit CountingFile(File& file) : ForwardingFile(file) {}
  uint32_t Read(void* buffer, uint32_t length) override {
    ++reads;
    return ForwardingFile::Read(buffer, length);
  }
  uint32_t ReadSome(void* buffer, uint32_t length) override {
    ++requests;
    return forwarded().ReadSome(buffer, std::min(length, most_per_request));
  }

  int reads = 0;
  int requests = 0;
  uint32_t most_per_request = UINT32_MAX;
};

// A request that comes short at the end the size tells is the end: asking again would
// only deliver nothing, and the scan pays a system call for it on every file.
TEST_F(ReadCacheFileTest, TheEndTheSizeTellsCostsNoFurtherRequest) {
  for (size_t size : {1u, 6445u, 8192u, 30000u}) {
    SCOPED_TRACE(size);
    Make(size);
    CountingFile counting(*underlying_);
    cached_ = std::make_unique<ReadCacheFile>(counting);
    ExpectSameRead(0, SeekOrigin::kBegin, 512);
    ExpectSameRead(-16, SeekOrigin::kEnd, 16);
    ExpectSameRead(4, SeekOrigin::kEnd, 16);
    EXPECT_EQ(counting.requests, size > ReadCacheFile::kHeadSize ? 2 : 1);
    EXPECT_EQ(counting.reads, 0);
  }
}

TEST_F(ReadCacheFileTest, RequestsThatComeShortBeforeTheEndAreRepeated) {
  Make(10000);
  CountingFile counting(*underlying_);
  counting.most_per_request = 1000;
  cached_ = std::make_unique<ReadCacheFile>(counting);
  std::vector<uint8_t> got(9000);
  ASSERT_EQ(cached_->Read(got.data(), 9000), 9000u);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes_.begin()));
  EXPECT_GE(counting.requests, 9);
}

TEST_F(ReadCacheFileTest, NeverWrites) {
  Make(10);
  EXPECT_EQ(cached_->Write("x", 1), 0u);
  EXPECT_FALSE(cached_->SetEndOfFile());
  EXPECT_EQ(files_.ReadFileBytes("/f"), bytes_);
}

}  // namespace
}  // namespace quarn

// Descriptors passed over a Unix stream socket arrive owned, close-on-exec and in order; too
// many for the control buffer leak none; the three ways a receive ends without data are told
// apart.
#include "platform/descriptor_passing.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <linux/magic.h>

#include <string>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

class DescriptorPassingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    sender_ = UniqueDescriptor(ends[0]);
    receiver_ = UniqueDescriptor(ends[1]);
  }

  // A file of its own, so that each passed descriptor can be recognised by its inode.
  UniqueDescriptor NewFile(const std::string& name) {
    return UniqueDescriptor(open(scratch_.Child(name).c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600));
  }

  ReceivedBytes Receive() {
    Result<ReceivedBytes> received =
        ReceiveWithDescriptors(receiver_.get(), buffer_, sizeof(buffer_));
    EXPECT_TRUE(received.ok()) << received.message();
    return received ? std::move(*received) : ReceivedBytes{};
  }

  static bool SameFile(int a, int b) {
    struct stat first {
    }, second{};
    return fstat(a, &first) == 0 && fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
  }

  static size_t OpenDescriptorCount() {
    size_t count = 0;
    if (DIR* folder = opendir("/proc/self/fd")) {
      while (readdir(folder) != nullptr) ++count;
      closedir(folder);
    }
    return count;
  }

  ScratchFolder scratch_;
  UniqueDescriptor sender_;
  UniqueDescriptor receiver_;
  char buffer_[64] = {};
};

TEST_F(DescriptorPassingTest, PassedDescriptorsArriveOwnedCloseOnExecAndInOrder) {
  UniqueDescriptor first = NewFile("first");
  UniqueDescriptor second = NewFile("second");
  ASSERT_TRUE(SendWithDescriptor(sender_.get(), "x", 1, first.get()).ok());
  ReceivedBytes one = Receive();
  ASSERT_EQ(one.length, 1u);
  EXPECT_EQ(buffer_[0], 'x');
  ASSERT_EQ(one.descriptors.size(), 1u);
  EXPECT_TRUE(SameFile(one.descriptors[0].get(), first.get()));
  EXPECT_NE(fcntl(one.descriptors[0].get(), F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_FALSE(one.control_truncated);

  ASSERT_TRUE(SendWithDescriptors(sender_.get(), "yz", 2, {second.get(), first.get()}).ok());
  ReceivedBytes two = Receive();
  EXPECT_EQ(std::string(buffer_, two.length), "yz");
  ASSERT_EQ(two.descriptors.size(), 2u);
  EXPECT_TRUE(SameFile(two.descriptors[0].get(), second.get()));
  EXPECT_TRUE(SameFile(two.descriptors[1].get(), first.get()));
}

TEST_F(DescriptorPassingTest, TooManyDescriptorsAreAllClosedAndReported) {
  UniqueDescriptor file = NewFile("file");
  const std::vector<int> many(kMaxReceivedDescriptors + 4, file.get());
  const size_t before = OpenDescriptorCount();
  ASSERT_TRUE(SendWithDescriptors(sender_.get(), "m", 1, many).ok());
  {
    ReceivedBytes received = Receive();
    EXPECT_EQ(received.length, 1u) << "the bytes still count";
    EXPECT_TRUE(received.control_truncated);
    EXPECT_TRUE(received.descriptors.empty());
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST_F(DescriptorPassingTest, BytesAloneNothingYetAndAClosedPeerAreToldApart) {
  ReceivedBytes nothing_yet = Receive();
  EXPECT_TRUE(nothing_yet.would_block);
  EXPECT_EQ(nothing_yet.length, 0u);

  ASSERT_EQ(write(sender_.get(), "hi", 2), 2);
  ReceivedBytes plain = Receive();
  EXPECT_EQ(std::string(buffer_, plain.length), "hi");
  EXPECT_TRUE(plain.descriptors.empty());
  EXPECT_FALSE(plain.would_block);

  sender_.Close();
  ReceivedBytes closed = Receive();
  EXPECT_EQ(closed.length, 0u);
  EXPECT_FALSE(closed.would_block);
}

TEST_F(DescriptorPassingTest, FailuresNameTheCause) {
  Result<ReceivedBytes> received = ReceiveWithDescriptors(-1, buffer_, sizeof(buffer_));
  ASSERT_FALSE(received.ok());
  EXPECT_EQ(received.message(), "receive: Bad file descriptor");
  receiver_.Close();
  Status sent = SendWithDescriptor(sender_.get(), "x", 1, sender_.get());
  ASSERT_FALSE(sent.ok()) << "a peer that is gone is a failure, not SIGPIPE";
  EXPECT_NE(sent.message().find("send: "), std::string::npos) << sent.message();
}

// What a serving thread may read without waiting: a cached file whole, leaving the shared
// position alone; never a longer file, no socket, no file whose pages are not in memory.
TEST_F(DescriptorPassingTest, ACachedFileIsReadWholeAndNothingElse) {
  UniqueDescriptor file = NewFile("cached");
  ASSERT_EQ(write(file.get(), "cached bytes", 12), 12);
  ASSERT_EQ(lseek(file.get(), 3, SEEK_SET), 3);
  const auto bytes = ReadCachedWholeFile(file.get(), 12);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "cached bytes");
  EXPECT_EQ(lseek(file.get(), 0, SEEK_CUR), 3);
  EXPECT_FALSE(ReadCachedWholeFile(file.get(), 11));
  EXPECT_FALSE(ReadCachedWholeFile(sender_.get(), 12));

  struct statfs where {};
  ASSERT_EQ(fstatfs(file.get(), &where), 0);
  if (where.f_type == TMPFS_MAGIC) GTEST_SKIP() << "a tmpfs file's pages are never dropped";
  ASSERT_EQ(fsync(file.get()), 0);
  ASSERT_EQ(posix_fadvise(file.get(), 0, 0, POSIX_FADV_DONTNEED), 0);
  EXPECT_FALSE(ReadCachedWholeFile(file.get(), 12)) << "its pages would have to be read";
}

}  // namespace
}  // namespace quarn

// The cleaning copy on the real file system: what the cleaned file keeps of the original,
// and what happens where the file or its folder does not let the copy take its place.

#include "clean/cleaning_copy.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <map>

#include "clean/cleaning_context.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

const FileTimes kDiskCopyTimes{std::nullopt, 1'000'000'000'123, 2'000'000'000'456};
constexpr uint32_t kDiskUserFlags = FS_SYNC_FL | FS_NODUMP_FL | FS_NOATIME_FL;
constexpr off_t kDiskMiB = 1 << 20;

std::map<std::string, std::string> ExtendedAttributesAt(const std::string& path) {
  std::map<std::string, std::string> attributes;
  char names[4096];
  const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
  for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t size = lgetxattr(path.c_str(), names + at, value, sizeof value);
    if (size >= 0) attributes[names + at] = std::string(value, static_cast<size_t>(size));
  }
  return attributes;
}

// The inode flags of `path`, or 0 where the file system keeps none.
uint32_t FlagsAt(const std::string& path) {
  int flags = 0;
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  if (descriptor < 0 || ioctl(descriptor, FS_IOC_GETFLAGS, &flags) != 0) flags = 0;
  if (descriptor >= 0) close(descriptor);
  return static_cast<uint32_t>(flags);
}

bool SetFlagsAt(const std::string& path, uint32_t flags) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  int value = static_cast<int>(flags);
  const bool set = descriptor >= 0 && ioctl(descriptor, FS_IOC_SETFLAGS, &value) == 0;
  if (descriptor >= 0) close(descriptor);
  return set;
}

// An access control list as the kernel stores it: version 2, then (tag, permissions, id).
std::string AccessControlList(uint32_t named_user) {
  std::string bytes;
  auto put = [&](uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  put(2, 4);
  const uint32_t kNoId = 0xFFFFFFFF;
  const uint32_t entries[][3] = {{0x01, 6, kNoId},
                                 {0x02, 4, named_user},
                                 {0x04, 4, kNoId},
                                 {0x10, 4, kNoId},
                                 {0x20, 0, kNoId}};
  for (const auto& entry : entries) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
  }
  return bytes;
}

std::string SetAttributeOr(const std::string& path, const char* name, const std::string& value,
                           const char* why_not) {
  if (lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0) return "";
  return std::string(why_not) + ": " + strerror(errno);
}

struct KeptFactCase {
  const char* what;
  std::string name = "A.EXE";
  // Gives the original at `path` in `folder` what the case is about; a text says why this
  // file system or this user cannot, and skips the case.
  std::string (*prepare)(const std::string& folder, const std::string& path);
  // What the cleaned file must show besides the bytes, times, owner, mode, extended
  // attributes and flags every case checks.
  void (*check)(const std::string& path) = nullptr;
};

const KeptFactCase kKeptFacts[] = {
    {"set-user-ID and set-group-ID of another owner", "A.EXE",
     [](const std::string&, const std::string& path) {
       if (chown(path.c_str(), 1234, 1234) != 0) {
         return std::string("only root gives a file to another owner");
       }
       chmod(path.c_str(), 06755);
       return std::string();
     }},
    {"an extended attribute", "A.EXE",
     [](const std::string&, const std::string& path) {
       return SetAttributeOr(path, "user.origin", std::string("net\0work", 8),
                             "no user extended attributes here");
     }},
    {"an access control list", "A.EXE",
     [](const std::string&, const std::string& path) {
       return SetAttributeOr(path, "system.posix_acl_access", AccessControlList(1234),
                             "no access control lists here");
     }},
    {"no access control list where the folder gives new files one", "A.EXE",
     [](const std::string& folder, const std::string&) {
       return SetAttributeOr(folder, "system.posix_acl_default", AccessControlList(1234),
                             "no default access control lists here");
     }},
    {"a file capability, which a write would clear", "A.EXE",
     [](const std::string&, const std::string& path) {
       std::string capability(20, '\0');
       capability[3] = 0x02;  // revision 2, little-endian
       capability[5] = 0x04;  // permitted: bit 10, binding a low port
       return SetAttributeOr(path, "security.capability", capability,
                             "file capabilities cannot be set here");
     }},
    {"the flags chattr sets", "A.EXE",
     [](const std::string&, const std::string& path) {
       if (!SetFlagsAt(path, FlagsAt(path) | FS_NOATIME_FL | FS_NODUMP_FL)) {
         return std::string("this file system keeps no flags");
       }
       return std::string();
     }},
    {"holes", "A.EXE",
     [](const std::string&, const std::string& path) {
       const int descriptor = open(path.c_str(), O_WRONLY);
       const bool made = pwrite(descriptor, "data", 4, 32 * kDiskMiB) == 4 &&
                         ftruncate(descriptor, 64 * kDiskMiB) == 0;
       close(descriptor);
       struct stat status;
       stat(path.c_str(), &status);
       if (!made || status.st_blocks * 512 > kDiskMiB) return std::string("no holes here");
       return std::string();
     },
     [](const std::string& path) {
       struct stat status;
       ASSERT_EQ(stat(path.c_str(), &status), 0);
       EXPECT_EQ(status.st_size, 64 * kDiskMiB);
       EXPECT_LE(status.st_blocks * 512, kDiskMiB) << "the holes were filled";
       std::ifstream in(path, std::ios::binary);
       in.seekg(32 * kDiskMiB - 1);
       char around[6] = {};
       in.read(around, 6);
       EXPECT_EQ(std::string(around, 6), std::string("\0data\0", 6));
     }},
    {"the longest name", std::string(255, 'n'),
     [](const std::string&, const std::string&) { return std::string(); }},
};

void PrintTo(const KeptFactCase& kept, std::ostream* out) {
  *out << kept.what;
}

class KeptFactTest : public ::testing::TestWithParam<KeptFactCase> {};

TEST_P(KeptFactTest, TheCleanedFileKeepsWhatTheOriginalHad) {
  const KeptFactCase& kept = GetParam();
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string path = scratch.Child(kept.name);
  { std::ofstream(path) << "infected!"; }
  chmod(path.c_str(), 0640);  // what the umask of the clean, 077, would cut
  if (std::string why_not = kept.prepare(scratch.path(), path); !why_not.empty()) {
    GTEST_SKIP() << why_not;
  }
  struct stat before;
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  const auto attributes_before = ExtendedAttributesAt(path);
  const uint32_t flags_before = FlagsAt(path);

  auto files = OpenPosixFileSystem();
  auto folder = files->OpenFolder(scratch.path());
  ASSERT_TRUE(folder.ok()) << folder.message();
  auto original = (*folder)->OpenFile(kept.name, OpenMode::kRead);
  ASSERT_TRUE(original.ok()) << original.message();
  const mode_t umask_before = umask(077);
  auto copy = CleaningCopy::Create(**folder, kept.name, **original);
  umask(umask_before);
  ASSERT_TRUE(copy.ok()) << copy.message();
  ASSERT_TRUE(WriteAt((*copy)->file(), 0, "clean", 5));
  Status committed = (*copy)->Commit(kDiskCopyTimes);
  ASSERT_TRUE(committed.ok()) << committed.message();

  struct stat after;
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the name";
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(ExtendedAttributesAt(path), attributes_before);
  EXPECT_EQ(FlagsAt(path) & kDiskUserFlags, flags_before & kDiskUserFlags);
  EXPECT_EQ(after.st_mtim.tv_sec * 1'000'000'000LL + after.st_mtim.tv_nsec,
            kDiskCopyTimes.last_write);
  std::string start(5, '\0');
  std::ifstream(path, std::ios::binary).read(start.data(), 5);
  EXPECT_EQ(start, "clean");
  EXPECT_EQ((*folder)->List()->size(), 1u) << "nothing is left beside the file";
  if (kept.check != nullptr) kept.check(path);
}

INSTANTIATE_TEST_SUITE_P(EveryFact, KeptFactTest, ::testing::ValuesIn(kKeptFacts),
                         [](const ::testing::TestParamInfo<KeptFactCase>& info) {
                           std::string name;
                           for (char c : std::string(info.param.what)) {
                             if (isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

class CleaningCopyOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    { std::ofstream(scratch_.Child("A.EXE")) << "infected!"; }
    auto folder = files_->OpenFolder(scratch_.path());
    ASSERT_TRUE(folder.ok()) << folder.message();
    folder_ = std::move(*folder);
    auto original = folder_->OpenFile("A.EXE", OpenMode::kRead);
    ASSERT_TRUE(original.ok()) << original.message();
    original_ = std::move(*original);
  }

  std::string Content() {
    std::ifstream in(scratch_.Child("A.EXE"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  ScratchFolder scratch_;
  std::unique_ptr<FileSystem> files_ = OpenPosixFileSystem();
  std::unique_ptr<Folder> folder_;
  std::unique_ptr<File> original_;
};

TEST_F(CleaningCopyOnDiskTest, AWriteToTheFileWhileItIsCleanedIsKept) {
  auto copy = CleaningCopy::Create(*folder_, "A.EXE", *original_);
  ASSERT_TRUE(copy.ok()) << copy.message();
  ASSERT_TRUE(WriteAt((*copy)->file(), 0, "clean", 5));
  { std::ofstream(scratch_.Child("A.EXE"), std::ios::app) << " and saved"; }
  Status committed = (*copy)->Commit(kDiskCopyTimes);
  EXPECT_FALSE(committed.ok());
  EXPECT_NE(committed.message().find("the file changed while it was cleaned"), std::string::npos)
      << committed.message();
  EXPECT_EQ(Content(), "infected! and saved");
  EXPECT_EQ(folder_->List()->size(), 1u);
}

}  // namespace
}  // namespace quarn

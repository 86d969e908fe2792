// What only the memory file system offers: faults on demand, and the means to build and
// inspect a tree. Its likeness to the POSIX one is checked in file_system_contract_test.cpp.

#include "platform/test_support/memory_file_system.h"

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace std::string_literals;

// A small tree: /d/f holding "hello world", files r0–r3 and x0–x3 to rename and delete, and
// a folder /d/sub; /d and /d/f open.
struct FaultBench {
  FaultBench() {
    EXPECT_TRUE(files.AddFile("/d/f", "hello world").ok());
    for (int i = 0; i < 4; ++i) {
      EXPECT_TRUE(files.AddFile("/d/r" + std::to_string(i), "r").ok());
      EXPECT_TRUE(files.AddFile("/d/x" + std::to_string(i), "x").ok());
    }
    EXPECT_TRUE(files.AddFolder("/d/sub").ok());
    folder = std::move(*files.OpenFolder("/d"));
    file = std::move(*folder->OpenFile("f", OpenMode::kReadWrite));
  }
  MemoryFileSystem files;
  std::unique_ptr<Folder> folder;
  std::unique_ptr<File> file;
};

class MemoryFileSystemTest : public testing::Test {
 protected:
  FaultBench bench_;
  MemoryFileSystem& files_ = bench_.files;
  std::unique_ptr<Folder>& folder_ = bench_.folder;
  std::unique_ptr<File>& file_ = bench_.file;
};

// One call of each operation that succeeds when no fault is set; `i` tells calls apart for
// those that use up a name.
struct OperationCall {
  FileOperation operation;
  const char* name;
  std::function<bool(FaultBench&, int i)> call;
};

std::string Numbered(const char* prefix, int i) {
  return prefix + std::to_string(i);
}

const OperationCall kCalls[] = {
    {FileOperation::kRead, "Read",
     [](FaultBench& bench, int) {
       char byte;
       return bench.file->Read(&byte, 1) == 1;
     }},
    {FileOperation::kWrite, "Write",
     [](FaultBench& bench, int) { return bench.file->Write("w", 1) == 1; }},
    {FileOperation::kSeek, "Seek",
     [](FaultBench& bench, int) { return bench.file->Seek(1, SeekOrigin::kBegin).has_value(); }},
    {FileOperation::kSetEndOfFile, "SetEndOfFile",
     [](FaultBench& bench, int) { return bench.file->SetEndOfFile(); }},
    {FileOperation::kFlush, "Flush", [](FaultBench& bench, int) { return bench.file->Flush(); }},
    {FileOperation::kSetTimes, "SetTimes",
     [](FaultBench& bench, int) { return bench.file->SetTimes(FileTimes{}); }},
    {FileOperation::kSetAttributes, "SetAttributes",
     [](FaultBench& bench, int) { return bench.file->SetAttributes(FileAttributes{}); }},
    {FileOperation::kSetOwner, "SetOwner",
     [](FaultBench& bench, int) { return bench.file->SetOwner(7, 8); }},
    {FileOperation::kOpenFile, "OpenFile",
     [](FaultBench& bench, int) { return bench.folder->OpenFile("f", OpenMode::kRead).ok(); }},
    {FileOperation::kCreateFile, "CreateFile",
     [](FaultBench& bench, int i) { return bench.folder->CreateFile(Numbered("new", i)).ok(); }},
    {FileOperation::kRename, "Rename",
     [](FaultBench& bench, int i) {
       return bench.folder->Rename(Numbered("r", i), Numbered("s", i), RenameMode::kNoReplace).ok();
     }},
    {FileOperation::kDelete, "Delete",
     [](FaultBench& bench, int i) { return bench.folder->Delete(Numbered("x", i)).ok(); }},
    {FileOperation::kList, "List",
     [](FaultBench& bench, int) { return bench.folder->List().ok(); }},
    {FileOperation::kOpenFolder, "OpenFolder",
     [](FaultBench& bench, int) { return bench.folder->OpenFolder("sub").ok(); }},
    {FileOperation::kCreateFolder, "CreateFolder",
     [](FaultBench& bench, int i) { return bench.folder->CreateFolder(Numbered("c", i)).ok(); }},
};

TEST(MemoryFaultTest, EachOperationFailsOnTheCallAskedForAndNoOther) {
  for (const OperationCall& entry : kCalls) {
    SCOPED_TRACE(entry.name);
    FaultBench bench;
    int before = bench.files.CallCount(entry.operation);
    bench.files.FailCall(entry.operation, 2);
    EXPECT_TRUE(entry.call(bench, 0));
    EXPECT_FALSE(entry.call(bench, 1));
    EXPECT_TRUE(entry.call(bench, 2));
    EXPECT_TRUE(entry.call(bench, 3));
    EXPECT_EQ(bench.files.CallCount(entry.operation), before + 4);
  }
}

TEST(MemoryFaultTest, OpeningAFolderByPathCountsAsOpenFolder) {
  FaultBench bench;
  bench.files.FailCall(FileOperation::kOpenFolder, 1);
  EXPECT_EQ(bench.files.OpenFolder("/d").message(), "cannot open folder /d: Input/output error");
  EXPECT_TRUE(bench.files.OpenFolder("/d").ok());
  bench.files.FailCall(FileOperation::kCreateFolder, 1);
  EXPECT_FALSE(bench.files.CreateFolders("/d/e/f").ok());
  EXPECT_FALSE(bench.files.Exists("/d/e"));
}

TEST_F(MemoryFileSystemTest, AFaultCountsFromWhenItWasSetAndCanLast) {
  char buffer[2];
  ASSERT_EQ(file_->Read(buffer, 1), 1u);
  files_.FailCall(FileOperation::kRead, 2, /*and_after=*/true);
  EXPECT_EQ(file_->Read(buffer, 2), 2u);
  EXPECT_EQ(file_->Read(buffer, 2), 0u);
  EXPECT_EQ(file_->Read(buffer, 2), 0u);
  files_.ClearFaults();
  EXPECT_EQ(file_->Read(buffer, 2), 2u);
}

TEST_F(MemoryFileSystemTest, FailedCallsChangeNothing) {
  ASSERT_EQ(file_->Seek(3, SeekOrigin::kBegin), 3u);
  files_.FailCall(FileOperation::kWrite, 1);
  EXPECT_EQ(file_->Write("XYZ", 3), 0u);
  files_.FailCall(FileOperation::kSetEndOfFile, 1);
  EXPECT_FALSE(file_->SetEndOfFile());
  files_.FailCall(FileOperation::kRead, 1);
  char buffer[3];
  EXPECT_EQ(file_->Read(buffer, 3), 0u);
  files_.FailCall(FileOperation::kSeek, 1);
  EXPECT_FALSE(file_->Seek(0, SeekOrigin::kBegin));
  EXPECT_EQ(file_->Position(), 3u);
  EXPECT_EQ(files_.ReadFileText("/d/f"), "hello world");

  files_.FailCall(FileOperation::kRename, 1);
  EXPECT_FALSE(folder_->Rename("r0", "renamed", RenameMode::kReplace).ok());
  files_.FailCall(FileOperation::kDelete, 1);
  EXPECT_FALSE(folder_->Delete("x0").ok());
  files_.FailCall(FileOperation::kCreateFile, 1);
  Result<std::unique_ptr<File>> created = folder_->CreateFile("never");
  EXPECT_EQ(created.message(), "cannot create /d/never: Input/output error");
  EXPECT_TRUE(files_.Exists("/d/r0"));
  EXPECT_FALSE(files_.Exists("/d/renamed"));
  EXPECT_TRUE(files_.Exists("/d/x0"));
  EXPECT_FALSE(files_.Exists("/d/never"));
}

TEST_F(MemoryFileSystemTest, ShortReadsDeliverEverythingInPieces) {
  files_.SetShortReads(3);
  std::string gathered;
  char buffer[64];
  for (uint32_t got; (got = file_->Read(buffer, sizeof buffer)) != 0;) {
    EXPECT_LE(got, 3u);
    gathered.append(buffer, got);
  }
  EXPECT_EQ(gathered, "hello world");
}

TEST_F(MemoryFileSystemTest, ShortWritesStoreOnlyPartOfTheBytes) {
  files_.SetShortWrites(4);
  EXPECT_EQ(file_->Write("ABCDEFGH", 8), 4u);
  EXPECT_EQ(file_->Position(), 4u);
  EXPECT_EQ(files_.ReadFileText("/d/f"), "ABCDo world");
}

TEST_F(MemoryFileSystemTest, FilesCannotGrowWithoutBound) {
  ASSERT_TRUE(file_->Seek(static_cast<int64_t>(kMaxMemoryFileSize), SeekOrigin::kBegin));
  EXPECT_EQ(file_->Write("x", 1), 0u);
  ASSERT_TRUE(file_->Seek(1, SeekOrigin::kCurrent));
  EXPECT_FALSE(file_->SetEndOfFile());
  EXPECT_EQ(file_->Size(), 11u);
}

TEST_F(MemoryFileSystemTest, ASeekThatWouldOverflowFails) {
  ASSERT_EQ(file_->Seek(std::numeric_limits<int64_t>::max(), SeekOrigin::kBegin),
            static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
  EXPECT_FALSE(file_->Seek(1, SeekOrigin::kCurrent));
  EXPECT_EQ(file_->Position(), static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
}

TEST_F(MemoryFileSystemTest, BuildingAndInspectingTheTree) {
  ASSERT_TRUE(files_.AddFile("/new/deep/file.bin", std::vector<uint8_t>{0, 1, 2}).ok());
  EXPECT_EQ(files_.ReadFileBytes("/new/deep/file.bin"), (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_EQ(files_.KindOf("/new/deep"), EntryKind::kFolder);
  EXPECT_EQ(files_.NamesIn("/new"), std::vector<std::string>{"deep"});
  EXPECT_FALSE(files_.ReadFileBytes("/new/deep").has_value());
  EXPECT_FALSE(files_.Exists("/new/other"));

  ASSERT_TRUE(files_.AddLink("/new/link", "deep/file.bin").ok());
  EXPECT_EQ(files_.KindOf("/new/link"), EntryKind::kLink);
  EXPECT_FALSE(files_.ReadFileBytes("/new/link").has_value());

  ASSERT_TRUE(files_.Remove("/new/deep").ok());
  EXPECT_FALSE(files_.Exists("/new/deep/file.bin"));
  EXPECT_FALSE(files_.Remove("/new/deep").ok());
  EXPECT_FALSE(files_.AddFile("/d/f/below", "x").ok());  // a file is in the way
}

TEST_F(MemoryFileSystemTest, LinkCountAndReadOnlyAsSetByTheTest) {
  ASSERT_TRUE(files_.SetLinkCount("/d/f", 3).ok());
  EXPECT_EQ(file_->GetInfo()->link_count, 3u);
  EXPECT_FALSE(files_.SetLinkCount("/d/missing", 3).ok());

  ASSERT_TRUE(files_.SetReadOnly("/d/r0", true).ok());
  EXPECT_TRUE(files_.AttributesOf("/d/r0")->read_only);
  EXPECT_TRUE(folder_->OpenFile("r0", OpenMode::kRead).ok());
  Result<std::unique_ptr<File>> writable = folder_->OpenFile("r0", OpenMode::kReadWrite);
  EXPECT_EQ(writable.message(), "cannot open /d/r0: Permission denied");
}

TEST_F(MemoryFileSystemTest, AReadOnlyFolderRefusesEveryChange) {
  ASSERT_TRUE(files_.SetReadOnly("/d", true).ok());
  EXPECT_EQ(folder_->CreateFile("new").message(), "cannot create /d/new: Permission denied");
  EXPECT_FALSE(folder_->CreateFolder("newsub").ok());
  EXPECT_FALSE(folder_->Delete("x0").ok());
  EXPECT_FALSE(folder_->Rename("r0", "s0", RenameMode::kNoReplace).ok());
  EXPECT_EQ(files_.CreateFolders("/d/a/b").message(),
            "cannot create folder /d/a: Permission denied");
  EXPECT_TRUE(files_.Exists("/d/x0"));
  EXPECT_TRUE(files_.Exists("/d/r0"));
  // Files in it can still be written.
  EXPECT_EQ(file_->Write("J", 1), 1u);
}

TEST_F(MemoryFileSystemTest, PathsFollowLinksButNotForever) {
  ASSERT_TRUE(files_.AddLink("/absolute", "/d").ok());
  ASSERT_TRUE(files_.AddLink("/d/sub/up", "..").ok());
  ASSERT_TRUE(files_.AddLink("/loop1", "/loop2").ok());
  ASSERT_TRUE(files_.AddLink("/loop2", "/loop1").ok());

  Result<std::unique_ptr<Folder>> through = files_.OpenFolder("/absolute/sub/up/sub/..");
  ASSERT_TRUE(through.ok()) << through.message();
  Result<std::unique_ptr<File>> found = (*through)->OpenFile("f", OpenMode::kRead);
  EXPECT_TRUE(found.ok()) << found.message();

  EXPECT_EQ(files_.OpenFolder("/loop1").message(),
            "cannot open folder /loop1: Too many levels of symbolic links");
  EXPECT_EQ(files_.OpenFolder("/d/f").message(), "cannot open folder /d/f: Not a directory");
  EXPECT_TRUE(files_.OpenFolder("/../..").ok());
}

TEST_F(MemoryFileSystemTest, NewEntriesAreStampedWithTheClock) {
  files_.SetClock(1'000);
  Result<std::unique_ptr<File>> created = folder_->CreateFile("stamped");
  ASSERT_TRUE(created.ok());
  files_.SetClock(2'000);
  ASSERT_EQ((*created)->Write("x", 1), 1u);
  std::optional<FileTimes> times = files_.TimesOf("/d/stamped");
  ASSERT_TRUE(times.has_value());
  EXPECT_EQ(times->creation, 1'000);
  EXPECT_EQ(times->last_access, 1'000);
  EXPECT_EQ(times->last_write, 2'000);
}

TEST_F(MemoryFileSystemTest, ACreationTimeGivenIsKept) {
  FileTimes times;
  times.creation = 77;
  times.last_access = 88;
  times.last_write = 99;
  ASSERT_TRUE(file_->SetTimes(times));
  EXPECT_EQ(files_.TimesOf("/d/f")->creation, 77);
  times.creation.reset();
  ASSERT_TRUE(file_->SetTimes(times));
  EXPECT_EQ(files_.TimesOf("/d/f")->creation, 77);
}

TEST_F(MemoryFileSystemTest, ADeviceSetOnAFolderReachesEverythingBelowIt) {
  ASSERT_TRUE(files_.AddFile("/d/sub/inner", "x").ok());
  ASSERT_TRUE(files_.SetDevice("/d/sub", 9).ok());
  ASSERT_TRUE(files_.AddFile("/d/sub/later", "x").ok());
  EXPECT_EQ(files_.InfoOf("/d/sub/inner")->device, 9u);
  EXPECT_EQ(files_.InfoOf("/d/sub/later")->device, 9u);
  EXPECT_EQ(files_.InfoOf("/d/f")->device, 1u);
  Result<std::vector<FolderEntry>> entries = folder_->List();
  ASSERT_TRUE(entries.ok());
  for (const FolderEntry& entry : *entries) {
    EXPECT_EQ(entry.mount, entry.name == "sub" ? 9u : 1u) << entry.name;
  }
}

TEST_F(MemoryFileSystemTest, AFolderRemovedUnderItsHandleTakesNoNewEntries) {
  Result<std::unique_ptr<Folder>> sub = folder_->OpenFolder("sub");
  ASSERT_TRUE(sub.ok());
  ASSERT_TRUE(files_.Remove("/d/sub").ok());
  EXPECT_EQ((*sub)->CreateFile("orphan").message(),
            "cannot create /d/sub/orphan: No such file or directory");
  EXPECT_FALSE((*sub)->CreateFolder("orphan").ok());
}

TEST_F(MemoryFileSystemTest, HandlesOutliveTheFileSystem) {
  std::unique_ptr<Folder> folder;
  std::unique_ptr<File> file;
  {
    MemoryFileSystem short_lived;
    ASSERT_TRUE(short_lived.AddFile("/keep/me", "content").ok());
    folder = std::move(*short_lived.OpenFolder("/keep"));
    file = std::move(*folder->OpenFile("me", OpenMode::kRead));
  }
  char buffer[16];
  EXPECT_EQ(std::string(buffer, file->Read(buffer, sizeof buffer)), "content");
  EXPECT_TRUE(folder->CreateFile("more").ok());
}

TEST_F(MemoryFileSystemTest, SeveralThreadsMayWorkAtOnce) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      for (int i = 0; i < 50; ++i) {
        std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        Result<std::unique_ptr<File>> created = folder_->CreateFile(name);
        if (created) (*created)->Write(name.data(), static_cast<uint32_t>(name.size()));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Result<std::vector<FolderEntry>> entries = folder_->List();
  ASSERT_TRUE(entries.ok());
  EXPECT_EQ(entries->size(), 10u + 200u);
  EXPECT_EQ(files_.ReadFileText("/d/t3-49"), "t3-49");
}

}  // namespace
}  // namespace quarn

// The behaviour every Folder and File must show, run against the POSIX implementation and
// against its in-memory twin: whatever passes in memory also holds on a real disk.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

// One implementation with a root folder to play in, and ways to set up and inspect entries
// that do not go through the code under test.
class Backend {
 public:
  virtual ~Backend() = default;
  Folder& root() { return *root_; }
  FileSystem& files() { return *files_; }
  virtual std::string RootPath() const = 0;
  virtual void MakeFile(const std::string& name, const std::string& content) = 0;
  virtual void MakeLink(const std::string& name, const std::string& target) = 0;
  virtual void MakeFifo(const std::string& name) = 0;
  // The content of `name`, not following a link; nothing when it is not a file.
  virtual std::optional<std::string> Content(const std::string& name) = 0;
  virtual bool Exists(const std::string& name) = 0;

 protected:
  std::unique_ptr<FileSystem> files_;
  std::unique_ptr<Folder> root_;
};

class PosixBackend : public Backend {
 public:
  PosixBackend() {
    files_ = OpenPosixFileSystem();
    Result<std::unique_ptr<Folder>> opened = files_->OpenFolder(scratch_.path());
    EXPECT_TRUE(opened.ok()) << opened.message();
    if (opened) root_ = std::move(*opened);
  }
  std::string RootPath() const override { return scratch_.path(); }
  void MakeFile(const std::string& name, const std::string& content) override {
    int descriptor = open(scratch_.Child(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(write(descriptor, content.data(), content.size()),
              static_cast<ssize_t>(content.size()));
    close(descriptor);
  }
  void MakeLink(const std::string& name, const std::string& target) override {
    ASSERT_EQ(symlink(target.c_str(), scratch_.Child(name).c_str()), 0);
  }
  void MakeFifo(const std::string& name) override {
    ASSERT_EQ(mkfifo(scratch_.Child(name).c_str(), 0644), 0);
  }
  std::optional<std::string> Content(const std::string& name) override {
    int descriptor = open(scratch_.Child(name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (descriptor < 0) return std::nullopt;
    struct stat status;
    std::optional<std::string> content;
    if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode)) {
      content.emplace(static_cast<size_t>(status.st_size), '\0');
      if (read(descriptor, content->data(), content->size()) !=
          static_cast<ssize_t>(content->size())) {
        content.reset();
      }
    }
    close(descriptor);
    return content;
  }
  bool Exists(const std::string& name) override {
    struct stat status;
    return lstat(scratch_.Child(name).c_str(), &status) == 0;
  }

 private:
  ScratchFolder scratch_;
};

class MemoryBackend : public Backend {
 public:
  MemoryBackend() {
    auto memory = std::make_unique<MemoryFileSystem>();
    memory_ = memory.get();
    files_ = std::move(memory);
    EXPECT_TRUE(memory_->AddFolder("/scratch").ok());
    Result<std::unique_ptr<Folder>> opened = files_->OpenFolder("/scratch");
    EXPECT_TRUE(opened.ok()) << opened.message();
    if (opened) root_ = std::move(*opened);
  }
  std::string RootPath() const override { return "/scratch"; }
  void MakeFile(const std::string& name, const std::string& content) override {
    ASSERT_TRUE(memory_->AddFile(Child(name), content).ok());
  }
  void MakeLink(const std::string& name, const std::string& target) override {
    ASSERT_TRUE(memory_->AddLink(Child(name), target).ok());
  }
  void MakeFifo(const std::string& name) override {
    ASSERT_TRUE(memory_->AddSpecial(Child(name)).ok());
  }
  std::optional<std::string> Content(const std::string& name) override {
    return memory_->ReadFileText(Child(name));
  }
  bool Exists(const std::string& name) override { return memory_->Exists(Child(name)); }

 private:
  static std::string Child(const std::string& name) { return "/scratch/" + name; }
  MemoryFileSystem* memory_;
};

class FileSystemContractTest : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "Posix") {
      backend_ = std::make_unique<PosixBackend>();
    } else {
      backend_ = std::make_unique<MemoryBackend>();
    }
  }
  Backend& backend() { return *backend_; }
  Folder& root() { return backend_->root(); }

  std::unique_ptr<File> Open(const std::string& name, OpenMode mode = OpenMode::kReadWrite) {
    Result<std::unique_ptr<File>> file = root().OpenFile(name, mode);
    EXPECT_TRUE(file.ok()) << file.message();
    return file ? std::move(*file) : nullptr;
  }

  std::vector<FolderEntry> Listing() {
    Result<std::vector<FolderEntry>> entries = root().List();
    EXPECT_TRUE(entries.ok()) << entries.message();
    return entries ? *entries : std::vector<FolderEntry>();
  }

 private:
  std::unique_ptr<Backend> backend_;
};

std::string ReadText(File& file, uint32_t length) {
  std::string text(length, '\0');
  text.resize(file.Read(text.data(), length));
  return text;
}

// --- Reading, seeking, writing and cutting, as scripts with what they must show.

struct Step {
  enum Action { kSeek, kRead, kWrite, kSetEnd } action;
  int64_t number = 0;  // the seek offset or the read length
  SeekOrigin origin = SeekOrigin::kBegin;
  std::string text;  // what a write writes
};

Step SeekTo(int64_t offset, SeekOrigin origin = SeekOrigin::kBegin) {
  return {Step::kSeek, offset, origin, ""};
}
Step ReadUpTo(int64_t length) {
  return {Step::kRead, length, SeekOrigin::kBegin, ""};
}
Step WriteText(std::string text) {
  return {Step::kWrite, 0, SeekOrigin::kBegin, std::move(text)};
}
Step CutHere() {
  return {Step::kSetEnd, 0, SeekOrigin::kBegin, ""};
}

// Each step shows as "<what happened>@<position after it>": "@5" a seek, "x@2" a failed one,
// "'lo'@5" the bytes a read gave, "w2@3" the count a write wrote, "cut@2" a SetEndOfFile.
std::string RunStep(File& file, const Step& step) {
  std::string shown;
  switch (step.action) {
    case Step::kSeek:
      shown = file.Seek(step.number, step.origin) ? "" : "x";
      break;
    case Step::kRead:
      shown = "'" + ReadText(file, static_cast<uint32_t>(step.number)) + "'";
      break;
    case Step::kWrite:
      shown = "w" +
              std::to_string(file.Write(step.text.data(), static_cast<uint32_t>(step.text.size())));
      break;
    case Step::kSetEnd:
      shown = file.SetEndOfFile() ? "cut" : "uncut";
      break;
  }
  return shown + "@" + std::to_string(file.Position());
}

struct Script {
  const char* behaviour;
  std::string initial;
  std::vector<Step> steps;
  std::string transcript;
  std::string final_content;
};

using namespace std::string_literals;
constexpr SeekOrigin kCurrent = SeekOrigin::kCurrent;
constexpr SeekOrigin kEnd = SeekOrigin::kEnd;

const Script kScripts[] = {
    {"reads move on from where the last one stopped",
     "hello",
     {ReadUpTo(2), ReadUpTo(2), ReadUpTo(2)},
     "'he'@2 'll'@4 'o'@5",
     "hello"},
    {"a read at the end gives nothing", "hello", {SeekTo(5), ReadUpTo(3)}, "@5 ''@5", "hello"},
    {"a read past the end gives nothing and keeps the position",
     "hello",
     {SeekTo(9), ReadUpTo(4), ReadUpTo(1)},
     "@9 ''@9 ''@9",
     "hello"},
    {"a read across the end gives what is left",
     "hello",
     {SeekTo(-2, kEnd), ReadUpTo(10)},
     "@3 'lo'@5",
     "hello"},
    {"seeks that would go below zero fail and keep the position",
     "hello",
     {SeekTo(2), SeekTo(-3, kCurrent), SeekTo(-6, kEnd), SeekTo(-1), ReadUpTo(1)},
     "@2 x@2 x@2 x@2 'l'@3",
     "hello"},
    {"seeks reach exactly zero and the end from every origin",
     "hello",
     {SeekTo(-5, kEnd), SeekTo(0, kEnd), SeekTo(-5, kCurrent), SeekTo(3, kCurrent)},
     "@0 @5 @0 @3",
     "hello"},
    {"a write past the end fills the gap with zeros",
     "hello",
     {SeekTo(7), WriteText("X")},
     "@7 w1@8",
     "hello\0\0X"s},
    {"a write in the middle overwrites and moves on",
     "hello",
     {SeekTo(1), WriteText("EL"), ReadUpTo(5)},
     "@1 w2@3 'lo'@5",
     "hELlo"},
    {"writing nothing past the end leaves the size alone",
     "hello",
     {SeekTo(9), WriteText("")},
     "@9 w0@9",
     "hello"},
    {"SetEndOfFile cuts at the position",
     "hello",
     {SeekTo(2), CutHere(), ReadUpTo(1), SeekTo(0, kEnd)},
     "@2 cut@2 ''@2 @2",
     "he"},
    {"SetEndOfFile extends with zeros",
     "hello",
     {SeekTo(8), CutHere(), SeekTo(-4, kEnd), ReadUpTo(9)},
     "@8 cut@8 @4 'o\0\0\0'@8"s,
     "hello\0\0\0"s},
    {"SetEndOfFile at zero empties the file", "hello", {CutHere(), ReadUpTo(1)}, "cut@0 ''@0", ""},
    {"an empty file reads nothing and grows by writing",
     "",
     {ReadUpTo(1), SeekTo(-1, kEnd), WriteText("ab"), SeekTo(0), ReadUpTo(9)},
     "''@0 x@0 w2@2 @0 'ab'@2",
     "ab"},
};

TEST_P(FileSystemContractTest, ScriptsOfReadsSeeksWritesAndCuts) {
  for (const Script& script : kScripts) {
    SCOPED_TRACE(script.behaviour);
    backend().MakeFile("script", script.initial);
    std::unique_ptr<File> file = Open("script");
    ASSERT_NE(file, nullptr);
    std::string transcript;
    for (const Step& step : script.steps) {
      if (!transcript.empty()) transcript += ' ';
      transcript += RunStep(*file, step);
    }
    EXPECT_EQ(transcript, script.transcript);
    EXPECT_EQ(file->Size(), script.final_content.size());
    file.reset();
    EXPECT_EQ(backend().Content("script"), script.final_content);
  }
}

TEST_P(FileSystemContractTest, AHandleOpenedForReadingDoesNotWriteOrCut) {
  backend().MakeFile("kept", "keep me");
  std::unique_ptr<File> file = Open("kept", OpenMode::kRead);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Write("XX", 2), 0u);
  EXPECT_EQ(file->Position(), 0u);
  ASSERT_TRUE(file->Seek(2, SeekOrigin::kBegin));
  EXPECT_FALSE(file->SetEndOfFile());
  file.reset();
  EXPECT_EQ(backend().Content("kept"), "keep me");
}

// --- Times, attributes and facts.

TEST_P(FileSystemContractTest, AccessAndWriteTimesRoundTripToTheNanosecond) {
  backend().MakeFile("timed", "x");
  std::unique_ptr<File> file = Open("timed");
  ASSERT_NE(file, nullptr);
  FileTimes wanted;
  wanted.last_access = -1'500'000'001;  // before 1970, with a nanosecond part
  wanted.last_write = 1'234'567'890'123'456'789;
  ASSERT_TRUE(file->SetTimes(wanted));
  std::optional<FileTimes> read_back = file->GetTimes();
  ASSERT_TRUE(read_back.has_value());
  EXPECT_EQ(read_back->last_access, wanted.last_access);
  EXPECT_EQ(read_back->last_write, wanted.last_write);

  // Another handle sees the same: the times belong to the file, not to the handle.
  std::unique_ptr<File> again = Open("timed", OpenMode::kRead);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->GetTimes()->last_write, wanted.last_write);
}

TEST_P(FileSystemContractTest, ReadOnlyIsTheOwnerWriteBitAndTheOthersAreKept) {
  backend().MakeFile("plain", "x");
  std::unique_ptr<File> file = Open("plain");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->GetAttributes()->read_only);

  FileAttributes attributes;
  attributes.read_only = true;
  attributes.hidden = true;
  attributes.archive = true;
  ASSERT_TRUE(file->SetAttributes(attributes));
  std::optional<FileAttributes> read_back = file->GetAttributes();
  ASSERT_TRUE(read_back.has_value());
  EXPECT_TRUE(read_back->read_only);
  EXPECT_TRUE(read_back->hidden);
  EXPECT_FALSE(read_back->system);
  EXPECT_TRUE(read_back->archive);
  EXPECT_EQ(file->GetInfo()->mode, 0444u);

  attributes.read_only = false;
  ASSERT_TRUE(file->SetAttributes(attributes));
  EXPECT_FALSE(file->GetAttributes()->read_only);
  EXPECT_EQ(file->GetInfo()->mode, 0644u);
}

TEST_P(FileSystemContractTest, CreateFileMakesAnEmptyFileWithTheModeGiven) {
  Result<std::unique_ptr<File>> created = root().CreateFile("new", 0600);
  ASSERT_TRUE(created.ok()) << created.message();
  std::optional<FileInfo> info = (*created)->GetInfo();
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->size, 0u);
  EXPECT_EQ(info->mode, 0600u);
  EXPECT_EQ(info->link_count, 1u);
  EXPECT_EQ((*created)->Write("data", 4), 4u);
  EXPECT_TRUE((*created)->Flush());
  created.value().reset();
  EXPECT_EQ(backend().Content("new"), "data");
}

// --- What a folder refuses.

TEST_P(FileSystemContractTest, CreateFileRefusesAnExistingNameAndLeavesItAlone) {
  backend().MakeFile("taken", "original");
  Result<std::unique_ptr<File>> created = root().CreateFile("taken");
  EXPECT_FALSE(created.ok());
  EXPECT_NE(created.message().find(backend().RootPath() + "/taken"), std::string::npos)
      << created.message();
  EXPECT_NE(created.message().find("File exists"), std::string::npos) << created.message();
  EXPECT_EQ(backend().Content("taken"), "original");
}

TEST_P(FileSystemContractTest, CreateFileDoesNotCreateThroughADanglingLink) {
  backend().MakeLink("dangling", "nowhere");
  EXPECT_FALSE(root().CreateFile("dangling").ok());
  EXPECT_FALSE(backend().Exists("nowhere"));
}

TEST_P(FileSystemContractTest, LinksAreNeitherOpenedNorListedAsWhatTheyPointTo) {
  backend().MakeFile("target", "secret");
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  backend().MakeLink("file-link", "target");
  backend().MakeLink("folder-link", "sub");

  Result<std::unique_ptr<File>> file = root().OpenFile("file-link", OpenMode::kRead);
  EXPECT_FALSE(file.ok());
  EXPECT_NE(file.message().find("symbolic link"), std::string::npos) << file.message();
  Result<std::unique_ptr<Folder>> folder = root().OpenFolder("folder-link");
  EXPECT_FALSE(folder.ok());
  EXPECT_NE(folder.message().find("symbolic link"), std::string::npos) << folder.message();

  std::map<std::string, EntryKind> kinds;
  for (const FolderEntry& entry : Listing()) kinds[entry.name] = entry.kind;
  EXPECT_EQ(kinds, (std::map<std::string, EntryKind>{{"target", EntryKind::kFile},
                                                     {"sub", EntryKind::kFolder},
                                                     {"file-link", EntryKind::kLink},
                                                     {"folder-link", EntryKind::kLink}}));
}

TEST_P(FileSystemContractTest, OpenFileRefusesAFifoWithoutWaitingForAWriter) {
  backend().MakeFifo("pipe");
  auto started = std::chrono::steady_clock::now();
  Result<std::unique_ptr<File>> file = root().OpenFile("pipe", OpenMode::kRead);
  EXPECT_FALSE(file.ok());
  EXPECT_NE(file.message().find("not a regular file"), std::string::npos) << file.message();
  EXPECT_FALSE(root().OpenFile("pipe", OpenMode::kReadWrite).ok());
  EXPECT_FALSE(root().OpenFile("pipe", OpenMode::kAppend).ok());
  // Reaching this line at all is the point; the bound only keeps a regression readable.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  for (const FolderEntry& entry : Listing()) {
    if (entry.name == "pipe") {
      EXPECT_EQ(entry.kind, EntryKind::kOther);
    }
  }
}

// What several runs sharing one log rely on: an appending handle writes after the last
// byte, whoever wrote it, wherever its own position was, and its position follows.
TEST_P(FileSystemContractTest, AppendingHandlesWriteAfterTheLastByteWhoeverWroteIt) {
  backend().MakeFile("log", "ab");
  std::unique_ptr<File> first = Open("log", OpenMode::kAppend);
  std::unique_ptr<File> second = Open("log", OpenMode::kAppend);
  std::unique_ptr<File> plain = Open("log");
  ASSERT_TRUE(first && second && plain);
  ASSERT_TRUE(first->Seek(0, SeekOrigin::kBegin));
  EXPECT_EQ(first->Write("1", 1), 1u);
  EXPECT_EQ(first->Position(), 3u);
  EXPECT_EQ(second->Write("22", 2), 2u);
  EXPECT_EQ(second->Position(), 5u);
  ASSERT_TRUE(plain->Seek(0, SeekOrigin::kEnd));
  EXPECT_EQ(plain->Write("X", 1), 1u);
  EXPECT_EQ(first->Write("3", 1), 1u);
  EXPECT_EQ(first->Position(), 7u);
  ASSERT_TRUE(first->Seek(1, SeekOrigin::kBegin));
  EXPECT_EQ(ReadText(*first, 9), "b122X3") << "an appending handle reads where it is";
  first.reset();
  second.reset();
  plain.reset();
  EXPECT_EQ(backend().Content("log"), "ab122X3");
}

// The scan opens what a listing gave as a file without looking first; whatever the entry
// has become since, it must refuse exactly what OpenFile refuses.
TEST_P(FileSystemContractTest, OpenListedFileRefusesWhatOpenFileRefuses) {
  backend().MakeFile("target", "bytes");
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  backend().MakeLink("file-link", "target");
  backend().MakeFifo("pipe");
  for (const std::string& name :
       {"file-link"s, "pipe"s, "sub"s, "missing"s, ""s, ".."s, "sub/target"s, "a\0b"s}) {
    SCOPED_TRACE(name);
    Result<std::unique_ptr<File>> listed = root().OpenListedFile(name);
    Result<std::unique_ptr<File>> opened = root().OpenFile(name, OpenMode::kRead);
    EXPECT_FALSE(listed.ok());
    EXPECT_FALSE(opened.ok());
    EXPECT_EQ(listed.message(), opened.message());
  }
  Result<std::unique_ptr<File>> file = root().OpenListedFile("target");
  ASSERT_TRUE(file.ok()) << file.message();
  std::string content(16, '\0');
  content.resize((*file)->Read(content.data(), 16));
  EXPECT_EQ(content, "bytes");
  EXPECT_EQ((*file)->SizeWhenOpened(), 5u);
  EXPECT_EQ((*file)->Write("x", 1), 0u);
  EXPECT_EQ(backend().Content("target"), "bytes");
}

TEST_P(FileSystemContractTest, NamesThatAreNotOneComponentAreRefusedByEveryCall) {
  backend().MakeFile("real", "x");
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  for (const std::string& name : {""s, "."s, ".."s, "sub/real"s, "/etc"s, "real\0tail"s}) {
    SCOPED_TRACE(name);
    Result<std::unique_ptr<File>> opened = root().OpenFile(name, OpenMode::kRead);
    EXPECT_FALSE(opened.ok());
    EXPECT_NE(opened.message().find(backend().RootPath()), std::string::npos);
    EXPECT_FALSE(root().CreateFile(name).ok());
    EXPECT_FALSE(root().OpenFolder(name).ok());
    EXPECT_FALSE(root().CreateFolder(name).ok());
    EXPECT_FALSE(root().Delete(name).ok());
    EXPECT_FALSE(root().Rename("real", name, RenameMode::kReplace).ok());
    EXPECT_FALSE(root().Rename(name, "moved", RenameMode::kReplace).ok());
  }
  EXPECT_EQ(backend().Content("real"), "x");
  EXPECT_FALSE(backend().Exists("moved"));
}

TEST_P(FileSystemContractTest, ErrorsNameTheEntryAndTheCause) {
  Result<std::unique_ptr<File>> opened = root().OpenFile("missing", OpenMode::kRead);
  EXPECT_EQ(opened.message(),
            "cannot open " + backend().RootPath() + "/missing: No such file or directory");
  Status deleted = root().Delete("missing");
  EXPECT_EQ(deleted.message(),
            "cannot delete " + backend().RootPath() + "/missing: No such file or directory");
  Result<std::unique_ptr<Folder>> folder = root().OpenFolder("missing");
  EXPECT_EQ(folder.message(),
            "cannot open folder " + backend().RootPath() + "/missing: No such file or directory");
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  EXPECT_EQ(root().OpenFile("sub", OpenMode::kRead).message(),
            "cannot open " + backend().RootPath() + "/sub: is a folder, not a regular file");
  EXPECT_FALSE(root().OpenFile("sub", OpenMode::kReadWrite).ok());
  EXPECT_FALSE(root().OpenFile("sub", OpenMode::kAppend).ok());
}

// --- Renaming and deleting.

TEST_P(FileSystemContractTest, RenameWithoutReplacingMovesOnlyToAFreeName) {
  backend().MakeFile("from", "new");
  backend().MakeFile("to", "old");
  Status renamed = root().Rename("from", "to", RenameMode::kNoReplace);
  EXPECT_FALSE(renamed.ok());
  EXPECT_NE(renamed.message().find("File exists"), std::string::npos) << renamed.message();
  EXPECT_EQ(backend().Content("from"), "new");
  EXPECT_EQ(backend().Content("to"), "old");
  ASSERT_TRUE(root().Rename("from", "free", RenameMode::kNoReplace).ok());
  EXPECT_FALSE(backend().Exists("from"));
  EXPECT_EQ(backend().Content("free"), "new");
}

TEST_P(FileSystemContractTest, RenameReplacingSwapsTheTargetForTheSource) {
  backend().MakeFile("from", "new");
  backend().MakeFile("to", "old");
  std::unique_ptr<File> old_handle = Open("to", OpenMode::kRead);
  ASSERT_TRUE(root().Rename("from", "to", RenameMode::kReplace).ok());
  EXPECT_FALSE(backend().Exists("from"));
  EXPECT_EQ(backend().Content("to"), "new");
  // The replaced file lives on for its handle, with no name left.
  EXPECT_EQ(ReadText(*old_handle, 9), "old");
  EXPECT_EQ(old_handle->GetInfo()->link_count, 0u);

  ASSERT_TRUE(root().CreateFolder("folder").ok());
  EXPECT_FALSE(root().Rename("to", "folder", RenameMode::kReplace).ok()) << "a file over a folder";
  EXPECT_EQ(backend().Content("to"), "new");
}

TEST_P(FileSystemContractTest, AnOpenFileOutlivesItsNameAndSharesItsContent) {
  backend().MakeFile("doomed", "still here");
  std::unique_ptr<File> first = Open("doomed");
  std::unique_ptr<File> second = Open("doomed", OpenMode::kRead);
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->Write("STILL", 5), 5u);
  EXPECT_EQ(ReadText(*second, 5), "STILL");

  ASSERT_TRUE(root().Delete("doomed").ok());
  EXPECT_FALSE(backend().Exists("doomed"));
  EXPECT_EQ(ReadText(*second, 20), " here");
  EXPECT_EQ(first->GetInfo()->link_count, 0u);
  EXPECT_FALSE(root().OpenFile("doomed", OpenMode::kRead).ok());
}

TEST_P(FileSystemContractTest, DeleteRemovesFilesAndLinksButNotFoldersOrTargets) {
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  EXPECT_FALSE(root().Delete("sub").ok());
  EXPECT_FALSE(root().Delete("missing").ok());
  EXPECT_TRUE(root().OpenFolder("sub").ok());
  backend().MakeFile("target", "kept");
  backend().MakeLink("link", "target");
  ASSERT_TRUE(root().Delete("link").ok());
  EXPECT_FALSE(backend().Exists("link"));
  EXPECT_EQ(backend().Content("target"), "kept");
}

// --- Folders.

TEST_P(FileSystemContractTest, CreateFolderAcceptsAnExistingFolderButNotAFile) {
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  EXPECT_TRUE(root().CreateFolder("sub").ok());
  backend().MakeFile("file", "x");
  Status made = root().CreateFolder("file");
  EXPECT_FALSE(made.ok());
  EXPECT_NE(made.message().find(backend().RootPath() + "/file"), std::string::npos);
  EXPECT_EQ(backend().Content("file"), "x");
}

TEST_P(FileSystemContractTest, ASubfolderWorksOnItsOwnEntriesAndNamesItsPath) {
  ASSERT_TRUE(root().CreateFolder("sub").ok());
  Result<std::unique_ptr<Folder>> sub = root().OpenFolder("sub");
  ASSERT_TRUE(sub.ok()) << sub.message();
  EXPECT_EQ((*sub)->Path(), backend().RootPath() + "/sub");
  ASSERT_TRUE((*sub)->CreateFile("inner").ok());
  Result<std::vector<FolderEntry>> inner = (*sub)->List();
  ASSERT_TRUE(inner.ok());
  ASSERT_EQ(inner->size(), 1u);
  EXPECT_EQ((*inner)[0].name, "inner");
  EXPECT_FALSE(root().OpenFile("inner", OpenMode::kRead).ok());
}

TEST_P(FileSystemContractTest, AnOpenFolderFollowsItselfWhenRenamed) {
  ASSERT_TRUE(root().CreateFolder("before").ok());
  Result<std::unique_ptr<Folder>> sub = root().OpenFolder("before");
  ASSERT_TRUE(sub.ok());
  ASSERT_TRUE(root().Rename("before", "after", RenameMode::kNoReplace).ok());
  ASSERT_TRUE((*sub)->CreateFile("made-later").ok());
  Result<std::unique_ptr<Folder>> after = root().OpenFolder("after");
  ASSERT_TRUE(after.ok());
  EXPECT_TRUE((*after)->OpenFile("made-later", OpenMode::kRead).ok());
}

TEST_P(FileSystemContractTest, ListingGivesEveryEntryOnceAndNotTheDots) {
  std::set<std::string> made;
  for (int i = 0; i < 300; ++i) {
    std::string name = "file" + std::to_string(i);
    backend().MakeFile(name, "");
    made.insert(name);
  }
  std::multiset<std::string> listed;
  for (const FolderEntry& entry : Listing()) listed.insert(entry.name);
  EXPECT_EQ(listed, std::multiset<std::string>(made.begin(), made.end()));
  // A second listing starts from the beginning again.
  EXPECT_EQ(Listing().size(), 300u);
}

// --- Opening by path.

TEST_P(FileSystemContractTest, CreateFoldersMakesEveryMissingLevelButStopsAtAFile) {
  std::string deep = backend().RootPath() + "/a/b/c";
  ASSERT_TRUE(backend().files().CreateFolders(deep).ok());
  EXPECT_TRUE(backend().files().CreateFolders(deep).ok());
  Result<std::unique_ptr<Folder>> opened = backend().files().OpenFolder(deep + "/");
  ASSERT_TRUE(opened.ok()) << opened.message();
  EXPECT_EQ((*opened)->Path(), deep);

  backend().MakeFile("file", "x");
  Status made = backend().files().CreateFolders(backend().RootPath() + "/file/below");
  EXPECT_FALSE(made.ok());
  EXPECT_NE(made.message().find(backend().RootPath() + "/file"), std::string::npos)
      << made.message();
  EXPECT_EQ(backend().Content("file"), "x");
}

TEST_P(FileSystemContractTest, OpenFolderByPathRefusesFilesAndMissingPaths) {
  backend().MakeFile("file", "x");
  Result<std::unique_ptr<Folder>> file =
      backend().files().OpenFolder(backend().RootPath() + "/file");
  EXPECT_FALSE(file.ok());
  EXPECT_NE(file.message().find("Not a directory"), std::string::npos) << file.message();
  EXPECT_FALSE(backend().files().OpenFolder(backend().RootPath() + "/missing").ok());
  EXPECT_FALSE(backend().files().OpenFolder("").ok());
}

// --- Looking at an entry by name, and the facts that belong to a file.

TEST_P(FileSystemContractTest, ExamineTellsWhatANameHoldsWithoutFollowingALink) {
  backend().MakeFile("file", "12345");
  backend().MakeLink("link", "file");
  std::unique_ptr<File> file = Open("file");
  ASSERT_NE(file, nullptr);
  FileTimes stamped;
  stamped.last_write = 1'000'000'000'123;
  ASSERT_TRUE(file->SetTimes(stamped));
  const FileInfo opened = *file->GetInfo();
  Result<std::optional<FileInfo>> examined = root().Examine("file");
  ASSERT_TRUE(examined.ok()) << examined.message();
  ASSERT_TRUE(examined->has_value());
  EXPECT_EQ((*examined)->inode, opened.inode);
  EXPECT_EQ((*examined)->size, 5u);
  EXPECT_EQ((*examined)->last_write, stamped.last_write);
  EXPECT_EQ((*examined)->last_change, opened.last_change);

  Result<std::optional<FileInfo>> link = root().Examine("link");
  ASSERT_TRUE(link.ok() && link->has_value()) << link.message();
  EXPECT_NE((*link)->inode, opened.inode);
  Result<std::optional<FileInfo>> missing = root().Examine("missing");
  ASSERT_TRUE(missing.ok()) << missing.message();
  EXPECT_FALSE(missing->has_value());
  EXPECT_FALSE(root().Examine("a/b").ok());
}

TEST_P(FileSystemContractTest, ANameLongerThanTheLimitIsRefusedWithItsCause) {
  const std::string longest(kMaxNameBytes, 'x');
  EXPECT_TRUE(root().CreateFile(longest).ok());
  Result<std::unique_ptr<File>> created = root().CreateFile(longest + "x");
  ASSERT_FALSE(created.ok());
  EXPECT_NE(created.message().find("File name too long"), std::string::npos) << created.message();
}

TEST_P(FileSystemContractTest, ModeAndExtendedAttributesBelongToTheFile) {
  backend().MakeFile("facts", "x");
  std::unique_ptr<File> file = Open("facts");
  std::unique_ptr<File> other = Open("facts", OpenMode::kRead);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(file->SetMode(02751));  // set-group-ID, for the file's own group
  EXPECT_EQ(other->GetInfo()->mode, 02751u);

  const ExtendedAttribute origin{"user.origin", {'n', 'e', 't', 0}};
  if (!file->SetExtendedAttribute(origin)) GTEST_SKIP() << "no user extended attributes here";
  auto held = [&] {
    std::optional<std::vector<ExtendedAttribute>> attributes = other->GetExtendedAttributes();
    EXPECT_TRUE(attributes.has_value());
    return attributes &&
           std::find(attributes->begin(), attributes->end(), origin) != attributes->end();
  };
  EXPECT_TRUE(held());
  EXPECT_TRUE(file->RemoveExtendedAttribute(origin.name));
  EXPECT_FALSE(held());
  EXPECT_TRUE(file->RemoveExtendedAttribute(origin.name)) << "what is not there is removed";
}

TEST_P(FileSystemContractTest, FlagsAreSetButNeverThoseThatBarChanges) {
  constexpr uint32_t kNoDump = 0x40;
  constexpr uint32_t kImmutable = 0x10;
  backend().MakeFile("flagged", "x");
  std::unique_ptr<File> file = Open("flagged");
  std::unique_ptr<File> other = Open("flagged", OpenMode::kRead);
  ASSERT_NE(other, nullptr);
  if (!file->SetFlags(kNoDump)) GTEST_SKIP() << "this file system keeps no flags";
  EXPECT_EQ(*other->GetFlags() & kNoDump, kNoDump);
  EXPECT_FALSE(file->SetFlags(kNoDump | kImmutable));
  EXPECT_EQ(*other->GetFlags() & kImmutable, 0u);
  EXPECT_TRUE(file->SetFlags(0));
  EXPECT_EQ(*other->GetFlags() & kNoDump, 0u);
}

INSTANTIATE_TEST_SUITE_P(BothImplementations, FileSystemContractTest,
                         testing::Values("Posix", "Memory"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace quarn

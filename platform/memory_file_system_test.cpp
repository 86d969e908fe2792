// The memory file system's faults on demand, which the tests of every error path rely on.
// Its likeness to the POSIX one is checked in file_system_contract_test.cpp.

#include "platform/test_support/memory_file_system.h"

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace quarn {
namespace {

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

}  // namespace
}  // namespace quarn

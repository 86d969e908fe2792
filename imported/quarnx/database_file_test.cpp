// QUARNX.DAT on disk: the scanner keeps the file open and reads it where a lookup needs it;
// a new import replaces it by rename, so a scanner already running keeps answering from the
// file it loaded, and one cut short in place fails the scanner's lookups, never the scanner.
// A temporary a killed import left goes with the next import.
#include "imported/quarnx/database_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "imported/quarnx/database_encoder.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;

const std::vector<uint8_t> kDigest(16, 0x5A);

// QUARNX.DAT in `folder` holding `count` whole-file hashes, of `size` bytes and up, the first
// named `name`.
void WriteHashes(FileSystem& files, const std::string& folder, uint64_t size,
                 const std::string& name, uint64_t count = 1) {
  ImportedDatabaseEncoder encoder;
  for (uint64_t index = 0; index < count; ++index) {
    ImportedSignature signature;
    signature.kind = Kind::kFileHash;
    signature.size = size + index;
    signature.digest = kDigest;
    signature.name = index == 0 ? name : name + "." + std::to_string(index);
    signature.source = "main.hdb:1";
    encoder.Take(signature);
  }
  auto pieces = encoder.Finish({});
  ASSERT_TRUE(pieces);
  ASSERT_TRUE(WriteImportedDatabaseFile(files, folder, *pieces));
}

std::optional<ImportedDatabase> Read(FileSystem& files, const std::string& folder) {
  auto read = ReadImportedDatabaseFile(files, folder);
  EXPECT_TRUE(read) << read.message();
  if (!read || !*read) return std::nullopt;
  return std::move(**read);
}

TEST(ImportedDatabaseFile, ALoadedDatabaseKeepsAnsweringFromTheFileANewImportReplaced) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  MemoryFileSystem memory;
  for (FileSystem* system : {files.get(), static_cast<FileSystem*>(&memory)}) {
    const bool posix = system == files.get();
    SCOPED_TRACE(posix ? "posix" : "memory");
    const std::string folder = posix ? scratch.path() + "/data" : "/data";
    WriteHashes(*system, folder, 100, "Dos.Old-1");
    // What a killed import left is gone after the next; another file's temporary stays.
    const std::string stale = TemporaryNameFor(kImportedDatabaseFileName);
    const std::string others = TemporaryNameFor("QUARN.DAT");
    auto data = system->OpenFolder(folder);
    ASSERT_TRUE(data);
    for (const std::string& name : {stale, others}) ASSERT_TRUE((*data)->CreateFile(name));
    std::optional<ImportedDatabase> old = Read(*system, folder);
    ASSERT_TRUE(old);

    WriteHashes(*system, folder, 200, "Dos.New-1");
    EXPECT_FALSE(*(*data)->Examine(stale));
    EXPECT_TRUE(*(*data)->Examine(others));
    EXPECT_TRUE(old->HasHashOfSize(Kind::kFileHash, 100));
    EXPECT_EQ(old->FindHash(Kind::kFileHash, 100, kDigest).signature, 0u);
    EXPECT_EQ(old->Name(0), "Dos.Old-1");
    std::optional<ImportedDatabase> now = Read(*system, folder);
    ASSERT_TRUE(now);
    EXPECT_FALSE(now->HasHashOfSize(Kind::kFileHash, 100));
    EXPECT_EQ(now->FindHash(Kind::kFileHash, 200, kDigest).signature, 0u);
    EXPECT_EQ(now->Name(0), "Dos.New-1");
  }
}

TEST(ImportedDatabaseFileDeathTest, AFileCutShortUnderARunningScannerFailsItsLookupsOnly) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  const std::string folder = scratch.path() + "/data";
  // Enough rows that a lookup reads them from the file, past its first page.
  WriteHashes(*files, folder, 100, "Dos.Old-1", 500);
  // A child, as the file mapped before ended the process with SIGBUS at the lookup.
  EXPECT_EXIT(
      {
        std::optional<ImportedDatabase> database = Read(*files, folder);
        if (!database || !database->FindHash(Kind::kFileHash, 400, kDigest).signature) _exit(2);
        // An administrator's `cp /dev/null QUARNX.DAT`: the file is cut short in place.
        if (truncate(JoinPath(folder, kImportedDatabaseFileName).c_str(), 0) != 0) _exit(3);
        const HashLookup lookup = database->FindHash(Kind::kFileHash, 400, kDigest);
        std::fprintf(stderr, "lookup %s, name \"%s\"\n", lookup.failed ? "failed" : "answered",
                     database->Name(300).c_str());
        _exit(!lookup.signature && database->HasHashOfSize(Kind::kFileHash, 401) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "lookup failed, name \"\"");
}

}  // namespace
}  // namespace quarn

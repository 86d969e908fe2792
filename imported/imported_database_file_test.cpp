// QUARNX.DAT on disk: the scanner's copy is a mapping of the file, which a new import
// replaces by rename, so a scanner already running keeps answering from the file it loaded;
// where the file cannot be mapped it is read, with the same answers. A temporary a killed
// import left goes with the next import.
#include "imported/imported_database_file.h"

#include <gtest/gtest.h>

#include "imported/imported_database_encoder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

using Kind = ImportedSignature::Kind;

const std::vector<uint8_t> kDigest(16, 0x5A);

// QUARNX.DAT in `folder` holding one whole-file hash, of `size` bytes, named `name`.
void WriteOneHash(FileSystem& files, const std::string& folder, uint64_t size,
                  const std::string& name) {
  ImportedSignature signature;
  signature.kind = Kind::kFileHash;
  signature.size = size;
  signature.digest = kDigest;
  signature.name = name;
  signature.source = "main.hdb:1";
  ImportedDatabaseEncoder encoder;
  encoder.Take(signature);
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
    SCOPED_TRACE(posix ? "mapped" : "read");
    const std::string folder = posix ? scratch.path() + "/data" : "/data";
    WriteOneHash(*system, folder, 100, "Dos.Old-1");
    // What a killed import left is gone after the next; another file's temporary stays.
    const std::string stale = TemporaryNameFor(kImportedDatabaseFileName);
    const std::string others = TemporaryNameFor("QUARN.DAT");
    auto data = system->OpenFolder(folder);
    ASSERT_TRUE(data);
    for (const std::string& name : {stale, others}) ASSERT_TRUE((*data)->CreateFile(name));
    std::optional<ImportedDatabase> old = Read(*system, folder);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->mapped(), posix);

    WriteOneHash(*system, folder, 200, "Dos.New-1");
    EXPECT_FALSE(*(*data)->Examine(stale));
    EXPECT_TRUE(*(*data)->Examine(others));
    EXPECT_TRUE(old->HasHashOfSize(Kind::kFileHash, 100));
    EXPECT_EQ(old->FindHash(Kind::kFileHash, 100, kDigest), 0u);
    EXPECT_EQ(old->Name(0), "Dos.Old-1");
    std::optional<ImportedDatabase> now = Read(*system, folder);
    ASSERT_TRUE(now);
    EXPECT_FALSE(now->HasHashOfSize(Kind::kFileHash, 100));
    EXPECT_EQ(now->FindHash(Kind::kFileHash, 200, kDigest), 0u);
    EXPECT_EQ(now->Name(0), "Dos.New-1");
  }
}

}  // namespace
}  // namespace quarn

// A file mapped for reading: the file's own bytes, an empty file as empty bytes, the limit a
// mapping must keep to, and the memory file system, which maps nothing, read instead.
#include "platform/posix_file_mapping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_contents.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Held(const FileBytes& file) {
  return {file.bytes().begin(), file.bytes().end()};
}

TEST(MapWholeFile, AFileIsMappedWhereItCanBeAndReadWhereNot) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  auto folder = files->OpenFolder(scratch.path());
  ASSERT_TRUE(folder);
  const std::vector<uint8_t> content = Bytes(std::string(10000, 'q') + "end");
  ASSERT_TRUE(WriteFileAtomically(**folder, "DATA", content));
  ASSERT_TRUE(WriteFileAtomically(**folder, "EMPTY", std::vector<uint8_t>()));

  auto mapped = MapWholeFile(**folder, "DATA");
  ASSERT_TRUE(mapped) << mapped.message();
  EXPECT_TRUE((*mapped)->mapped());
  EXPECT_EQ(Held(**mapped), content);
  auto empty = MapWholeFile(**folder, "EMPTY");
  ASSERT_TRUE(empty) << empty.message();
  EXPECT_TRUE((*empty)->bytes().empty());
  auto large = MapWholeFile(**folder, "DATA", content.size() - 1);
  ASSERT_FALSE(large);
  EXPECT_NE(large.message().find("larger than"), std::string::npos) << large.message();
  EXPECT_FALSE(MapWholeFile(**folder, "ABSENT"));

  MemoryFileSystem memory;
  ASSERT_TRUE(memory.AddFile("/data/DATA", content));
  auto memory_folder = memory.OpenFolder("/data");
  ASSERT_TRUE(memory_folder);
  auto read = MapWholeFile(**memory_folder, "DATA");
  ASSERT_TRUE(read) << read.message();
  EXPECT_FALSE((*read)->mapped());
  EXPECT_EQ(Held(**read), content);
}

// The writer replaces by rename: a mapping holds the old file's bytes for as long as it lives,
// whatever the name holds now, and outlives the descriptor it was made from.
TEST(MapWholeFile, AMappingKeepsTheBytesOfAFileReplacedByRename) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  auto folder = files->OpenFolder(scratch.path());
  ASSERT_TRUE(folder);
  ASSERT_TRUE(WriteFileAtomically(**folder, "DATA", Bytes("old bytes, mapped")));
  auto old = MapWholeFile(**folder, "DATA");
  ASSERT_TRUE(old);
  ASSERT_TRUE(WriteFileAtomically(**folder, "DATA", Bytes("new")));
  EXPECT_EQ(Held(**old), Bytes("old bytes, mapped"));
  auto now = MapWholeFile(**folder, "DATA");
  ASSERT_TRUE(now);
  EXPECT_EQ(Held(**now), Bytes("new"));
}

}  // namespace
}  // namespace quarn

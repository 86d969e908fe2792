// The digests of a file's range, against the values the standards publish for "abc" and
// the empty string, and a range the file cannot give.
#include "imported/matching/file_digests.h"

#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

std::string Hex(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : bytes) text += {kDigits[byte >> 4], kDigits[byte & 15]};
  return text;
}

TEST(FileDigests, ARangeGivesTheStandardsDigestsAndAShortFileNone) {
  MemoryFileSystem files;
  ASSERT_TRUE(files.AddFile("/f", std::string_view("xxabcyy")));
  auto folder = files.OpenFolder("/");
  auto file = (*folder)->OpenFile("f", OpenMode::kRead);
  ASSERT_TRUE(file);
  const std::optional<FileDigests> abc = DigestRange(**file, 2, 3);
  ASSERT_TRUE(abc);
  EXPECT_EQ(Hex(abc->md5), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(Hex(abc->sha1), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(Hex(abc->sha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const std::optional<FileDigests> empty = DigestRange(**file, 7, 0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(Hex(empty->md5), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_FALSE(DigestRange(**file, 5, 3));
}

}  // namespace
}  // namespace quarn

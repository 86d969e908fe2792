#include "platform/path_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

// A working folder that was deleted must not be named at all: a relative path taken from a
// stand-in would name something else.
TEST(WorkingFolderPathTest, IsEmptyOnceTheWorkingFolderIsDeleted) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string before = WorkingFolderPath();
  ASSERT_FALSE(before.empty());
  const std::string doomed = scratch.Child("doomed");
  ASSERT_EQ(mkdir(doomed.c_str(), 0755), 0);
  ASSERT_EQ(chdir(doomed.c_str()), 0);
  const std::string inside = WorkingFolderPath();
  ASSERT_EQ(rmdir(doomed.c_str()), 0);
  const std::string after = WorkingFolderPath();
  ASSERT_EQ(chdir(before.c_str()), 0);
  EXPECT_EQ(inside, doomed);
  EXPECT_EQ(after, "");
}

// A temporary name must fit where the file's own name fits, and belong to that one name: only
// a file's own leftovers are ever removed as stale.
TEST(TemporaryNameTest, FitsTheNameLimitAndBelongsToOneNameOnly) {
  for (size_t length : {1u, 8u, 241u, 242u, 254u, 255u}) {
    SCOPED_TRACE(length);
    const std::string name(length, 'n');
    const std::string temporary = TemporaryNameFor(name);
    EXPECT_LE(temporary.size(), kMaxNameBytes);
    EXPECT_TRUE(IsTemporaryNameFor(temporary, name));
    EXPECT_EQ(temporary.substr(0, 1 + std::min<size_t>(length, 233)), "." + name.substr(0, 233));
    // The same start, cut away in the temporary name when it is long, but another file.
    std::string other = name;
    other.back() = 'm';
    EXPECT_FALSE(IsTemporaryNameFor(temporary, other));
    if (length <= 241) {
      EXPECT_EQ(temporary.substr(0, length + 8), "." + name + ".quarn-");
    }
  }
}

TEST(TemporaryNameTest, AShortenedNameIsTheSameFromRunToRunAndCutsNoCharacterInTwo) {
  // What one run names a long file's copy, the next must know again.
  const std::string name(242, 'n');
  EXPECT_TRUE(IsTemporaryNameFor("." + std::string(233, 'n') + ".quarn-07681b4dAbc123", name));

  std::string accented;
  while (accented.size() < 254) accented += "\xC3\xA9";  // é, two bytes each
  const std::string temporary = TemporaryNameFor(accented);
  EXPECT_EQ(temporary.substr(0, 233), "." + accented.substr(0, 232));
  EXPECT_EQ(temporary.substr(233, 7), ".quarn-") << "the cut falls before a whole character";
}

}  // namespace
}  // namespace quarn

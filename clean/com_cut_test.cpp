#include "clean/com_cut.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleanRun;
using testing::kWriteFailureMessage;
using testing::Ramp;
using testing::RunOnCopy;

const Bytes kFirstBytes = {0xB8, 0x00, 0x4C, 0xCD, 0x21};

class ComCutTest : public ::testing::Test {
 protected:
  CleanRun Cut(const Bytes& file, uint16_t virus_length) {
    return RunOnCopy(
        files_,
        [&](const CleaningContext& context, File& copy) {
          return CutComVirus(context, copy, kFirstBytes, virus_length);
        },
        file);
  }

  static Bytes Restored(Bytes file, size_t length) {
    std::copy(kFirstBytes.begin(), kFirstBytes.end(), file.begin());
    file.resize(length);
    return file;
  }

  MemoryFileSystem files_;
};

// The host's other cuts are the cleaners' round trips; here the virus takes the whole file,
// none of it, or one byte more than there is.
TEST_F(ComCutTest, CutsUpToTheWholeFileAndNoFurther) {
  const Bytes file = Ramp(0x300);
  for (uint16_t virus_length : {0, 0x300}) {
    CleanRun run = Cut(file, virus_length);
    EXPECT_EQ(run.result, 1u);
    EXPECT_EQ(run.file, Restored(file, 0x300 - virus_length)) << virus_length;
    EXPECT_EQ(run.writes, 2);
    EXPECT_TRUE(run.messages.empty());
  }
  CleanRun run = Cut(file, 0x301);
  EXPECT_EQ(run.result, 0u);
  EXPECT_EQ(run.file, file);
  EXPECT_EQ(run.writes, 0);
}

TEST_F(ComCutTest, EachFailedWriteStopsWithOneMessage) {
  const Bytes file = Ramp(0x300);
  files_.FailCall(FileOperation::kWrite, 1);
  CleanRun first = Cut(file, 0x100);
  EXPECT_EQ(first.result, 0u);
  EXPECT_EQ(first.file, file);
  EXPECT_EQ(first.messages, std::vector<std::string>{kWriteFailureMessage});

  files_.FailCall(FileOperation::kWrite, 2);
  CleanRun wipe = Cut(file, 0x100);
  EXPECT_EQ(wipe.result, 0u);
  EXPECT_EQ(wipe.file, Restored(file, file.size()));
  EXPECT_EQ(wipe.messages, std::vector<std::string>{kWriteFailureMessage});

  files_.ClearFaults();
  files_.SetShortWrites(kFirstBytes.size() - 1);
  CleanRun full_disk = Cut(file, 0x100);
  EXPECT_EQ(full_disk.result, 0u);
  EXPECT_EQ(full_disk.messages, std::vector<std::string>{kWriteFailureMessage});
}

TEST_F(ComCutTest, AnEndThatCannotBeSetFailsSilently) {
  files_.FailCall(FileOperation::kSetEndOfFile, 1);
  CleanRun run = Cut(Ramp(0x300), 0x100);
  EXPECT_EQ(run.result, 0u);
  EXPECT_TRUE(run.messages.empty());
}

}  // namespace
}  // namespace quarn

#include "cli/output_channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quarn {
namespace {

// The first failure is said once; what the scan still sends after it goes nowhere.
TEST(OutputChannel, AFailedWriteIsReportedOnceAndNothingIsWrittenAfterIt) {
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  if (full < 0) GTEST_SKIP() << "no /dev/full here";
  DescriptorChannel channel(full);
  std::vector<std::string> reports;
  channel.OnFailure([&](const std::string& failure) { reports.push_back(failure); });
  EXPECT_FALSE(channel.failed());
  EXPECT_FALSE(channel.Write("line\n"));
  EXPECT_FALSE(channel.Write("next\n"));
  EXPECT_TRUE(channel.failed());
  EXPECT_EQ(reports,
            std::vector<std::string>{"cannot write standard output: No space left on device"});
  close(full);
}

}  // namespace
}  // namespace quarn

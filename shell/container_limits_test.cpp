#include "shell/container_limits.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarn {
namespace {

TEST(ContainerLimitsSettings, EachValueIsReadAndAnUnreadableOneKeepsItsDefault) {
  RegistryDocument settings;
  EXPECT_EQ(ReadContainerLimits(settings), ContainerLimits{});

  settings.WriteNumber(kContainersKey, "MaxDepth", 2);
  settings.WriteNumber(kContainersKey, "MaxEntries", 50);
  settings.WriteNumber(kContainersKey, "MaxFileSize", 4096);
  settings.WriteNumber(kContainersKey, "MaxScanSize", 3);  // MiB
  settings.WriteNumber(kContainersKey, "MaxRatio", 9);
  settings.WriteNumber(kContainersKey, "MaxTime", 30);
  settings.WriteNumber(kContainersKey, "Kinds", kArchiveContainers);
  EXPECT_EQ(ReadContainerLimits(settings),
            (ContainerLimits{2, 50, 4096, 3 * kMebibyte, 9, 30, kArchiveContainers}));

  settings.WriteNumber(kContainersKey, "Kinds", 4);
  settings.SetValue(kContainersKey, "MaxDepth", RegistryValue::Text("5"));
  settings.SetValue(kContainersKey, "MaxTime", RegistryValue{kRegBinary, {1, 0}});
  const ContainerLimits read = ReadContainerLimits(settings);
  EXPECT_EQ(read.kinds, kAllContainers);
  EXPECT_EQ(read.max_depth, 10u);
  EXPECT_EQ(read.max_time, 120u);
  EXPECT_EQ(read.max_ratio, 9u);
}

}  // namespace
}  // namespace quarn

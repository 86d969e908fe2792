#include "platform/disk_argument.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

TEST(DiskArgument, ReadsDiskImageAndGeometry) {
  struct Case {
    std::string text;
    DiskMapping expected;
  };
  const std::vector<Case> accepted = {
      {"0=a.img", {0x00, "a.img", std::nullopt}},
      {"1=/dev/sdb", {0x01, "/dev/sdb", std::nullopt}},
      {"128=hd.img", {0x80, "hd.img", std::nullopt}},
      {"0X80=hd.img,1/1/1", {0x80, "hd.img", SectorGeometry{1, 1, 1}}},
      {"0x80=hd.img,65535/255/63", {0x80, "hd.img", SectorGeometry{65535, 255, 63}}},
      // A last part that is no geometry belongs to the image's name.
      {"0=my,disk.img", {0x00, "my,disk.img", std::nullopt}},
      {"0=a,1/2", {0x00, "a,1/2", std::nullopt}},
      {"0=a,1/2/x", {0x00, "a,1/2/x", std::nullopt}},
  };
  for (const Case& c : accepted) {
    Result<DiskMapping> parsed = ParseDiskArgument(c.text);
    ASSERT_TRUE(parsed) << c.text << ": " << parsed.message();
    EXPECT_EQ(*parsed, c.expected) << c.text;
  }
  for (const char* refused :
       {"", "0", "=a.img", "0=", "2=a.img", "0x81=a", "x=a", "256=a", "0=,1/2/3", "0x80=a,0/16/63",
        "0x80=a,1/256/63", "0x80=a,1/16/64", "0x80=a,65536/16/63"}) {
    Result<DiskMapping> parsed = ParseDiskArgument(refused);
    EXPECT_FALSE(parsed) << refused;
    EXPECT_NE(parsed.message().find('"' + std::string(refused) + '"'), std::string::npos)
        << parsed.message();
  }
}

}  // namespace
}  // namespace quarn

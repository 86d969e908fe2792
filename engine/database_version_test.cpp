#include "engine/database_version.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/byte_reader.h"

namespace quarn {
namespace {

TEST(ReadDatabaseVersion, ReadsBytesThreeToSixOfTheSection) {
  std::vector<uint8_t> bytes(1024, 0);
  WriteU32(&bytes[308], 700);
  WriteU16(&bytes[312], 99);  // count and size are not read
  bytes[316] = 0;
  bytes[700 + 3] = 7;
  bytes[700 + 4] = 9;
  bytes[700 + 5] = 0xD1;
  bytes[700 + 6] = 0x07;
  uint16_t version = 0, month = 0, year = 0;
  ReadDatabaseVersion(DatabaseImage(bytes), 308, &version, &month, &year);
  EXPECT_EQ(version, 7);
  EXPECT_EQ(month, 9);
  EXPECT_EQ(year, 2001);

  WriteU32(&bytes[308], 0xFFFFFF00u);  // a section beyond the image reads as zeros
  DatabaseVersion beyond = ReadDatabaseVersion(DatabaseImage(bytes));
  EXPECT_EQ(beyond.version, 0);
  EXPECT_EQ(beyond.month, 0);
  EXPECT_EQ(beyond.year, 0);
}

}  // namespace
}  // namespace quarn

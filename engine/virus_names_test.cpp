#include "engine/virus_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quarn {
namespace {

// A name image with raw 28-byte name fields, so names without terminators can be stored.
DatabaseImage NamesWithFields(const std::vector<std::vector<uint8_t>>& fields) {
  std::vector<uint8_t> bytes(11 + 30 * fields.size(), 0x7E);
  for (size_t i = 0; i < fields.size(); ++i) {
    std::memcpy(&bytes[11 + 30 * i + 2], fields[i].data(), fields[i].size());
  }
  return DatabaseImage(bytes);
}

std::vector<uint8_t> Field(const char* text) {
  std::vector<uint8_t> field(28, 0x7E);
  size_t length = std::strlen(text);
  std::memcpy(field.data(), text, length);
  if (length < 28) field[length] = 0;
  return field;
}

TEST(GetVirusName, NameEndsAtTheFirstZeroByteOrTheFieldsEnd) {
  DatabaseImage names =
      NamesWithFields({Field("Alpha"), Field(""), Field("0123456789012345678901234567")});
  EXPECT_EQ(GetVirusName(names, 1), "Alpha");
  EXPECT_EQ(GetVirusName(names, 2), "");
  EXPECT_EQ(GetVirusName(names, 3), "0123456789012345678901234567");
  std::vector<uint8_t> bytes(41, 0);
  bytes[13] = 'Q';
  EXPECT_EQ(GetVirusName(DatabaseImage(bytes), 1), "Q") << "the first name is at offset 13";
}

TEST(GetVirusName, IdsOutsideTheTableReadAsNumbers) {
  DatabaseImage names = NamesWithFields({Field("Alpha")});
  EXPECT_EQ(GetVirusName(names, 0), "#0");
  EXPECT_EQ(GetVirusName(names, 2), "#2");
  EXPECT_EQ(GetVirusName(names, 4711), "#4711");
  EXPECT_EQ(GetVirusName(names, 0xFFFFFFFFu), "#4294967295");
  // A record cut short by the end of the image is beyond it too.
  std::vector<uint8_t> bytes(11 + 30 + 20, 0);
  EXPECT_EQ(GetVirusName(DatabaseImage(bytes), 2), "#2");
  EXPECT_EQ(GetVirusName(DatabaseImage(std::vector<uint8_t>(5, 0)), 1), "#1");
}

}  // namespace
}  // namespace quarn

#include "clean/exe_decrypt_schemes.h"

#include <gtest/gtest.h>

#include "clean/test_support/cleaning_test_support.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleaningTest;
using testing::CryptRecordBytes;
using testing::ExeRecordBytes;

Bytes Record(uint16_t scheme, Bytes params) {
  return CryptRecordBytes(ExeRecordBytes(0, 2, 4, 6, 0, 0), scheme, std::move(params));
}

TEST(RunningKeyTest, ClosedFormsMatchTheByteByByteRuns) {
  for (SchemeKey key : {SchemeKey{0x00, 0x00}, SchemeKey{0x5A, 0xC3}, SchemeKey{0xFF, 0x01}}) {
    uint8_t scheme1 = key.low;
    for (uint32_t offset = 0; offset <= 0xFFFF; ++offset) {
      ASSERT_EQ(Scheme1RunningKey(key, static_cast<uint16_t>(offset)), scheme1) << offset;
      scheme1 = static_cast<uint8_t>(scheme1 + key.high);
    }
    // Scheme 9 runs from the anchor both ways.
    uint8_t scheme9 = key.low;
    for (uint32_t offset = kScheme9KeyAnchor; offset <= 0xFFFF; ++offset) {
      ASSERT_EQ(Scheme9RunningKey(key, static_cast<uint16_t>(offset)), scheme9) << offset;
      scheme9 = static_cast<uint8_t>(scheme9 + key.high);
    }
    scheme9 = key.low;
    for (int offset = kScheme9KeyAnchor; offset >= 0; --offset) {
      ASSERT_EQ(Scheme9RunningKey(key, static_cast<uint16_t>(offset)), scheme9) << offset;
      scheme9 = static_cast<uint8_t>(scheme9 - key.high);
    }
  }
  EXPECT_EQ(Scheme9RunningKey({0x20, 0x07}, 1646), 0x20);
  EXPECT_EQ(Scheme1RunningKey({0x20, 0x07}, 0), 0x20);
}

TEST(DecipherSavedWordTest, EachSchemeOnWorkedValues) {
  struct Case {
    const char* what;
    Bytes record;
    SchemeKey key;
    int field;
    uint16_t offset;
    uint8_t b0, b1;
    uint16_t current;
    uint16_t expected;
  };
  const Case cases[] = {
      // k = 0x10 + 3 × 0x01 = 0x13; the high byte takes k + hi; then adjust 1 for IP.
      {"1", Record(1, {0xBB, 0, 0, 0, 1}), {0x10, 0x01}, 1, 3, 0x13, 0x14, 0, 0xFFFF},
      {"1 hi 0", Record(1, {0xBB}), {0x5A, 0x00}, 2, 0x300, 0x5A ^ 0x34, 0x5A ^ 0x12, 0, 0x1234},
      {"2", Record(2, {0, 0, 0, 0, 0, 0, 3}), {0x10, 0}, 3, 0, 0xF5, 0x01, 0, 0x1102},
      {"3 mode 0", Record(3, {0, 0, 0}), {0x34, 0x12}, 0, 0, 0, 0, 0, 0x1234},
      {"3 mode 1", Record(3, {0, 0, 0, 1}), {0x34, 0x12}, 1, 0, 0, 0, 0, 0x3412},
      {"3 mode 2", Record(3, {0, 0, 0, 0, 2}), {0x34, 0x12}, 2, 0, 0, 0, 0, 0x2634},
      {"3 mode 7", Record(3, {0, 0, 0, 0, 0, 7}), {0x34, 0x12}, 3, 0, 0, 0, 0, 0x2626},
      {"4", Record(4, {}), {0xFF, 0}, 0, 0, 0x0F, 0xF0, 0, 0x0FF0},
      {"6", Record(6, {0, 0, 0xF1}), {0x0F, 0}, 0, 0, 0x0F, 0x00, 0, 0x00F1},
      {"7", Record(7, {}), {0xFF, 0x00}, 0, 0, 0, 0, 0, 0xFF00},
      {"8 mode 1", Record(8, {1}), {}, 0, 0, 0x02, 0x00, 0xFFFF, 0x0001},
      {"8 mode 2", Record(8, {0, 2}), {}, 1, 0, 0x34, 0x02, 0x1000, 0x0DCC},
      {"8 mode 0", Record(8, {}), {}, 2, 0, 0x34, 0x02, 0x1000, 0x0234},
      {"8 mode 5", Record(8, {0, 0, 0, 5}), {}, 3, 0, 0x34, 0x02, 0x1000, 0x0234},
      {"9 below the anchor", Record(9, {}), {0x20, 0x01}, 0, 1645, 0x1F, 0x20, 0, 0x0000},
      {"9 at the anchor", Record(9, {}), {0x20, 0x01}, 0, 1646, 0x20, 0x21, 0, 0x0000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecipherSavedWord(c.record, c.key, c.field, c.offset, c.b0, c.b1, c.current),
              c.expected);
  }
}

class ReadSchemeKeyTest : public CleaningTest {
 protected:
  // A file whose virus starts at 0x100 and whose bytes from there are `body`.
  std::optional<SchemeKey> KeyOf(const Bytes& record, const Bytes& body) {
    Bytes file(0x100, 0);
    file.insert(file.end(), body.begin(), body.end());
    AppendedBody placed{file.size(), 0x100, 0x100};
    return ReadSchemeKey(*Open(file), record, placed);
  }
};

TEST_F(ReadSchemeKeyTest, SchemeOneTakesTheImmediateOfTheKeyLoad) {
  const Bytes record = Record(1, {0xBB, 0x10, 0x00});  // opcode BB, decryptor at 0x10
  Bytes body(0x10, 0x90);
  Bytes at_start = body;
  at_start.insert(at_start.end(), {0xBB, 0x34, 0x12, 0x90});
  std::optional<SchemeKey> key = KeyOf(record, at_start);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->low, 0x34);
  EXPECT_EQ(key->high, 0x12);

  // mov ax, BB90h is stepped over as a whole: its immediate holds the opcode byte.
  Bytes stepped = body;
  stepped.insert(stepped.end(), {0xB8, 0xBB, 0x90, 0x8B, 0x46, 0x02, 0xBB, 0x78, 0x56});
  key = KeyOf(record, stepped);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->low, 0x78);
  EXPECT_EQ(key->high, 0x56);
}

TEST_F(ReadSchemeKeyTest, SchemeOneGivesUpAfterSixtyFourBytes) {
  const Bytes record = Record(1, {0xBB, 0x00, 0x00});
  Bytes nops(63, 0x90);
  Bytes last = nops;
  last.insert(last.end(), {0xBB, 0x01, 0x02});  // the opcode at byte 63: still found
  EXPECT_TRUE(KeyOf(record, last));
  Bytes beyond(64, 0x90);
  beyond.insert(beyond.end(), {0xBB, 0x01, 0x02});
  EXPECT_FALSE(KeyOf(record, beyond));
  // The opcode found, but its immediate runs past the end of the file.
  Bytes cut = nops;
  cut.insert(cut.end(), {0xBB, 0x01});
  EXPECT_FALSE(KeyOf(record, cut));
}

TEST_F(ReadSchemeKeyTest, KeysMustLieInsideTheFile) {
  struct Case {
    uint16_t scheme;
    Bytes params;
    size_t needed;  // body bytes the key needs
  };
  const Case cases[] = {
      {2, {0x03, 0x10, 0x00}, 0x14}, {3, {0x10, 0x00}, 0x12}, {4, {0x10, 0x00}, 0x11},
      {6, {0x10, 0x00}, 0x11},       {7, {0x10, 0x00}, 0x12}, {9, {0x10, 0x00, 0x08, 0x00}, 0x11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    Bytes body(c.needed, 0);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i);
    EXPECT_TRUE(KeyOf(Record(c.scheme, c.params), body));
    body.pop_back();
    EXPECT_FALSE(KeyOf(Record(c.scheme, c.params), body));
  }
  // The key bytes themselves: scheme 2 adds its extra distance; scheme 9 takes K0 and K2.
  std::optional<SchemeKey> key =
      KeyOf(Record(2, {0x03, 0x10, 0x00}),
            Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
  ASSERT_TRUE(key);
  EXPECT_EQ(key->low, 0x13);
  Bytes pairs(0x12, 0);
  pairs[0x10] = 0xA0;
  pairs[0x11] = 0xA1;
  pairs[0x08] = 0xB0;
  pairs[0x09] = 0xB1;
  key = KeyOf(Record(9, {0x10, 0x00, 0x08, 0x00}), pairs);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->low, 0xA0);
  EXPECT_EQ(key->high, 0xB0);
}

}  // namespace
}  // namespace quarn

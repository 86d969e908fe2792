#include "clean/encrypted_exe_cleaner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "clean/test_support/cleaning_test_support.h"
#include "samplegen/exe_cleaning_samples.h"

namespace quarn {
namespace {

using samples::AppendedInfection;
using samples::DosHost;
using samples::EncipherHeaderWord;
using testing::Bytes;
using testing::CleaningTest;
using testing::CryptRecordBytes;
using testing::ExeRecordBytes;
using testing::GetU16;
using testing::RecordOf;

constexpr uint32_t kHostSize = 0x2A0;
constexpr uint16_t kExeBodyLength = 0x800;
constexpr uint16_t kDistance = 0x40;
constexpr uint32_t kEntry = kHostSize + kDistance;
// The saved words straddle scheme 9's anchor at 1646 (0x66E).
constexpr uint16_t kWordsAt = 0x66A;
constexpr uint16_t kKeysAt = 0x100;

Bytes WordsRecord(uint16_t scheme, Bytes params) {
  return CryptRecordBytes(
      ExeRecordBytes(kWordsAt, kWordsAt + 2, kWordsAt + 4, kWordsAt + 6, kExeBodyLength, kDistance),
      scheme, std::move(params));
}

struct SchemeCase {
  uint16_t scheme;
  Bytes params;
  Bytes keys;  // placed at kKeysAt
  uint8_t key_low;
  uint8_t key_high;
};

// One layout per scheme; every key lies at 0x100 of the body.
std::vector<SchemeCase> SchemeCases() {
  return {
      {1,
       {0xBA, 0x00, 0x01, 0x11, 0x22, 0x33, 0x44},
       {0xB9, 0x10, 0x00, 0xBA, 0x9D, 0x0B},
       0x9D,
       0x0B},
      {2, {0x05, 0x00, 0x01, 0xF0, 0x01, 0x80, 0xFF}, {0, 0, 0, 0, 0, 0xE7}, 0xE7, 0},
      {3, {0x00, 0x01, 0x03, 0x02, 0x01, 0x00}, {0x6C, 0xA5}, 0x6C, 0xA5},
      {4, {0x00, 0x01}, {0x77}, 0x77, 0},
      {5, {0x00, 0x01, 0x12, 0xFF, 0xFF}, {0x00, 0x00}, 0, 0},  // the host's checksum word
      {6, {0x00, 0x01, 0xC9}, {0x3E}, 0x3E, 0},
      {7, {0x00, 0x01}, {0x01, 0x80}, 0x01, 0x80},
      {8, {0x01, 0x02, 0x00, 0x09}, {}, 0, 0},
      {9, {0x00, 0x01, 0x10, 0x01}, {0x4D, 0x00}, 0x4D, 0x35},
  };
}

// The host of `c` infected with its words enciphered as the scheme deciphers them.
AppendedInfection Infect(const SchemeCase& c, const Bytes& record) {
  AppendedInfection infection(DosHost(kHostSize), kExeBodyLength, kDistance);
  infection.Body(0, Bytes(kExeBodyLength, 0xE5)).Body(kKeysAt, c.keys);
  if (c.scheme == 9) infection.Body(0x110, {c.key_high, 0x00});
  for (int field = 0; field < 4; ++field) {
    std::array<uint8_t, 2> stored =
        EncipherHeaderWord(record, c.key_low, c.key_high, field, infection.host_words()[field],
                           infection.infected_words()[field]);
    infection.Body(static_cast<uint16_t>(kWordsAt + 2 * field), {stored[0], stored[1]});
  }
  return infection;
}

class CleanEncryptedExeTest : public CleaningTest {
 protected:
  uint32_t Clean(const Bytes& infected, const Bytes& record) {
    auto copy = Open(infected);
    return CleanEncryptedExe(Context(kEntry), RecordOf(record), *copy);
  }
};

TEST_F(CleanEncryptedExeTest, EverySchemeGivesTheHostBack) {
  for (const SchemeCase& c : SchemeCases()) {
    SCOPED_TRACE(c.scheme);
    const Bytes record = WordsRecord(c.scheme, c.params);
    AppendedInfection infection = Infect(c, record);
    const Bytes infected = infection.Build();
    ASSERT_NE(infected.size(), infection.host().size());
    ASSERT_NE(samples::ReadHeaderWords(infected), infection.host_words());
    EXPECT_EQ(Clean(infected, record), 1u);
    EXPECT_EQ(Contents(), infection.host());
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CleanEncryptedExeTest, SchemeFiveRestoresExtraWordsAndMayKeepTheLengthFields) {
  AppendedInfection infection(DosHost(kHostSize), kExeBodyLength, kDistance);
  const samples::HeaderWords& host = infection.host_words();
  for (int field = 0; field < 4; ++field) {
    infection.Body(static_cast<uint16_t>(kWordsAt + 2 * field),
                   {static_cast<uint8_t>(host[field]), static_cast<uint8_t>(host[field] >> 8)});
  }
  infection.Body(0x20, {0x21, 0x43}).Body(0x30, {0x65, 0x87});
  const Bytes infected = infection.Build();

  // A into the length field of the last page, B into the page count, lengths kept.
  ASSERT_EQ(Clean(infected, WordsRecord(5, {0x20, 0x00, 0x02, 0x30, 0x00, 0x04, 0x01})), 1u);
  Bytes cleaned = Contents();
  EXPECT_EQ(cleaned.size(), kHostSize);
  EXPECT_EQ(GetU16(cleaned, 2), 0x4321);
  EXPECT_EQ(GetU16(cleaned, 4), 0x8765);

  // Lengths kept but not restored: the infected ones stay.
  ASSERT_EQ(Clean(infected, WordsRecord(5, {0x20, 0x00, 0x12, 0xFF, 0xFF, 0x00, 0x01})), 1u);
  cleaned = Contents();
  EXPECT_EQ(GetU16(cleaned, 2), GetU16(infected, 2));
  EXPECT_EQ(GetU16(cleaned, 4), GetU16(infected, 4));
  EXPECT_EQ(GetU16(cleaned, 0x12), 0x4321);

  // Lengths not kept: a restored length field is recomputed over.
  ASSERT_EQ(Clean(infected, WordsRecord(5, {0x20, 0x00, 0x02, 0x30, 0x00, 0x12, 0x00})), 1u);
  cleaned = Contents();
  EXPECT_EQ(cleaned, [&] {
    Bytes expected = infection.host();
    testing::PutU16(expected, 0x12, 0x8765);
    return expected;
  }());
}

TEST_F(CleanEncryptedExeTest, DeclinesWithoutWriting) {
  const SchemeCase scheme1 = SchemeCases()[0];
  const Bytes record = WordsRecord(1, scheme1.params);
  const Bytes infected = Infect(scheme1, record).Build();
  Bytes no_key_load = record;
  no_key_load[16] = 0xCC;  // an opcode the decryptor does not hold
  Bytes key_past_end = WordsRecord(4, {0x00, 0x08});
  Bytes extra_past_end = WordsRecord(5, {0xFF, 0x07, 0x12, 0xFF, 0xFF});
  Bytes words_past_end = WordsRecord(3, {0x00, 0x01});
  testing::PutU16(words_past_end, 8, kExeBodyLength - 1);
  for (const Bytes& declined : {WordsRecord(0, {}), WordsRecord(10, {}), WordsRecord(0xFFFF, {}),
                                no_key_load, key_past_end, extra_past_end, words_past_end}) {
    SCOPED_TRACE(GetU16(declined, 14));
    const int writes = files_.CallCount(FileOperation::kWrite);
    EXPECT_EQ(Clean(infected, declined), 0u);
    EXPECT_EQ(Contents(), infected);
    EXPECT_EQ(files_.CallCount(FileOperation::kWrite), writes);
  }
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(CleanEncryptedExeTest, AFailedWriteAnswersZeroWithOneMessage) {
  const SchemeCase c = SchemeCases()[6];
  const Bytes record = WordsRecord(c.scheme, c.params);
  const Bytes infected = Infect(c, record).Build();
  for (int nth : {1, 2}) {
    SCOPED_TRACE(nth);
    ui_.messages.clear();
    files_.ClearFaults();
    files_.FailCall(FileOperation::kWrite, nth);
    EXPECT_EQ(Clean(infected, record), 0u);
    EXPECT_EQ(ui_.messages, std::vector<std::string>{testing::kWriteFailureMessage});
    // The body is still attached: only the header may have been rewritten.
    const Bytes after = Contents();
    if (nth == 1) {
      EXPECT_EQ(after, infected);
    }
    EXPECT_EQ(after.size(), infected.size());
    EXPECT_TRUE(std::equal(after.begin() + 24, after.end(), infected.begin() + 24));
  }
  // A full disk: the header write stores fewer bytes than it was given.
  ui_.messages.clear();
  files_.ClearFaults();
  files_.SetShortWrites(10);
  EXPECT_EQ(Clean(infected, record), 0u);
  EXPECT_EQ(ui_.messages.size(), 1u);
}

}  // namespace
}  // namespace quarn

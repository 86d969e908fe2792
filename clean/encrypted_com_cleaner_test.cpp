#include "clean/encrypted_com_cleaner.h"

#include <gtest/gtest.h>

#include <utility>

#include "clean/test_support/cleaning_test_support.h"
#include "platform/byte_reader.h"
#include "samplegen/com_cleaning_samples.h"

namespace quarn {
namespace {

using testing::Bytes;
using testing::CleanRun;
using testing::Ramp;
using testing::RunOnCopy;

// A virus 0x700 bytes long appended at 0x100 to a file that does not start with a jump,
// the saved bytes 0x11 .. 0x88 at `saved_offset` into it.
constexpr size_t kStart = 0x100;
constexpr uint16_t kComBodyLength = 0x700;
const Bytes kSaved = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

CleanRun CleanWorkedExample(uint16_t scheme, const Bytes& params,
                            const std::vector<std::pair<size_t, Bytes>>& keys,
                            uint16_t saved_offset = 0x10) {
  Bytes file = Ramp(kStart + kComBodyLength, 0x30);
  file[0] = 0x90;
  std::copy(kSaved.begin(), kSaved.end(), file.begin() + kStart + saved_offset);
  for (const auto& [offset, bytes] : keys) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + kStart + offset);
  }
  Bytes record(24, 0);
  const uint16_t fields[] = {951, saved_offset, 8, kComBodyLength, 0, kComBodyLength, scheme};
  for (size_t i = 0; i < std::size(fields); ++i) WriteU16(&record[2 * i], fields[i]);
  std::copy(params.begin(), params.end(), record.begin() + 14);
  CleanRun run = RunOnCopy(CleanEncryptedCom, file, record);
  if (run.result == 1) {
    EXPECT_EQ(run.file.size(), kStart);
    EXPECT_TRUE(std::equal(run.file.begin() + 8, run.file.end(), file.begin() + 8));
  } else {
    EXPECT_EQ(run.file, file);
  }
  return run;
}

Bytes FirstBytes(const CleanRun& run) {
  return Bytes(run.file.begin(), run.file.begin() + std::min<size_t>(8, run.file.size()));
}

TEST(CleanEncryptedCom, WorkedExamples) {
  CleanRun folded = CleanWorkedExample(3, {0x20, 0x00}, {{0x20, {0x34, 0x12}}});
  EXPECT_EQ(folded.result, 1u);
  EXPECT_EQ(FirstBytes(folded), (Bytes{0x37, 0x04, 0x15, 0x62, 0x73, 0x40, 0x51, 0xAE}));

  // High byte first over c = 2 words; the other bytes stay as saved.
  CleanRun swapped = CleanWorkedExample(8, {0x20, 0x00, 0x01, 0x02, 0x00}, {{0x20, {0xB2, 0xA1}}});
  EXPECT_EQ(swapped.result, 1u);
  EXPECT_EQ(FirstBytes(swapped),
            (Bytes{0x11 ^ 0xA1, 0x22 ^ 0xB2, 0x33 ^ 0xA1, 0x44 ^ 0xB2, 0x55, 0x66, 0x77, 0x88}));

  // Saved 1646 bytes in, the key starts at K0 itself and steps by K2.
  CleanRun pairs = CleanWorkedExample(11, {0x20, 0x00, 0x30, 0x00},
                                      {{0x20, {0x5C, 0xEE}}, {0x30, {0x07, 0xEE}}}, 1646);
  EXPECT_EQ(pairs.result, 1u);
  EXPECT_EQ(FirstBytes(pairs),
            (Bytes{0x11 ^ 0x5C, 0x22 ^ 0x63, 0x33 ^ 0x6A, 0x44, 0x55, 0x66, 0x77, 0x88}));

  CleanRun complemented = CleanWorkedExample(12, {0x20, 0x00}, {{0x20, {0x00}}});
  EXPECT_EQ(complemented.result, 1u);
  EXPECT_EQ(FirstBytes(complemented), (Bytes{0xEE, 0xDD, 0xCC, 0x44, 0x55, 0x66, 0x77, 0x88}));

  for (uint16_t unknown : {0, 13, 0xFFFF}) {
    CleanRun run = CleanWorkedExample(unknown, {0x20, 0x00}, {{0x20, {0x34, 0x12}}});
    EXPECT_EQ(run.result, 0u) << unknown;
    EXPECT_EQ(run.writes, 0) << unknown;
  }
}

struct RoundTrip {
  uint16_t scheme;
  uint16_t saved_offset;
  uint16_t saved_length;
  uint16_t virus_length;
  std::array<uint8_t, 10> params;
  uint16_t key;
  uint16_t second_key = 0;
  size_t host_size = 0x305;
};

// The virus entry lies 0x40 into each body; saved bytes and keys are placed around it.
const RoundTrip kRoundTrips[] = {
    {1, 0x10, 16, 0x100, {0xFE, 0xFF, 0x00, 0x03}, 0},
    {1, 0x50, 4096, 0x1100, {0x01, 0x00, 0xFF, 0xFF}, 0, 0, 0x1003},
    {2, 0x00, 5, 0x100, {0xB9, 0x00, 0x00}, 0x9C5A},
    {2, 0x6F5, 4, 0x800, {0xBA, 0x10, 0x00}, 0x3C5A},
    {3, 0x50, 4096, 0x1100, {0x60, 0x10}, 0x1234, 0, 0x1003},
    {4, 0x10, 12, 0x100, {0x60, 0x00, 0x61, 0x00}, 0x31, 0xE4},
    {5, 0x10, 8, 0x100, {0x00, 0x08, 0x00}, 0x9D},
    {5, 0x10, 8, 0x200, {0xFF, 0x40, 0x00}, 0x2B},
    {6, 0x50, 4096, 0x1100, {0x60, 0x10, 0x01, 0x80}, 0x0000, 0, 0x1003},
    {7, 0x20, 8, 0x100, {}, 0},
    {7, 0x20, 8, 0x100, {}, 0, 0, 0x300},
    {8, 0x50, 2048, 0xA00, {0x00, 0x09, 0x00}, 0x5AA5, 0, 0x900},
    {8, 0x10, 8, 0x100, {0x60, 0x00, 0x01, 0x02, 0x00}, 0xC33C},
    {8, 0x10, 5, 0x100, {0x60, 0x00, 0x01, 0x08, 0x00}, 0x0FF0},
    {9, 0x10, 8, 0x100, {0x60, 0x00, 0xF0}, 0x4D},
    {10, 0x10, 10, 0x100, {0x60, 0x00, 0x00, 0x07, 0x01, 0x0C, 0x00}, 0x7E81},
    {10, 0x10, 4, 0x100, {0x60, 0x00, 0x01, 0x03, 0x00, 0x04, 0x00}, 0x1881},
    {11, 0x00, 5, 0x100, {0x60, 0x00, 0x62, 0x00}, 0x1F2E, 0x0307},
    {11, 1646, 3, 0x700, {0x10, 0x00, 0x12, 0x00}, 0x00A0, 0x00FD},
    {11, 2000, 4, 0x800, {0x10, 0x00, 0x12, 0x00}, 0x0033, 0x0081},
    {12, 0x10, 8, 0x100, {0x60, 0x00}, 0xFF},
};

samples::InfectedCom Infect(const RoundTrip& trip, Bytes* host) {
  samples::ComInfection how;
  how.scheme = trip.scheme;
  how.saved_offset = trip.saved_offset;
  how.saved_length = trip.saved_length;
  how.virus_length = trip.virus_length;
  how.entry_distance = 0x40;
  how.params = trip.params;
  how.key = trip.key;
  how.second_key = trip.second_key;
  how.code = {0xB8, 0x00, 0x4C, 0xCD, 0x21};
  *host = Ramp(trip.host_size, static_cast<uint8_t>(trip.scheme * 17));
  return samples::InfectCom(*host, how, 951);
}

TEST(CleanEncryptedCom, GivesEachSchemesHostBackByteForByte) {
  for (const RoundTrip& trip : kRoundTrips) {
    Bytes host;
    const samples::InfectedCom infected = Infect(trip, &host);
    CleanRun run = RunOnCopy(CleanEncryptedCom, infected.file, infected.record);
    EXPECT_EQ(run.result, 1u) << "scheme " << trip.scheme << " offset " << trip.saved_offset;
    EXPECT_EQ(run.file, host) << "scheme " << trip.scheme << " offset " << trip.saved_offset;
  }
}

// Changes to the first round trip of a scheme that leave no infection the record can describe.
struct Decline {
  uint16_t scheme;
  std::vector<std::pair<size_t, Bytes>> record_changes;
  const char* why;
};

const Decline kDeclines[] = {
    {2, {{14, {0xCC}}}, "no key-load opcode in the 64 bytes scanned"},
    {2, {{14, {0x00}}, {15, {0xF9, 0x00}}}, "a key word cut off by the end of the file"},
    {3, {{14, {0xFF, 0xFF}}}, "the key past the end of the file"},
    {3, {{4, {0x02, 0x00}}}, "fewer bytes saved than the jump needs"},
    {3, {{4, {0x01, 0x10}}}, "more bytes saved than the buffer holds"},
    {3, {{6, {0xFF, 0xFF}}}, "a virus longer than the file"},
    {3, {{2, {0xB0, 0x10}}}, "saved bytes running past the end of the file"},
    {3, {{8, {0x46, 0x13}}}, "a virus start before the file"},
    {5, {{15, {0x07, 0x00}}}, "a key offset inside the saved bytes"},
    {7, {{6, {0x00, 0x00}}}, "the plain copy running past the end of the file"},
    {8, {{4, {0x01, 0x08}}}, "the plain order over more than 2048 bytes"},
    {8, {{16, {0x01}}, {17, {0x01, 0x00}}}, "the swapped order over a single word"},
    {8, {{16, {0x01}}, {17, {0x01, 0x08}}}, "the swapped order past the buffer"},
    {10, {{16, {0x01}}, {17, {0x01}}}, "the swapped order over a single word"},
    {10, {{19, {0xFF, 0x0F}}}, "a moved word past the buffer"},
    {10, {{2, {0xF8, 0x00}}, {4, {0x03, 0x00}}}, "words running past the end of the file"},
    {11, {{16, {0xFF, 0x00}}}, "half of a key pair past the end of the file"},
};

TEST(CleanEncryptedCom, DeclinesRecordsNoInfectionOfThisFileHas) {
  for (const Decline& decline : kDeclines) {
    const RoundTrip* trip =
        std::find_if(std::begin(kRoundTrips), std::end(kRoundTrips),
                     [&](const RoundTrip& t) { return t.scheme == decline.scheme; });
    Bytes host;
    samples::InfectedCom infected = Infect(*trip, &host);
    for (const auto& [offset, bytes] : decline.record_changes) {
      std::copy(bytes.begin(), bytes.end(), infected.record.begin() + offset);
    }
    CleanRun run = RunOnCopy(CleanEncryptedCom, infected.file, infected.record);
    EXPECT_EQ(run.result, 0u) << decline.why;
    EXPECT_EQ(run.writes, 0) << decline.why;
    EXPECT_EQ(run.file, infected.file) << decline.why;
  }
}

}  // namespace
}  // namespace quarn

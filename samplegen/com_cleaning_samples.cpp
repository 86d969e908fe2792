#include "samplegen/com_cleaning_samples.h"

#include <algorithm>
#include <string>

#include "samplegen/sample_factory.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::samples {
namespace {

constexpr uint8_t kJumpNear = 0xE9;
constexpr size_t kJumpLength = 3;
constexpr size_t kPlainRecordSize = 12;
constexpr size_t kCryptRecordSize = 24;
constexpr size_t kParamsOffset = 14;
constexpr uint32_t kKeyRunDistance = 1646;
constexpr size_t kParagraph = 16;
// mov si, 0100h; cld: what scheme 2's key load follows in the decryptor.
const Bytes kDecryptorStart = {0xBE, 0x00, 0x01, 0xFC};

uint8_t Lo(uint32_t value) {
  return static_cast<uint8_t>(value);
}

uint8_t Hi(uint32_t value) {
  return static_cast<uint8_t>(value >> 8);
}

uint16_t Param16(const ComInfection& how, size_t at) {
  return static_cast<uint16_t>(how.params[at] | (how.params[at + 1] << 8));
}

void Put(Bytes& file, size_t at, const Bytes& bytes) {
  if (file.size() < at + bytes.size()) file.resize(at + bytes.size());
  std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<ptrdiff_t>(at));
}

void PutWord(Bytes& file, size_t at, uint16_t word) {
  Put(file, at, {Lo(word), Hi(word)});
}

void XorWord(Bytes& bytes, size_t at, uint32_t word) {
  bytes[at] ^= Lo(word);
  bytes[at + 1] ^= Hi(word);
}

// Places what the record's parameters point at, in a body starting at `start`.
void PlaceKeys(Bytes& file, const ComInfection& how, size_t start) {
  const size_t saved_at = start + how.saved_offset;
  switch (how.scheme) {
    case 2:
      Put(file, saved_at + how.saved_length + Param16(how, 1),
          Join({kDecryptorStart, {how.params[0], Lo(how.key), Hi(how.key)}}));
      break;
    case 3:
    case 6:
    case 8:
    case 10:
      PutWord(file, start + Param16(how, 0), how.key);
      break;
    case 4:
      Put(file, start + Param16(how, 0), {Lo(how.key)});
      Put(file, start + Param16(how, 2), {Lo(how.second_key)});
      break;
    case 5:
      Put(file, saved_at + Param16(how, 1) + how.params[0], {Lo(how.key)});
      break;
    case 9:
    case 12:
      Put(file, start + Param16(how, 0), {Lo(how.key)});
      break;
    case 11:
      PutWord(file, start + Param16(how, 0), how.key);
      PutWord(file, start + Param16(how, 2), how.second_key);
      break;
    default:
      break;
  }
}

// The host's first bytes as the virus keeps them at the saved offset: each scheme's
// transform undone, the last operation first. Scheme 10 keeps more than n bytes.
Bytes Encipher(Bytes bytes, const ComInfection& how, size_t file_size) {
  const size_t n = bytes.size();
  const uint8_t lo = Lo(how.key);
  const uint8_t hi = Hi(how.key);
  bytes.push_back(0);  // the byte the last word operation reaches
  switch (how.scheme) {
    case 1: {
      const uint16_t start = Param16(how, 0);
      const auto from_size = static_cast<uint16_t>(file_size - Param16(how, 2));
      for (size_t i = n; i-- > 0;) XorWord(bytes, i, (start - i) ^ (from_size + i));
      bytes[0] ^= Hi(start) ^ Hi(from_size);
      break;
    }
    case 2: {
      uint8_t running = Lo(lo + how.saved_offset * hi);
      for (size_t i = 0; i < n; ++i, running = Lo(running + hi)) bytes[i] ^= running;
      break;
    }
    case 3:
      for (size_t i = 0; i < n; ++i) bytes[i] ^= lo ^ hi;
      break;
    case 4:
      for (size_t i = 0; i < n; ++i) bytes[i] = Lo(bytes[i] - lo + Lo(how.second_key));
      break;
    case 5:
      for (size_t i = 0; i < n; ++i) bytes[i] = Lo(bytes[i] - lo);
      break;
    case 6: {
      const auto first = static_cast<uint16_t>(how.key - Param16(how, 2));
      for (size_t i = n; i-- > 0;) XorWord(bytes, i, first - (i + 1));
      bytes[0] ^= Hi(first);
      break;
    }
    case 7:  // the plain copy lies elsewhere; these bytes are never used
      for (size_t i = 0; i < n; ++i) bytes[i] ^= 0xFF;
      break;
    case 8: {
      const bool swapped = how.params[2] != 0;
      const size_t count = swapped ? std::min<size_t>(n, 2 * Param16(how, 3)) : n;
      for (size_t i = 0; i < count; ++i) bytes[i] ^= ((i % 2 == 0) != swapped) ? lo : hi;
      break;
    }
    case 9:
      for (size_t i = 0; i < n; ++i) bytes[i] = Lo(bytes[i] - how.params[2]) ^ lo;
      break;
    case 10: {
      // The virus moved the host's word at the destination to the source, past the saved
      // bytes but inside the 2m enciphered ones, and left its own bytes in its place.
      const bool swapped = how.params[2] != 0;
      const size_t length = 2 * size_t{how.params[3]};
      const size_t destination = how.params[4];
      const size_t source = Param16(how, 5);
      bytes.resize(std::max(n, length), 0);
      bytes[source] = bytes[destination];
      bytes[source + 1] = bytes[destination + 1];
      bytes[destination] = kJumpNear;
      bytes[destination + 1] = 0;
      for (size_t i = 0; i < length; ++i) bytes[i] ^= ((i % 2 == 0) != swapped) ? lo : hi;
      return bytes;
    }
    case 11: {
      const uint8_t step = Lo(how.second_key);
      uint8_t running = Lo(lo - (kKeyRunDistance - how.saved_offset) * step);
      for (size_t i = 0; i < kJumpLength; ++i, running = Lo(running + step)) bytes[i] ^= running;
      break;
    }
    case 12:
      for (size_t i = 0; i < kJumpLength; ++i) bytes[i] = Lo(~(bytes[i] + lo));
      break;
    default:
      break;
  }
  bytes.pop_back();
  return bytes;
}

Bytes CleaningRecord(const ComInfection& how, uint32_t virus) {
  Bytes record(how.scheme == 0 ? kPlainRecordSize : kCryptRecordSize, 0);
  const uint16_t fields[] = {
      static_cast<uint16_t>(virus), how.saved_offset, how.saved_length, how.virus_length,
      how.entry_distance,           how.virus_length};
  for (size_t i = 0; i < std::size(fields); ++i) {
    record[2 * i] = Lo(fields[i]);
    record[2 * i + 1] = Hi(fields[i]);
  }
  if (how.scheme != 0) {
    record[12] = Lo(how.scheme);
    record[13] = Hi(how.scheme);
    std::copy(how.params.begin(), how.params.end(), record.begin() + kParamsOffset);
  }
  return record;
}

}  // namespace

InfectedCom InfectCom(const Bytes& host, const ComInfection& how, uint32_t virus) {
  const size_t start = host.size();
  Bytes file = host;
  file.resize(start + how.virus_length, 0);
  const size_t entry = start + how.entry_distance;
  const size_t displacement = entry - kJumpLength;
  Put(file, 0, {kJumpNear, Lo(displacement), Hi(displacement)});
  Put(file, entry, how.code);
  PlaceKeys(file, how, start);

  const Bytes first(host.begin(), host.begin() + how.saved_length);
  Put(file, start + how.saved_offset, Encipher(first, how, file.size()));
  if (how.scheme == 7) {
    // Counted from the paragraph the host ends in, which the virus start need not be.
    Put(file, start / kParagraph * kParagraph + how.saved_offset, first);
  }
  return {std::move(file), CleaningRecord(how, virus)};
}

namespace {

// Every sample's body: the entry 0x20 in, the saved bytes at 0x40, keys at 0x80 and 0x90.
constexpr uint16_t kVirusLength = 0x200;
constexpr uint16_t kEntryDistance = 0x20;
constexpr uint16_t kSavedOffset = 0x40;
constexpr uint16_t kSavedLength = 8;
// Not a whole number of paragraphs, so scheme 7's copy lies apart from the virus start.
constexpr size_t kHostSize = 0x123;

struct SchemeSample {
  uint16_t scheme;
  std::array<uint8_t, 10> params;
  uint16_t key;
  uint16_t second_key;
  const char* what;
};

// The records of test_clean_com.qsig carry the same parameters.
const SchemeSample kSchemeSamples[] = {
    {1, {0x57, 0x13, 0x01, 0x01}, 0, 0, "running words from a start value and the file size"},
    {2, {0xBB, 0x38, 0x00}, 0xA55A, 0, "a key loaded by the decryptor, stepped per byte"},
    {3, {0x80, 0x00}, 0x1234, 0, "both bytes of a key word"},
    {4, {0x80, 0x00, 0x90, 0x00}, 0x37, 0xC5, "one key byte added, another subtracted"},
    {5, {0x08, 0x48, 0x00}, 0x6B, 0, "a key byte past the saved bytes, added"},
    {6, {0x80, 0x00, 0x03, 0x02}, 0xBEEF, 0, "a falling key word"},
    {7, {}, 0, 0, "a plain copy counted from the host's last paragraph"},
    {8, {0x80, 0x00, 0x01, 0x04, 0x00}, 0x5AA5, 0, "a key word, high byte first"},
    {9, {0x80, 0x00, 0x21}, 0x4D, 0, "a key byte, then an addend"},
    {10, {0x80, 0x00, 0x01, 0x05, 0x00, 0x08, 0x00}, 0x7E81, 0, "key words, the first moved"},
    {11, {0x80, 0x00, 0x90, 0x00}, 0x1F2E, 0x0307, "the jump enciphered by stepped key pairs"},
    {12, {0x80, 0x00}, 0x11, 0, "the jump complemented less a key byte"},
};

std::string TwoDigits(uint32_t value) {
  return std::string(1, static_cast<char>('0' + value / 10 % 10)) +
         static_cast<char>('0' + value % 10);
}

Bytes Host(uint16_t scheme) {
  return testing::ComBuilder()
      .Code(0, Join({kExitProgram, Text("host " + TwoDigits(scheme))}))
      .Size(kHostSize)
      .Build();
}

// The virus entry ends the program; its marks are what the family's com-entry record
// matches: "QTFCC" and the VirusId 5 bytes in, "CL" and the scheme 0x10 in.
Bytes VirusCode(uint32_t virus, uint16_t scheme) {
  return Join({kExitProgram, Text("QTFCC" + std::to_string(virus)), Bytes{0, 0, 0},
               Text("CL" + TwoDigits(scheme))});
}

ComInfection Layout(uint32_t virus, uint16_t scheme) {
  ComInfection how;
  how.scheme = scheme;
  how.saved_offset = kSavedOffset;
  how.saved_length = kSavedLength;
  how.virus_length = kVirusLength;
  how.entry_distance = kEntryDistance;
  how.code = VirusCode(virus, scheme);
  return how;
}

}  // namespace

std::vector<Sample> BuildComCleaningSamples() {
  std::vector<Sample> samples;
  const Bytes plain_host = Host(0);
  samples.push_back(
      Infected("com_clean_append.com", "an appended virus keeping the host's bytes",
               InfectCom(plain_host, Layout(kComAppendFamily, 0), kComAppendFamily).file,
               kComAppendFamily, plain_host));
  for (const SchemeSample& entry : kSchemeSamples) {
    const uint32_t virus = kComCryptFamily + entry.scheme - 1;
    ComInfection how = Layout(virus, entry.scheme);
    how.params = entry.params;
    how.key = entry.key;
    how.second_key = entry.second_key;
    const Bytes host = Host(entry.scheme);
    samples.push_back(
        Infected("com_clean_crypt" + TwoDigits(entry.scheme) + ".com",
                 std::string("an appended virus enciphering the host's bytes: ") + entry.what,
                 InfectCom(host, how, virus).file, virus, host));
  }
  return samples;
}

}  // namespace quarn::samples

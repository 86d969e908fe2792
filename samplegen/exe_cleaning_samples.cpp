#include "samplegen/exe_cleaning_samples.h"

#include <algorithm>
#include <string>
#include <utility>

#include "samplegen/sample_factory.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::samples {
namespace {

using testing::MzBuilder;
using testing::PeBuilder;

constexpr uint32_t kPageSize = 512;
constexpr uint32_t kParagraph = 16;
constexpr uint32_t kHostEntry = 0x40;
constexpr uint16_t kHostSs = 0x10;
constexpr uint16_t kHostSp = 0x100;
constexpr std::array<size_t, 4> kHeaderWordOffsets = {
    MzBuilder::kInitialCsOffset, MzBuilder::kInitialIpOffset, MzBuilder::kInitialSsOffset,
    MzBuilder::kInitialSpOffset};

// EncryptedExeCleanRecord fields the enciphering follows.
constexpr size_t kRecordWordOffsets = 2;  // u16 per field, CS to SP
constexpr size_t kRecordScheme = 14;
constexpr size_t kRecordParams = 16;
constexpr uint16_t kScheme9Anchor = 1646;

uint16_t U16(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void PutU16(Bytes& bytes, size_t offset, uint16_t value) {
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void SetLengthFields(Bytes& exe) {
  const uint32_t size = static_cast<uint32_t>(exe.size());
  PutU16(exe, MzBuilder::kPageLengthOffset,
         static_cast<uint16_t>(size % kPageSize == 0 ? kPageSize : size % kPageSize));
  PutU16(exe, MzBuilder::kPageCountOffset,
         static_cast<uint16_t>((size + kPageSize - 1) / kPageSize));
}

// The running keys, advanced byte by byte as the viruses do it.
uint8_t Scheme1Key(uint8_t low, uint8_t high, uint16_t offset) {
  uint8_t key = low;
  for (uint32_t i = 0; i < offset; ++i) key = static_cast<uint8_t>(key + high);
  return key;
}

uint8_t Scheme9Key(uint8_t k0, uint8_t k2, uint16_t offset) {
  uint8_t key = k0;
  for (uint32_t i = offset; i < kScheme9Anchor; ++i) key = static_cast<uint8_t>(key - k2);
  for (uint32_t i = kScheme9Anchor; i < offset; ++i) key = static_cast<uint8_t>(key + k2);
  return key;
}

}  // namespace

HeaderWords ReadHeaderWords(const Bytes& exe) {
  HeaderWords words{};
  for (size_t i = 0; i < words.size(); ++i) words[i] = U16(exe, kHeaderWordOffsets[i]);
  return words;
}

Bytes DosHost(uint32_t size) {
  Bytes host = MzBuilder()
                   .EntryAt(kHostEntry)
                   .InitialSs(kHostSs)
                   .InitialSp(kHostSp)
                   .Code(kHostEntry, Join({kExitProgram, Text("QTF host program")}))
                   .Size(size)
                   .Build();
  SetLengthFields(host);
  return host;
}

AppendedInfection::AppendedInfection(Bytes host, uint16_t body_length, uint16_t entry_distance)
    : host_(std::move(host)), body_(body_length, 0), entry_distance_(entry_distance) {
  host_words_ = ReadHeaderWords(host_);
  const uint32_t header_bytes = U16(host_, MzBuilder::kHeaderParagraphsOffset) * kParagraph;
  const uint16_t body_segment = static_cast<uint16_t>((host_.size() - header_bytes) / kParagraph);
  infected_words_ = {body_segment, entry_distance_, body_segment,
                     static_cast<uint16_t>(body_length & ~1u)};
}

AppendedInfection& AppendedInfection::Body(uint16_t offset, const Bytes& bytes) {
  if (body_.size() < offset + bytes.size()) body_.resize(offset + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), body_.begin() + offset);
  return *this;
}

Bytes AppendedInfection::Build() const {
  Bytes infected = Join({host_, body_});
  for (size_t i = 0; i < infected_words_.size(); ++i) {
    PutU16(infected, kHeaderWordOffsets[i], infected_words_[i]);
  }
  SetLengthFields(infected);
  return infected;
}

std::array<uint8_t, 2> EncipherHeaderWord(const Bytes& record, uint8_t key_low, uint8_t key_high,
                                          int field, uint16_t word, uint16_t infected_word) {
  const uint16_t offset = U16(record, kRecordWordOffsets + 2 * field);
  const uint8_t* params = record.data() + kRecordParams;
  auto split = [](uint16_t value) {
    return std::array<uint8_t, 2>{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  };
  auto xor_both = [&](uint16_t value, uint8_t x0, uint8_t x1) {
    std::array<uint8_t, 2> bytes = split(value);
    return std::array<uint8_t, 2>{static_cast<uint8_t>(bytes[0] ^ x0),
                                  static_cast<uint8_t>(bytes[1] ^ x1)};
  };
  switch (U16(record, kRecordScheme)) {
    case 1: {
      const uint8_t key = Scheme1Key(key_low, key_high, offset);
      return xor_both(static_cast<uint16_t>(word + params[3 + field]), key,
                      static_cast<uint8_t>(key + key_high));
    }
    case 2: {
      std::array<uint8_t, 2> bytes = split(static_cast<uint16_t>(word + params[3 + field]));
      return {static_cast<uint8_t>(bytes[0] - key_low), static_cast<uint8_t>(bytes[1] - key_low)};
    }
    case 3:
      switch (params[2 + field]) {
        case 0:
          return xor_both(word, key_low, key_high);
        case 1:
          return xor_both(word, key_high, key_low);
        case 2:
          return xor_both(word, key_low, key_high ^ key_low);
        default:
          return xor_both(word, key_high ^ key_low, key_high ^ key_low);
      }
    case 4:
      return xor_both(word, key_low, key_low);
    case 6: {
      std::array<uint8_t, 2> bytes = split(word);
      return {static_cast<uint8_t>((bytes[0] - params[2]) ^ key_low),
              static_cast<uint8_t>((bytes[1] - params[2]) ^ key_low)};
    }
    case 7:
      return xor_both(static_cast<uint16_t>(~word), key_low, key_high);
    case 8:
      switch (params[field]) {
        case 1:
          return split(static_cast<uint16_t>(word - infected_word));
        case 2:
          return split(static_cast<uint16_t>(infected_word - word));
        default:
          return split(word);
      }
    case 9: {
      const uint8_t key = Scheme9Key(key_low, key_high, offset);
      return xor_both(word, key, static_cast<uint8_t>(key + key_high));
    }
    default:
      return split(word);
  }
}

namespace {

// The layout every appending sample shares; the records in test_clean_exe.qsig name it.
constexpr uint32_t kHostSize = 0x260;  // two pages, the last one of 0x60 bytes
constexpr uint16_t kBodyLength = 0x300;
constexpr uint16_t kEntryDistance = 0x20;
constexpr uint16_t kConfirmDistance = 0x20;  // from the entry
constexpr uint16_t kSavedWords = 0x80;       // CS, IP, SS, SP, one word each
constexpr uint16_t kExtraWords = 0x90;       // scheme 5: the host's two length fields
constexpr uint16_t kKeyArea = 0x100;
constexpr uint16_t kInertText = 0x200;
constexpr uint8_t kKeyLow = 0x5A;
constexpr uint8_t kKeyHigh = 0xC3;

Bytes ExeCleanRecord(uint32_t family) {
  Bytes record(14, 0);
  PutU16(record, 0, static_cast<uint16_t>(family));
  for (int field = 0; field < 4; ++field) {
    PutU16(record, kRecordWordOffsets + 2 * field, static_cast<uint16_t>(kSavedWords + 2 * field));
  }
  PutU16(record, 10, kBodyLength);
  PutU16(record, 12, kEntryDistance);
  return record;
}

// The parameters of each scheme's record, as test_clean_exe.qsig writes them.
Bytes SchemeParams(uint16_t scheme) {
  switch (scheme) {
    case 1:  // opcode BB (mov bx, imm16), decryptor at 0x100, adjusts 1 2 3 4
      return {0xBB, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 0x00};
    case 2:  // extra distance 3, key offset 0x100, adjusts 5 6 7 8
      return {0x03, 0x00, 0x01, 0x05, 0x06, 0x07, 0x08, 0x00};
    case 3:  // key at 0x100, modes 0 1 2 3
      return {0x00, 0x01, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00};
    case 5:  // A at 0x90 into header offset 2, B at 0x92 into 4, length fields kept
      return {0x90, 0x00, 0x02, 0x92, 0x00, 0x04, 0x01, 0x00};
    case 6:  // key at 0x100, addend 0x35
      return {0x00, 0x01, 0x35, 0x00, 0x00, 0x00, 0x00, 0x00};
    case 8:  // modes 1 2 0 3
      return {0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
    case 9:  // key pair A at 0x100, B at 0x102
      return {0x00, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00};
    default:  // 4, 7: key at 0x100
      return {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  }
}

// The key bytes at 0x100, where each scheme's record looks for them.
Bytes KeyArea(uint16_t scheme) {
  switch (scheme) {
    case 1:  // mov si, 0100h; mov cx, 0040h; mov bx, key: the decryptor is never run
      return {0xBE, 0x00, 0x01, 0xB9, 0x40, 0x00, 0xBB, kKeyLow, kKeyHigh};
    case 2:
      return {0x00, 0x00, 0x00, kKeyLow};
    case 9:
      return {kKeyLow, 0x11, kKeyHigh, 0x22};
    default:
      return {kKeyLow, kKeyHigh};
  }
}

// The virus part: inert text, code at the entry that ends the program followed by the
// family's entry mark, and the mark's confirmation.
AppendedInfection Appender(uint32_t family) {
  const std::string id = std::to_string(family);
  AppendedInfection infection(DosHost(kHostSize), kBodyLength, kEntryDistance);
  infection.Body(0, Text("QTF inert body"))
      .Body(kEntryDistance, Join({kExitProgram, Text("QCLN0" + id)}))
      .Body(kEntryDistance + kConfirmDistance, Text("CL" + id.substr(1)))
      .Body(kInertText, Text("QTF appended data, never run"));
  return infection;
}

Sample PlainAppenderSample() {
  AppendedInfection infection = Appender(kExeAppendFamily);
  for (int field = 0; field < 4; ++field) {
    const uint16_t word = infection.host_words()[field];
    infection.Body(static_cast<uint16_t>(kSavedWords + 2 * field),
                   {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
  }
  return Infected("exe_clean_append.exe", "an appender that keeps the header words in plain form",
                  infection.Build(), kExeAppendFamily, infection.host());
}

Sample EncryptingAppenderSample(uint16_t scheme) {
  const uint32_t family = kExeCryptFamilyBase + scheme;
  AppendedInfection infection = Appender(family);
  Bytes record =
      Join({ExeCleanRecord(family), {static_cast<uint8_t>(scheme), 0x00}, SchemeParams(scheme)});
  infection.Body(kKeyArea, KeyArea(scheme));
  for (int field = 0; field < 4; ++field) {
    std::array<uint8_t, 2> stored =
        EncipherHeaderWord(record, kKeyLow, kKeyHigh, field, infection.host_words()[field],
                           infection.infected_words()[field]);
    infection.Body(static_cast<uint16_t>(kSavedWords + 2 * field), {stored[0], stored[1]});
  }
  if (scheme == 5) {
    // The host's own length fields, which the record keeps instead of recomputing them.
    const Bytes& host = infection.host();
    infection.Body(kExtraWords, Bytes(host.begin() + MzBuilder::kPageLengthOffset,
                                      host.begin() + MzBuilder::kPageCountOffset + 2));
  }
  const std::string number = std::to_string(scheme);
  return Infected("exe_clean_scheme" + number + ".exe",
                  "an appender whose cleaning record names DecryptScheme " + number,
                  infection.Build(), family, infection.host());
}

// A PE host whose section's raw data holds 0x200 bytes of zero padding behind its code; the
// "virus" fills the padding, moves the entry point there and grows VirtualSize by 0x200.
constexpr uint32_t kPeHostEntryPoint = 0x1000;
constexpr uint32_t kPeHostVirtualSize = 0x200;
constexpr uint32_t kPeCavity = 0x400;
constexpr uint32_t kPeCavitySize = 0x200;
constexpr uint32_t kPeSavedEntry = 0x80;  // from the new entry, then the size delta

PeBuilder PeHostBuilder() {
  PeBuilder builder;
  builder.SectionVirtualSize(kPeHostVirtualSize)
      .SectionRawSize(0x400)
      .Code(0x40, kExitProgram)
      .Code(0x200, Join({{0x33, 0xC0, 0xC3}, Text("QTF host")}))
      .Size(kPeCavity + kPeCavitySize);
  return builder;
}

Sample PeCavitySample() {
  Bytes host = PeHostBuilder().Build();
  const uint32_t new_entry_point = kPeHostEntryPoint + (kPeCavity - 0x200);
  Bytes saved(8, 0);
  for (int i = 0; i < 4; ++i) {
    saved[i] = static_cast<uint8_t>(kPeHostEntryPoint >> (8 * i));
    saved[4 + i] = static_cast<uint8_t>(kPeCavitySize >> (8 * i));
  }
  Bytes infected = PeHostBuilder()
                       .EntryPoint(new_entry_point)
                       .SectionVirtualSize(kPeHostVirtualSize + kPeCavitySize)
                       .Code(kPeCavity, Join({{0x33, 0xC0, 0xC3}, Text("CV")}))
                       .Code(kPeCavity + 0x30, Text("QCLNPE"))
                       .Code(kPeCavity + 0x50, Text("E1"))
                       .Code(kPeCavity + kPeSavedEntry, saved)
                       .Code(kPeCavity + 0x100, Text("QTF cavity data, never run"))
                       .Build();
  return Infected("pe_clean_cavity.exe", "a PE image whose padding holds redirected entry code",
                  std::move(infected), kPeCavityFamily, std::move(host));
}

}  // namespace

std::vector<Sample> BuildExeCleaningSamples() {
  std::vector<Sample> samples;
  samples.push_back(PlainAppenderSample());
  for (uint16_t scheme = 1; scheme <= 9; ++scheme) {
    samples.push_back(EncryptingAppenderSample(scheme));
  }
  samples.push_back(PeCavitySample());
  return samples;
}

}  // namespace quarn::samples

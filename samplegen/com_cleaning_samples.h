#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "samplegen/sample_code.h"
#include "samplegen/sample_set.h"

// COM programs infected by harmless appending "viruses" that the COM cleaners undo: one that
// keeps the host's first bytes plain (res/signatures/test_clean_com.qsig, com-clean) and one
// per decryption scheme that keeps them enciphered (com-crypt-clean).
namespace quarn::samples {

// VirusIds: the plain appender, then scheme s of 1–12 as kComCryptFamily + s − 1.
inline constexpr uint32_t kComAppendFamily = 950;
inline constexpr uint32_t kComCryptFamily = 951;

// How the infection is laid out. The virus body is appended right after the host, so the
// virus starts at the host's size and the end distance is the virus length.
struct ComInfection {
  uint16_t scheme = 0;          // 0: kept plain (ComCleanRecord); 1–12 (EncryptedComCleanRecord)
  uint16_t saved_offset = 0;    // of the host's first bytes, from the virus start
  uint16_t saved_length = 3;    // n
  uint16_t virus_length = 0;    // at least the body's largest offset in use
  uint16_t entry_distance = 0;  // from the virus start to `code`, where the jump leads
  std::array<uint8_t, 10> params{};  // record bytes 14–23, laid out per scheme
  // What the parameters point at: the key word (scheme 11: key pair A; scheme 4: the added
  // byte, in the low byte) and a second one (scheme 11: key pair B; 4: the subtracted byte).
  uint16_t key = 0;
  uint16_t second_key = 0;
  Bytes code;  // the virus entry; it must end the program before anything else
};

struct InfectedCom {
  Bytes file;
  // The cleaning record that describes the infection, `virus` in its first u16: 12 bytes
  // for scheme 0, else 24.
  Bytes record;
};

// Appends a virus of `how.virus_length` bytes to `host` (at least n bytes, at most 64 KiB
// with the virus), puts a near jump to its entry over the host's first 3 bytes, and keeps
// the host's first n bytes in the body so that the record's scheme gives them back. The
// caller chooses offsets that keep the body's parts apart and inside it; scheme 10's moved
// word must lie past the n saved bytes and inside the 2m enciphered ones.
InfectedCom InfectCom(const Bytes& host, const ComInfection& how, uint32_t virus);

// One sample per cleaning method and scheme, each with the host a clean gives back.
std::vector<Sample> BuildComCleaningSamples();

}  // namespace quarn::samples

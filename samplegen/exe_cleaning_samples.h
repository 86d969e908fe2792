#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "samplegen/sample_code.h"
#include "samplegen/sample_set.h"

// Executables infected by harmless stand-ins for appending and cavity viruses, made the way
// the executable cleaning records of the default database (res/signatures/test_clean_exe.qsig)
// describe them, with the hosts a clean gives back. The "virus" is inert data behind code
// that ends the program; nothing in these files does anything when run.
namespace quarn::samples {

// VirusIds of the cleaning families: the plain appender, the encrypting appenders by their
// DecryptScheme (931 for scheme 1 to 939 for scheme 9), and the PE cavity filler.
inline constexpr uint32_t kExeAppendFamily = 930;
inline constexpr uint32_t kExeCryptFamilyBase = 930;
inline constexpr uint32_t kPeCavityFamily = 940;

// A DOS header's CS, IP, SS and SP, in the order the cleaning records name them.
using HeaderWords = std::array<uint16_t, 4>;
HeaderWords ReadHeaderWords(const Bytes& exe);

// A DOS EXE of `size` bytes (a multiple of 16, at least 0x60) with a 2-paragraph header,
// whose entry at 0x40 ends the program and whose length fields describe it: the bytes of the
// last page (512 for a whole one) and the page count.
Bytes DosHost(uint32_t size);

// An appending infection: the body follows the host (whose size must be a multiple of 16),
// the header's CS:IP points `entry_distance` into the body, SS:SP at the body's end (the
// stack grows down into it), and the length fields count the whole file.
class AppendedInfection {
 public:
  AppendedInfection(Bytes host, uint16_t body_length, uint16_t entry_distance);

  const HeaderWords& host_words() const { return host_words_; }
  const HeaderWords& infected_words() const { return infected_words_; }
  const Bytes& host() const { return host_; }

  // Places `bytes` at `offset` in the body, which grows to hold them.
  AppendedInfection& Body(uint16_t offset, const Bytes& bytes);
  Bytes Build() const;

 private:
  Bytes host_;
  Bytes body_;
  uint16_t entry_distance_;
  HeaderWords host_words_{};
  HeaderWords infected_words_{};
};

// The two bytes an encrypting appender stores for header word `field` (0 CS … 3 SP) of value
// `word`, so that the DecryptScheme of the 24-byte EncryptedExeCleanRecord `record` gives it
// back. `key_low`/`key_high` are the key word's bytes (schemes 1, 3, 7), the key byte in
// `key_low` (2, 4, 6), or K0 and K2 (9). `infected_word` is the word the infected header
// holds there (scheme 8). Scheme 5 stores the word as it is.
std::array<uint8_t, 2> EncipherHeaderWord(const Bytes& record, uint8_t key_low, uint8_t key_high,
                                          int field, uint16_t word, uint16_t infected_word);

// One infected sample per cleaning method and per DecryptScheme, each with its host.
std::vector<Sample> BuildExeCleaningSamples();

}  // namespace quarn::samples

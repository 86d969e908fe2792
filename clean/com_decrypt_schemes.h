#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "clean/com_virus_start.h"
#include "platform/file.h"

namespace quarn {

// DecryptScheme values an EncryptedComCleanRecord may name.
inline constexpr uint16_t kFirstDecryptScheme = 1;
inline constexpr uint16_t kLastDecryptScheme = 12;

// The saved bytes and one byte more: the word operations of schemes 1 and 6 reach one byte
// past the last saved byte.
inline constexpr size_t kDecryptBufferSize = kMaxSavedBytes + 1;
using DecryptBuffer = std::array<uint8_t, kDecryptBufferSize>;

// Where one infection keeps what its scheme needs.
struct EncryptedComInfection {
  File& file;
  uint64_t file_size = 0;
  uint64_t virus_start = 0;
  ComCleanFields fields;
  // The whole 24-byte EncryptedComCleanRecord, parameters at offsets 14–23.
  std::span<const uint8_t> record;
};

// Deciphers the host's first bytes in `work`, whose first n bytes hold what was read at
// virus start + saved offset, by `scheme` (1–12), taking the key from the file as the
// record's parameters say. Only the first n bytes of `work` are meant to be kept; the
// transform may change bytes beyond them.
//
// Returns false, reading and writing nothing outside `work` and the file, when the scheme is
// unknown, scheme 2 finds no key-load opcode in the 64 bytes it scans, a key or re-read
// saved bytes lie (partly) beyond the file, or the parameters describe more bytes than the
// buffer holds: scheme 8 with the plain order over more than 2048 bytes or the swapped order
// over fewer than 2 or more than 2048 words; scheme 5 with a key offset below n; scheme 10
// with the swapped order over fewer than 2 words or a copied word outside the first 4096
// bytes. Never writes the file, never allocates.
bool DecipherSavedBytes(uint16_t scheme, const EncryptedComInfection& infection,
                        DecryptBuffer& work);

}  // namespace quarn

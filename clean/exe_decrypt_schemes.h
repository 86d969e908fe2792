#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "clean/appended_body.h"
#include "platform/file.h"

// The nine ways an encrypting appender may hide the host's header words in its body, as an
// EncryptedExeCleanRecord names them: its u16 at 14 is the DecryptScheme, 1 to 9, and its 8
// bytes from 16 are that scheme's parameters. All byte arithmetic is modulo 256 and all word
// arithmetic modulo 65536.
namespace quarn {

inline constexpr int kDecryptSchemeField = 14;
inline constexpr uint16_t kFirstDecryptScheme = 1;
inline constexpr uint16_t kLastDecryptScheme = 9;
// Scheme 5 stores the words in plain form, with up to two more header words beside them.
inline constexpr uint16_t kPlainWordsScheme = 5;

// Scheme parameters, by record offset.
inline constexpr int kScheme1OpcodeField = 16;      // u8 key-load opcode
inline constexpr int kScheme1DecryptorField = 17;   // u16 offset of the decryptor code
inline constexpr int kScheme2ExtraField = 16;       // u8 extra distance
inline constexpr int kScheme2KeyField = 17;         // u16 key offset
inline constexpr int kAdjustFields = 19;            // schemes 1, 2: u8 per field, CS to SP
inline constexpr int kKeyOffsetField = 16;          // schemes 3, 4, 6, 7: u16 key offset
inline constexpr int kScheme3ModeFields = 18;       // u8 per field, CS to SP
inline constexpr int kScheme6AddendField = 18;      // u8
inline constexpr int kScheme8ModeFields = 16;       // u8 per field, CS to SP
inline constexpr int kScheme9PairAField = 16;       // u16 offset of K0, K1
inline constexpr int kScheme9PairBField = 18;       // u16 offset of K2, K3
inline constexpr int kScheme5WordAField = 16;       // u16 offset of extra word A
inline constexpr int kScheme5HeaderAField = 18;     // u8 header offset for A
inline constexpr int kScheme5WordBField = 19;       // u16 offset of extra word B, 0xFFFF = none
inline constexpr int kScheme5HeaderBField = 21;     // u8 header offset for B
inline constexpr int kScheme5KeepLengthField = 22;  // u8, non-zero: leave the length fields

// Scheme 1 looks for its key-load instruction within this many bytes of the decryptor.
inline constexpr uint32_t kKeyScanLength = 64;
// Scheme 9's running key is anchored this far into the virus body.
inline constexpr uint16_t kScheme9KeyAnchor = 1646;

// The key bytes a scheme reads from the virus body. Schemes 1, 3 and 7: the key word's low
// and high byte. Schemes 2, 4 and 6: the key byte in `low`. Scheme 9: K0 in `low`, K2 in
// `high`. Schemes 5 and 8 have none.
struct SchemeKey {
  uint8_t low = 0;
  uint8_t high = 0;
};

// Reads the key of the record's scheme from the virus body. Nothing when a key byte lies
// outside the file or, for scheme 1, when the key-load opcode is not met: the scan steps
// from the decryptor's first byte with SkipInstruction while the byte under the pointer is
// not the opcode, and gives up once the pointer is 64 or more bytes on; the key is the word
// after the opcode and must have been read from the file. Reads only; never allocates.
std::optional<SchemeKey> ReadSchemeKey(File& file, std::span<const uint8_t> record,
                                       const AppendedBody& body);

// The key byte scheme 1 applies at body offset `offset`: low advanced `offset` times by high.
uint8_t Scheme1RunningKey(SchemeKey key, uint16_t offset);
// The key byte scheme 9 applies at body offset `offset`: K0 stepped back by K2 once for every
// byte from `offset` up to the anchor 1646 (and forward beyond it).
uint8_t Scheme9RunningKey(SchemeKey key, uint16_t offset);

// The header word a scheme other than 5 recovers from the stored bytes `b0` (low) and `b1`
// of the field `field_index` (0 CS, 1 IP, 2 SS, 3 SP) whose body offset is `offset`.
// `current` is the word the infected header holds there (scheme 8 combines the two).
uint16_t DecipherSavedWord(std::span<const uint8_t> record, SchemeKey key, int field_index,
                           uint16_t offset, uint8_t b0, uint8_t b1, uint16_t current);

}  // namespace quarn

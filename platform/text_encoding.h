#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// Text as the program meets it: UTF-8 in file names on this machine and in everything it
// writes, UTF-16 in FAT long names and compound documents, code page 437 in DOS names.
// Nothing here allocates past the size of its output or reads outside its input.

// The well-formed UTF-8 sequence that starts at `at` of `text`: its length (1 for ASCII,
// NUL included), with its code point in `*code_point` when one is asked for; 0 where none
// starts there (a stray byte, an overlong form, a surrogate, a code point past U+10FFFF, or
// a sequence cut short).
size_t Utf8SequenceAt(std::string_view text, size_t at, uint32_t* code_point = nullptr);

// Appends `code_point` to `out` as UTF-8.
void AppendUtf8(std::string& out, uint32_t code_point);

// `text` with every byte that does not belong to a well-formed UTF-8 sequence replaced by
// U+FFFD, one replacement per such byte; valid text comes back unchanged. File names on this
// machine are bytes, and JSON strings must be UTF-8.
std::string RepairUtf8(std::string_view text);

// UTF-16 code units as UTF-8: a surrogate pair becomes its one code point, a surrogate
// without its partner becomes `lone_surrogate`.
std::string Utf16ToUtf8(std::span<const uint16_t> units, uint32_t lone_surrogate = 0xFFFD);

// UTF-8 as UTF-16 code units; nothing when `text` is not valid UTF-8 or holds a
// surrogate's code point.
std::optional<std::vector<uint16_t>> Utf8ToUtf16(std::string_view text);

// Bytes of a DOS name in code page 437, as UTF-8. Bytes below 0x20 are taken as the glyphs
// DOS showed for them.
std::string CodePage437ToUtf8(std::span<const uint8_t> bytes);

// The two rules for what a reader must not see as it is. Both keep a name from starting a
// line of its own or driving a terminal.
//
// The length of the control character that starts at `at` of UTF-8 `text`, or 0 when none
// does: C0 and DEL (1 byte) and C1, U+0080 to U+009F (2 bytes). Every text a person reads
// shows these as "?": terminals act on C1 as on ESC sequences, and NEL (U+0085) ends a line
// for some readers, so a file name holding one could forge a line of its own.
size_t ControlCharacterLength(std::string_view text, size_t at);
// Whether a name inside a container may not show `code_point` as it is: a C0 or C1 control
// character, DEL, or a line or paragraph separator.
bool IsControlCharacter(uint32_t code_point);

}  // namespace quarn

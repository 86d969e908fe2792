#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Code fragments the samples are made of.
namespace quarn::samples {

using Bytes = std::vector<uint8_t>;

// mov ax, 4C00h; int 21h: ends the program. Every sample whose entry is executed starts
// with it or reaches it before anything else.
inline const Bytes kExitProgram = {0xB8, 0x00, 0x4C, 0xCD, 0x21};
// int 20h: ends a COM program in two bytes.
inline const Bytes kExitCom = {0xCD, 0x20};

inline Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

// A decryption loop over two words at DS:FFFC that XORs them with 0, so it changes nothing:
// mov si, FFFCh; L: xor byte [si+0], 0; inc si; inc si; jnz L.
inline const Bytes kNullDecryptorLoop = {0xBE, 0xFC, 0xFF, 0x80, 0x74, 0x00,
                                         0x00, 0x46, 0x46, 0x75, 0xF8};

// The same loop shape that keeps AX on the stack around it:
// push ax; mov si, FFFCh; L: xor byte [si], 0; inc si; inc si; jnz L; pop ax.
inline const Bytes kNullPushDecryptor = {0x50, 0xBE, 0xFC, 0xFF, 0x80, 0x34,
                                         0x00, 0x46, 0x46, 0x75, 0xF9, 0x58};

// call $+3; pop dx; push cs; pop ds; mov dx, 0; mov ax, 4C00h; int 21h; ret. The program
// ends at the int 21h; the ret is never reached.
inline const Bytes kStackReturnEntry = {0xE8, 0x00, 0x00, 0x5A, 0x0E, 0x1F, 0xBA, 0x00,
                                        0x00, 0xB8, 0x00, 0x4C, 0xCD, 0x21, 0xC3};

// DOS calls an infector prepares: set the transfer area, find first and next, open for
// read and write, read, move the pointer, write, close. Placed after an exit, never run.
inline const Bytes kFileWalkerCalls = {0xB4, 0x4E, 0xCD, 0x21, 0xB4, 0x4F, 0xCD, 0x21, 0xB8, 0x02,
                                       0x3D, 0xCD, 0x21, 0xB4, 0x3F, 0xCD, 0x21, 0xB4, 0x42, 0xCD,
                                       0x21, 0xB4, 0x40, 0xCD, 0x21, 0xB4, 0x3E, 0xCD, 0x21};
inline const Bytes kSetTransferArea = {0xB4, 0x1A, 0xCD, 0x21};
inline const Bytes kCompareWithMz = {0x81, 0x3C, 0x4D, 0x5A};  // cmp word [si], 'MZ'

}  // namespace quarn::samples

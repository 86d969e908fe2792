#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// Three detectors that recognise families of encrypted viruses by tracing the entry code
// with SkipInstruction instead of comparing signature records. All three share the shape of
// the executable detector chain: they consult no records (`signatures` and
// `directory_offset` are not read), read only `state.entry_position` and, for
// TraceStackReturns, `state.header_buffer`, and change nothing in `state`. A result sets
// `*variant_flag` to 0; when nothing is found they return 0 and leave the flag untouched.
// Each reads at most three 256-byte pieces (file start, entry, jump target) or a few 16-byte
// pieces, never allocates, and never reads outside its own fixed buffers: every trace is
// bounded by its window and ends. Buffer bytes that no read filled are zero, also after a
// short read into a buffer used before.

// VirusIds reported by the tracers; fixed numbers of the name database.
inline constexpr uint32_t kDecryptorLoopId = 332;
inline constexpr uint32_t kDecryptorCallId = 333;
inline constexpr uint32_t kMarkedDecryptorLoopId = 334;
inline constexpr uint32_t kPushDecryptorId = 335;
inline constexpr uint32_t kStackReturnsId = 368;
inline constexpr uint32_t kDecryptorCall40Id = 727;
inline constexpr uint32_t kDecryptorCall58Id = 728;
inline constexpr uint32_t kDecryptorCall2BId = 729;

// Traces the 256 bytes at the entry (or, for a file that starts "M" then a near jump, at the
// jump's target) looking for a decryption loop: a memory write through a pointer register,
// a counter and a step register derived from it, closed by a backward JNZ that reaches back
// over the write, or by the pointer register incremented twice before a JNZ. Loop found:
// 334 when the file starts with "M", else 332. Four call shapes with a fixed word further
// on report 333, 334, 727, 728 or 729 directly.
uint32_t TraceDecryptorLoop(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& state);

// Traces the 256 bytes at the entry of code that starts with PUSH AX: a memory write through
// a pointer register, a step of that register, then a loop instruction followed by POP AX
// reports 335.
uint32_t TracePushDecryptor(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& state);

// Follows entry code that starts with a near call through up to eight RETs, each returning
// to the next word of the file's initial stack (read at the header size from bytes 24–25 of
// `state.header_buffer` + SP + SS × 16), and reports 368 when the pieces visited together
// hold POP DX, PUSH CS/POP DS, MOV DX, MOV AX and INT.
uint32_t TraceStackReturns(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                           uint16_t directory_offset, DetectorState& state);

}  // namespace quarn

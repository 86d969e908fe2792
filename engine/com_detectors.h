#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// The record detectors particular to files that are not DOS EXEs: COM programs and the
// like, whose entry is found by following the first jump, and whose appended bodies are
// found by measuring from the end of the file. Each walks the section at `directory_offset`
// of `signatures`. Result: an exact match sets `*variant_flag` to 0 and returns its VirusId;
// else the last partial match found sets it to 1 and returns that VirusId; else 0 with the
// flag untouched. None allocates; a read that delivers nothing is "no match", never an error.
//
// Positions measured from the end take the size File::Size() reports, in unsigned 32-bit
// arithmetic (a size beyond 4 GiB wraps); one that falls before the start of the file reads
// from offset 0. A file whose size cannot be had matches nothing there.

// OffsetSignatureRecords against the file's first 16 bytes, with the confirmations measured
// from the end: 2 code bytes (the filter), 6 bytes at (size − distance) rounded down to a
// multiple of 16 (partial), then 2 bytes read the record's gap past the end of that read
// (exact). Keeps its own zero-filled 512-byte buffer; `state` is neither read nor changed.
uint32_t ScanTailParagraphSignatures(const DatabaseImage& signatures, File& file,
                                     uint16_t* variant_flag, uint16_t directory_offset,
                                     DetectorState& state);

// As ScanTailParagraphSignatures, with the first confirmation at size − distance unrounded.
uint32_t ScanTailSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& state);

// EntrySignatureRecords at the entry a COM file's first instruction jumps to. Reads 16 bytes
// of the file's start into `state.header_buffer`; the entry t is the target of a first EB
// (second byte + 2), E9 or E8 (16-bit displacement + 3, modulo 65536), else 0. Reads 16 bytes
// at t into `state.entry_code_buffer`, compares 8 entry bytes at each record's code offset
// (partial), then 4 bytes read at t + the confirmation offset into bytes 18–21 (exact).
// Sets `state.entry_position` to t, match or not, unless the start or the entry code reads
// nothing, in which case it returns 0 and leaves the position as it was.
uint32_t ScanComEntrySignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                                uint16_t directory_offset, DetectorState& state);

// EndSignatureRecords: the record's first n1 pattern bytes (n1 of 1–8; any other length
// never matches) at its offset into the last 80 bytes of the file, or the whole file when it
// is shorter (partial), then n2 bytes (1–4; any other length fails the record) read at
// size − distance into bytes 18 on of `state.entry_code_buffer` against the second pattern
// (exact). `state.entry_position` is not changed.
uint32_t ScanFileEndSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state);

}  // namespace quarn

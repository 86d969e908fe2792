#pragma once

#include <cstdint>

#include "engine/database_image.h"
#include "engine/detector_state.h"
#include "platform/file.h"

namespace quarn {

// The record detectors of the executable chain, also run with other sections for other
// files. Each walks the section at `directory_offset` of `signatures` and compares its records
// with `state` and small reads of `file`. Result: an exact match sets `*variant_flag` to 0
// and returns its VirusId; else a remembered partial match (the last one found) sets it to 1
// and returns that VirusId; else 0 with the flag untouched. None changes
// `state.entry_position` or allocates; a read that delivers nothing is "no match", never an
// error. Confirmation reads go to bytes 18–33 of `state.entry_code_buffer`.

// EntrySignatureRecords: 8 entry bytes at the record's code offset (partial), then 4 bytes
// read at the entry position + the confirmation offset (exact).
uint32_t ScanEntrySignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                             uint16_t directory_offset, DetectorState& state);

// OffsetSignatureRecords for entry code that starts with a CALL to the next instruction
// (E8 00): 6 bytes at entry + 16 + distance (partial), then 2 bytes read the record's gap past
// the end of that read (exact).
// Reads 16 bytes of the file's start into `state.header_buffer` first.
uint32_t ScanCallSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                            uint16_t directory_offset, DetectorState& state);

// OffsetSignatureRecords: 2 code bytes (the filter), 6 bytes at entry + 16 + distance
// (partial), then 2 bytes read the record's gap past the end of that read (exact).
uint32_t ScanForwardSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state);

// OffsetSignatureRecords: 2 code bytes (the filter), 6 bytes at entry − distance (partial),
// then 2 bytes at entry − distance + gap (exact). A distance beyond the entry fails the record.
uint32_t ScanBackwardSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                                uint16_t directory_offset, DetectorState& state);

// PatternRecords: the pattern's bytes in order, with anything between them, within the
// record's window of the 256 bytes at the entry or at the file's start. Never partial.
// VirusId 90 becomes 101 when the DOS time of the file's last write has 31 in its
// 2-second field; 220 holds only with its confirmation bytes at the file's start (read into
// bytes 0–15 of `state.entry_code_buffer`), else the walk goes on.
uint32_t ScanPatternSignatures(const DatabaseImage& signatures, File& file, uint16_t* variant_flag,
                               uint16_t directory_offset, DetectorState& state);

// The DOS time word (hours << 11 | minutes << 5 | seconds / 2) of a file time, taken in UTC:
// the engine has no access to the local time zone.
uint16_t DosTimeFromFileTime(FileTime time);

// The VirusId a match of record 90 stands for, by the DOS time of the file's last write.
uint32_t TimeStampedVirusId(uint16_t dos_time);

}  // namespace quarn

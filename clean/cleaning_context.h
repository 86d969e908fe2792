// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/user_interface.h"
#include "platform/file.h"

namespace quarn {

// Zeros written over a virus body before the file is cut, or over virus code at an entry.
inline constexpr uint32_t kWipeBlockSize = 4096;

// The string table's id of the message of a failed write.
inline constexpr int kWriteErrorText = 482;

// What a cleaning method is told besides its record. A method reads and writes only the
// file it is given: a fresh copy of the original, which replaces the original only when the
// method answers 1, so a method that gives up halfway leaves the original untouched.
struct CleaningContext {
  UserInterface* ui = nullptr;  // for the write-failure message
  // DOS methods: the entry LocateDosEntry found. PE method: the entry LocatePeEntry found.
  uint32_t entry_offset = 0;
  uint32_t pe_header_offset = 0;
  uint64_t section_header_offset = 0;
};

// The message every cleaner shows when a write fails: "Errore di Scrittura", caption
// "Errore", in the interface's language.
void ReportWriteFailure(const CleaningContext& context);

// Writes all of `length` bytes at `offset`; false when the seek fails or fewer bytes were
// written (a full disk gives short writes).
bool WriteAt(File& file, uint64_t offset, const void* bytes, uint32_t length);

}  // namespace quarn

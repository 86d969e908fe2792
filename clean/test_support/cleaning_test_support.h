#pragma once

// What the cleaner tests share: a method run on an infected copy in memory the way the
// dispatcher runs it, with the messages it showed and the writes it made, and records
// written field by field.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "engine/test_support/recording_interface.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/test_bytes.h"

namespace quarn::testing {

using Bytes = std::vector<uint8_t>;
using Method = uint32_t (*)(const CleaningContext&, const CleanRecord&, File&);

inline const std::string kWriteFailureMessage = "Errore: Errore di Scrittura";

inline void PutU16(Bytes& bytes, size_t offset, uint16_t value) {
  if (bytes.size() < offset + 2) bytes.resize(offset + 2, 0);
  bytes[offset] = static_cast<uint8_t>(value);
  bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t GetU16(const Bytes& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t GetU32(const Bytes& bytes, size_t offset) {
  return GetU16(bytes, offset) | (uint32_t{GetU16(bytes, offset + 2)} << 16);
}

inline CleanRecord RecordOf(const Bytes& bytes) {
  CleanRecord record;
  record.size = static_cast<uint8_t>(std::min(bytes.size(), record.bytes.size()));
  std::copy_n(bytes.begin(), record.size, record.bytes.begin());
  return record;
}

// An ExeCleanRecord's 14 bytes: saved-word offsets (0xFFFF = leave), virus length, distance.
inline Bytes ExeRecordBytes(uint16_t cs, uint16_t ip, uint16_t ss, uint16_t sp,
                            uint16_t virus_length, uint16_t entry_distance) {
  Bytes record(14, 0);
  PutU16(record, 0, 930);
  for (auto [offset, value] :
       {std::pair{2, cs}, {4, ip}, {6, ss}, {8, sp}, {10, virus_length}, {12, entry_distance}}) {
    PutU16(record, offset, value);
  }
  return record;
}

// An EncryptedExeCleanRecord: the ExeCleanRecord's fields, the scheme, eight parameter bytes.
inline Bytes CryptRecordBytes(const Bytes& exe_record, uint16_t scheme, Bytes params) {
  Bytes record = exe_record;
  PutU16(record, 14, scheme);
  params.resize(8, 0);
  record.insert(record.end(), params.begin(), params.end());
  return record;
}

struct CleanRun {
  uint32_t result = 0;
  Bytes file;  // the copy afterwards
  std::vector<std::string> messages;
  int writes = 0;  // Write calls the method made
};

// Runs `clean` on `file` as the copy /copy.com of `files`; faults set on `files` before the
// run apply to its calls.
inline CleanRun RunOnCopy(MemoryFileSystem& files,
                          const std::function<uint32_t(const CleaningContext&, File&)>& clean,
                          const Bytes& file) {
  files.AddFile("/copy.com", file);
  auto copy = (*files.OpenFolder("/"))->OpenFile("copy.com", OpenMode::kReadWrite);
  RecordingInterface ui;
  CleaningContext context;
  context.ui = &ui;
  const int writes_before = files.CallCount(FileOperation::kWrite);
  CleanRun run;
  run.result = clean(context, **copy);
  run.writes = files.CallCount(FileOperation::kWrite) - writes_before;
  run.file = *files.ReadFileBytes("/copy.com");
  run.messages = ui.messages;
  return run;
}

inline CleanRun RunOnCopy(MemoryFileSystem& files, Method method, const Bytes& file,
                          const Bytes& record) {
  return RunOnCopy(
      files,
      [&](const CleaningContext& context, File& copy) {
        return method(context, RecordOf(record), copy);
      },
      file);
}

inline CleanRun RunOnCopy(Method method, const Bytes& file, const Bytes& record) {
  MemoryFileSystem files;
  return RunOnCopy(files, method, file, record);
}

// One infected copy in memory and the context a dispatcher would hand a method for it.
class CleaningTest : public ::testing::Test {
 protected:
  std::unique_ptr<File> Open(const Bytes& bytes) {
    files_.Remove("/copy.exe");
    files_.AddFile("/copy.exe", bytes);
    return std::move((*files_.OpenFolder("/"))->OpenFile("copy.exe", OpenMode::kReadWrite).value());
  }
  Bytes Contents() const { return *files_.ReadFileBytes("/copy.exe"); }
  CleaningContext Context(uint32_t entry) {
    CleaningContext context;
    context.ui = &ui_;
    context.entry_offset = entry;
    return context;
  }

  MemoryFileSystem files_;
  RecordingInterface ui_;
};

}  // namespace quarn::testing

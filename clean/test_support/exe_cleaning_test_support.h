#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "engine/user_interface.h"
#include "platform/test_support/memory_file_system.h"

// What the executable cleaner tests share: an infected copy in memory, a user interface that
// records its messages, and records written field by field.
namespace quarn::testing {

using Bytes = std::vector<uint8_t>;

class MessageRecorder : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> messages;
};

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
  record.size = static_cast<uint8_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), record.bytes.begin());
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
  MessageRecorder ui_;
};

}  // namespace quarn::testing

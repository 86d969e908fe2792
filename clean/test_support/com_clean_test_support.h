#pragma once

// What the COM cleaner tests share: a method run on an in-memory file the way the
// dispatcher runs it on its copy, with the messages it shows and the writes it made.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::com_clean_test {

using Bytes = std::vector<uint8_t>;
using Method = uint32_t (*)(const CleaningContext&, const CleanRecord&, File&);

class MessageLog : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> messages;
};

inline const std::string kWriteFailure = "Errore: Errore di Scrittura";

struct CleanRun {
  uint32_t result = 0;
  Bytes file;  // the copy afterwards
  std::vector<std::string> messages;
  int writes = 0;  // Write calls the method made
};

inline CleanRecord RecordOf(const Bytes& bytes) {
  CleanRecord record;
  record.size = static_cast<uint8_t>(std::min(bytes.size(), record.bytes.size()));
  std::copy_n(bytes.begin(), record.size, record.bytes.begin());
  return record;
}

// A file whose byte i is i mod 251, so no short run of bytes repeats nearby.
inline Bytes Ramp(size_t size, uint8_t first = 0) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((first + i) % 251);
  return bytes;
}

// Faults set on `files` before the run apply to the method's calls.
inline CleanRun RunOnCopy(MemoryFileSystem& files, Method method, const Bytes& file,
                          const Bytes& record) {
  files.AddFile("/copy.com", file);
  auto folder = files.OpenFolder("/");
  auto copy = (*folder)->OpenFile("copy.com", OpenMode::kReadWrite);
  MessageLog log;
  CleaningContext context;
  context.ui = &log;
  const int writes_before = files.CallCount(FileOperation::kWrite);
  CleanRun run;
  run.result = method(context, RecordOf(record), **copy);
  run.writes = files.CallCount(FileOperation::kWrite) - writes_before;
  run.file = *files.ReadFileBytes("/copy.com");
  run.messages = log.messages;
  return run;
}

inline CleanRun RunOnCopy(Method method, const Bytes& file, const Bytes& record) {
  MemoryFileSystem files;
  return RunOnCopy(files, method, file, record);
}

}  // namespace quarn::com_clean_test

#pragma once

#include <cstdint>
#include <optional>

#include "platform/file.h"

namespace quarn::bench {

// A File that passes every call to another one and adds up the bytes its reads deliver, so a
// benchmark can report how much of a file the detectors touched. Does not own `file`.
class ByteCountingFile : public File {
 public:
  explicit ByteCountingFile(File& file) : file_(file) {}

  uint64_t bytes_read() const { return bytes_read_; }
  void ResetCount() { bytes_read_ = 0; }

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override;
  std::optional<uint64_t> Size() override;
  uint32_t Write(const void* buffer, uint32_t length) override;
  bool SetEndOfFile() override;
  bool Flush() override;
  std::optional<FileTimes> GetTimes() override;
  bool SetTimes(const FileTimes& times) override;
  std::optional<FileAttributes> GetAttributes() override;
  bool SetAttributes(const FileAttributes& attributes) override;
  std::optional<FileInfo> GetInfo() override;
  bool SetOwner(uint32_t owner, uint32_t group) override;

 private:
  File& file_;
  uint64_t bytes_read_ = 0;
};

}  // namespace quarn::bench

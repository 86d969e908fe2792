#pragma once

#include "platform/file.h"

namespace quarn {

// A base for handles that only read bytes held elsewhere (memory, parts of another file):
// the position and seeking are kept here, every change is refused, and the handle shows no
// times, attributes or owner of its own, only its size.
class ReadOnlyFile : public File {
 public:
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override {
    int64_t base = 0;
    if (origin == SeekOrigin::kCurrent) base = static_cast<int64_t>(position_);
    if (origin == SeekOrigin::kEnd) base = static_cast<int64_t>(Size().value_or(0));
    if (base + offset < 0) return std::nullopt;
    position_ = static_cast<uint64_t>(base + offset);
    return position_;
  }
  uint64_t Position() const override { return position_; }
  uint32_t Write(const void*, uint32_t) override { return 0; }
  bool SetEndOfFile() override { return false; }
  bool Flush() override { return true; }
  std::optional<FileTimes> GetTimes() override { return FileTimes{}; }
  bool SetTimes(const FileTimes&) override { return false; }
  std::optional<FileAttributes> GetAttributes() override { return FileAttributes{}; }
  bool SetAttributes(const FileAttributes&) override { return false; }
  std::optional<FileInfo> GetInfo() override {
    FileInfo info;
    info.size = Size().value_or(0);
    return info;
  }
  bool SetOwner(uint32_t, uint32_t) override { return false; }

 protected:
  uint64_t position_ = 0;
};

}  // namespace quarn

#pragma once

#include <string>
#include <vector>

#include "platform/file.h"

namespace quarn {

// A File that passes every call to another one, which it does not own: a base for the
// handles that watch or count what goes through them and override only that. ReadSome and
// SizeWhenOpened keep the base's meaning (Read, Size), so every read passes through Read.
class ForwardingFile : public File {
 public:
  explicit ForwardingFile(File& file) : file_(file) {}

  uint32_t Read(void* buffer, uint32_t length) override { return file_.Read(buffer, length); }
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override {
    return file_.Seek(offset, origin);
  }
  uint64_t Position() const override { return file_.Position(); }
  std::optional<uint64_t> Size() override { return file_.Size(); }
  uint32_t Write(const void* buffer, uint32_t length) override {
    return file_.Write(buffer, length);
  }
  bool SetEndOfFile() override { return file_.SetEndOfFile(); }
  bool Flush() override { return file_.Flush(); }
  std::optional<FileTimes> GetTimes() override { return file_.GetTimes(); }
  bool SetTimes(const FileTimes& times) override { return file_.SetTimes(times); }
  std::optional<FileAttributes> GetAttributes() override { return file_.GetAttributes(); }
  bool SetAttributes(const FileAttributes& attributes) override {
    return file_.SetAttributes(attributes);
  }
  std::optional<FileInfo> GetInfo() override { return file_.GetInfo(); }
  bool SetOwner(uint32_t owner, uint32_t group) override { return file_.SetOwner(owner, group); }
  bool SetMode(uint32_t mode) override { return file_.SetMode(mode); }
  std::optional<std::vector<ExtendedAttribute>> GetExtendedAttributes() override {
    return file_.GetExtendedAttributes();
  }
  bool SetExtendedAttribute(const ExtendedAttribute& attribute) override {
    return file_.SetExtendedAttribute(attribute);
  }
  bool RemoveExtendedAttribute(const std::string& name) override {
    return file_.RemoveExtendedAttribute(name);
  }
  std::optional<uint32_t> GetFlags() override { return file_.GetFlags(); }
  bool SetFlags(uint32_t flags) override { return file_.SetFlags(flags); }
  std::optional<uint64_t> NextData(uint64_t offset) override { return file_.NextData(offset); }
  std::optional<uint64_t> NextHole(uint64_t offset) override { return file_.NextHole(offset); }

 protected:
  File& forwarded() { return file_; }

 private:
  File& file_;
};

}  // namespace quarn

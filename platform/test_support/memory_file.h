#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace quarn {

struct MemoryNode;
struct MemoryState;

// A handle on a file of MemoryFileSystem. Several handles on one file share its content;
// each has its own position. Only MemoryFolder makes these.
class MemoryFile : public File {
 public:
  // `appends`: opened with OpenMode::kAppend; every write goes to the end.
  MemoryFile(std::shared_ptr<MemoryState> state, std::shared_ptr<MemoryNode> node, bool writable,
             bool appends = false);

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Position() const override { return position_; }
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
  bool SetMode(uint32_t mode) override;
  std::optional<std::vector<ExtendedAttribute>> GetExtendedAttributes() override;
  bool SetExtendedAttribute(const ExtendedAttribute& attribute) override;
  bool RemoveExtendedAttribute(const std::string& name) override;
  std::optional<uint32_t> GetFlags() override;
  bool SetFlags(uint32_t flags) override;

 private:
  std::shared_ptr<MemoryState> state_;
  std::shared_ptr<MemoryNode> node_;
  bool writable_;
  bool appends_;
  uint64_t position_ = 0;
};

// The FileInfo a MemoryNode shows.
FileInfo InfoOfNode(const MemoryNode& node);
std::vector<ExtendedAttribute> ExtendedAttributesOfNode(const MemoryNode& node);
FileAttributes AttributesOfNode(const MemoryNode& node);

}  // namespace quarn

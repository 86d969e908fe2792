#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "containers/disks/block_device.h"
#include "platform/file.h"

namespace quarn {

// A device over a platform File, or over a window of it. Windows of one file share one lock
// around the file's seek and read or write, so any number of partitions and threads use the
// same handle safely. A device opened with Open refuses every write; one opened with
// OpenWritable writes inside its bounds, and its windows do too.
class FileBlockDevice : public BlockDevice {
 public:
  // The whole file as it is now; its size is taken once.
  static std::shared_ptr<FileBlockDevice> Open(std::shared_ptr<File> file);
  // The same over a file opened for reading and writing (a working copy of an image): its
  // size is fixed at the size taken now, so a write never grows the image.
  static std::shared_ptr<FileBlockDevice> OpenWritable(std::shared_ptr<File> file);

  // The bytes from `offset` on, at most `length` of them, clipped to this device: a window
  // that reaches past the end is shorter, one that starts past it is empty.
  std::shared_ptr<FileBlockDevice> Window(uint64_t offset, uint64_t length) const;

  uint64_t Size() const override { return length_; }
  size_t ReadAt(uint64_t offset, void* buffer, size_t length) override;
  Status WriteAt(uint64_t offset, const void* buffer, size_t length) override;
  Status Flush() override;
  bool Writable() const override { return shared_->writable; }

 private:
  struct Shared {
    std::mutex mutex;
    std::shared_ptr<File> file;
    bool writable = false;
    uint64_t size = 0;
  };
  static std::shared_ptr<FileBlockDevice> OpenShared(std::shared_ptr<File> file, bool writable);
  // "the image" or "the image's bytes 32256 to 1064447", for messages.
  std::string Name() const;

  FileBlockDevice(std::shared_ptr<Shared> shared, uint64_t base, uint64_t length)
      : shared_(std::move(shared)), base_(base), length_(length) {}

  std::shared_ptr<Shared> shared_;
  uint64_t base_;
  uint64_t length_;
};

}  // namespace quarn

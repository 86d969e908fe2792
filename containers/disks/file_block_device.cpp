#include "containers/disks/file_block_device.h"

#include <algorithm>
#include <limits>

namespace quarn {

std::vector<uint8_t> ReadExactly(BlockDevice& device, uint64_t offset, size_t length) {
  std::vector<uint8_t> bytes(length);
  if (device.ReadAt(offset, bytes.data(), length) != length) return {};
  return bytes;
}

std::shared_ptr<FileBlockDevice> FileBlockDevice::Open(std::shared_ptr<File> file) {
  return OpenShared(std::move(file), false);
}

std::shared_ptr<FileBlockDevice> FileBlockDevice::OpenWritable(std::shared_ptr<File> file) {
  return OpenShared(std::move(file), true);
}

std::shared_ptr<FileBlockDevice> FileBlockDevice::OpenShared(std::shared_ptr<File> file,
                                                             bool writable) {
  auto shared = std::make_shared<Shared>();
  const uint64_t size = file ? file->Size().value_or(0) : 0;
  shared->file = std::move(file);
  shared->writable = writable && shared->file != nullptr;
  shared->size = size;
  return std::shared_ptr<FileBlockDevice>(new FileBlockDevice(std::move(shared), 0, size));
}

std::string FileBlockDevice::Name() const {
  if (base_ == 0 && length_ == shared_->size) return "the image";
  return "the image's " + std::to_string(length_) + " bytes from " + std::to_string(base_);
}

std::shared_ptr<FileBlockDevice> FileBlockDevice::Window(uint64_t offset, uint64_t length) const {
  const uint64_t start = std::min(offset, length_);
  const uint64_t clipped = std::min(length, length_ - start);
  return std::shared_ptr<FileBlockDevice>(new FileBlockDevice(shared_, base_ + start, clipped));
}

size_t FileBlockDevice::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (offset >= length_ || !shared_->file) return 0;
  uint64_t wanted = std::min<uint64_t>(length, length_ - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  std::lock_guard lock(shared_->mutex);
  const uint64_t position = base_ + offset;
  if (position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return 0;
  if (shared_->file->Seek(static_cast<int64_t>(position), SeekOrigin::kBegin) != position) return 0;
  while (done < wanted) {
    const uint32_t step =
        static_cast<uint32_t>(std::min<uint64_t>(wanted - done, uint64_t{1} << 30));
    const uint32_t got = shared_->file->Read(out + done, step);
    if (got == 0) break;
    done += got;
  }
  return done;
}

Status FileBlockDevice::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  const std::string where = "cannot write " + std::to_string(length) + " bytes at " +
                            std::to_string(offset) + " of " + Name();
  if (!shared_->writable) return Status::Error(where + ": the image is read only");
  if (offset > length_ || length > length_ - offset) {
    return Status::Error(where + ": past its end (" + std::to_string(length_) + " bytes)");
  }
  const auto* in = static_cast<const uint8_t*>(buffer);
  std::lock_guard lock(shared_->mutex);
  const uint64_t position = base_ + offset;
  if (position > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ||
      shared_->file->Seek(static_cast<int64_t>(position), SeekOrigin::kBegin) != position) {
    return Status::Error(where + ": cannot seek there");
  }
  size_t done = 0;
  while (done < length) {
    const uint32_t step =
        static_cast<uint32_t>(std::min<uint64_t>(length - done, uint64_t{1} << 30));
    if (shared_->file->Write(in + done, step) != step) {
      return Status::Error(where + ": the write failed");
    }
    done += step;
  }
  return Status::Ok();
}

Status FileBlockDevice::Flush() {
  if (!shared_->writable) return Status::Ok();
  std::lock_guard lock(shared_->mutex);
  if (!shared_->file->Flush()) return Status::Error("cannot flush " + Name());
  return Status::Ok();
}

}  // namespace quarn

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace quarn {

class SignatureIndex;

// Slack kept zero-filled behind every image, so that a 4096-byte block copy that starts
// anywhere inside the image stays inside the buffer.
inline constexpr size_t kImageSlack = 4096;

// A descrambled, read-only database image (QUARN.DAT or NAMEVIR.DAT without its 512-byte
// header) in a buffer that extends kImageSlack zero bytes past the image.
class DatabaseImage {
 public:
  DatabaseImage() : buffer_(kImageSlack, 0) {}
  // Takes image bytes that are already descrambled.
  explicit DatabaseImage(std::span<const uint8_t> image_bytes);

  const uint8_t* data() const { return buffer_.data(); }
  // Bytes of the image proper, without the slack.
  size_t size() const { return size_; }
  // Bytes of the whole buffer, image and slack.
  size_t buffer_size() const { return buffer_.size(); }
  std::span<const uint8_t> bytes() const { return {buffer_.data(), size_}; }

  // Storage for a loader that reads the stored bytes straight into place: the buffer is
  // resized to hold `image_size` bytes plus the slack, all zero.
  // Drops any index: the bytes are about to change.
  uint8_t* Allocate(size_t image_size);

  // The index built over these bytes (see signature_index.h), or null: detectors then walk
  // every record. Copies of the image share it; it holds no pointer into the buffer.
  const SignatureIndex* index() const { return index_.get(); }
  void SetIndex(std::shared_ptr<const SignatureIndex> index) { index_ = std::move(index); }

 private:
  std::vector<uint8_t> buffer_;
  size_t size_ = 0;
  std::shared_ptr<const SignatureIndex> index_;
};

}  // namespace quarn

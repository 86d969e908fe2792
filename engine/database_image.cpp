#include "engine/database_image.h"

#include <algorithm>

namespace quarn {

DatabaseImage::DatabaseImage(std::span<const uint8_t> image_bytes) {
  std::copy(image_bytes.begin(), image_bytes.end(), Allocate(image_bytes.size()));
}

uint8_t* DatabaseImage::Allocate(size_t image_size) {
  index_.reset();
  buffer_.assign(image_size + kImageSlack, 0);
  size_ = image_size;
  return buffer_.data();
}

}  // namespace quarn

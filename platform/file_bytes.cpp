#include "platform/file_bytes.h"

namespace quarn {
namespace {

class HeldBytes : public FileBytes {
 public:
  explicit HeldBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::span<const uint8_t> bytes() const override { return bytes_; }
  bool mapped() const override { return false; }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<FileBytes> HoldBytes(std::vector<uint8_t> bytes) {
  return std::make_unique<HeldBytes>(std::move(bytes));
}

}  // namespace quarn

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quarn {

// Fixed-width little-endian fields written one after another, and read back in order with
// every read checked against what is left: the matcher's image, its table of signatures and
// the packed patterns, which come back from QUARNX.DAT.

// Appends the low `width` bytes of `value` (`out` a std::vector<uint8_t> or a std::string).
template <typename Bytes>
void PutField(Bytes& out, uint64_t value, size_t width) {
  for (size_t at = 0; at < width; ++at) {
    out.push_back(static_cast<typename Bytes::value_type>(value >> (8 * at)));
  }
}

class FieldCursor {
 public:
  explicit FieldCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  explicit FieldCursor(std::string_view bytes)
      : bytes_(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) {}

  // The next `length` bytes as they are.
  bool Take(size_t length, std::span<const uint8_t>& field) {
    if (length > left()) return false;
    field = bytes_.subspan(at_, length);
    at_ += length;
    return true;
  }
  // The next sizeof(Value) bytes as a little-endian number.
  template <typename Value>
  bool Get(Value& value) {
    std::span<const uint8_t> field;
    if (!Take(sizeof(Value), field)) return false;
    uint64_t read = 0;
    for (size_t at = sizeof(Value); at-- > 0;) read = read << 8 | field[at];
    value = static_cast<Value>(read);
    return true;
  }
  size_t left() const { return bytes_.size() - at_; }
  bool AtEnd() const { return at_ == bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

}  // namespace quarn

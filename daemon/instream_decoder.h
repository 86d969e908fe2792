#pragma once

#include <cstdint>
#include <span>

namespace quarn {

// The framing of INSTREAM data: chunks of a 4-byte big-endian length and that many bytes,
// ended by a length of 0. Fed whatever the socket delivers, in pieces of any size.
class InstreamDecoder {
 public:
  enum class State { kData, kFinished, kTooLong };

  // `max_length`: the most data a stream may carry in all (StreamMaxLength); 0 sets no limit.
  explicit InstreamDecoder(uint64_t max_length) : max_length_(max_length) {}

  struct Step {
    size_t consumed = 0;            // bytes of the input used up
    std::span<const uint8_t> data;  // the stream's bytes among them, if any
  };

  // Takes bytes from the front of `input`: a length, or data of the current chunk. Call
  // again with the rest until all of it is consumed or the state is no longer kData. A
  // chunk whose length would take the stream past its limit is refused before any of its
  // bytes is read: the state becomes kTooLong.
  Step Feed(std::span<const uint8_t> input);

  State state() const { return state_; }
  uint64_t received() const { return received_; }

 private:
  uint64_t max_length_;
  State state_ = State::kData;
  uint8_t length_bytes_[4] = {};
  int length_bytes_held_ = 0;
  uint64_t chunk_left_ = 0;
  uint64_t received_ = 0;
};

}  // namespace quarn

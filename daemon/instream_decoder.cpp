#include "daemon/instream_decoder.h"

#include <algorithm>

namespace quarn {

InstreamDecoder::Step InstreamDecoder::Feed(std::span<const uint8_t> input) {
  Step step;
  if (state_ != State::kData || input.empty()) return step;
  if (chunk_left_ > 0) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(chunk_left_, input.size()));
    chunk_left_ -= take;
    received_ += take;
    step.consumed = take;
    step.data = input.first(take);
    return step;
  }
  while (length_bytes_held_ < 4 && step.consumed < input.size()) {
    length_bytes_[length_bytes_held_++] = input[step.consumed++];
  }
  if (length_bytes_held_ < 4) return step;
  length_bytes_held_ = 0;
  const uint64_t length = (uint64_t{length_bytes_[0]} << 24) | (uint64_t{length_bytes_[1]} << 16) |
                          (uint64_t{length_bytes_[2]} << 8) | uint64_t{length_bytes_[3]};
  if (length == 0) {
    state_ = State::kFinished;
  } else if (max_length_ != 0 && length > max_length_ - received_) {
    state_ = State::kTooLong;
  } else {
    chunk_left_ = length;
  }
  return step;
}

}  // namespace quarn

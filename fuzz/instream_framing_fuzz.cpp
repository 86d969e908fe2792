// Any bytes after INSTREAM, in pieces of any size: the decoder gives exactly the data a plain
// reading of the chunks gives, stops where the chunks end, and never lets the stream pass
// its limit.
#include <cstdint>
#include <string>
#include <vector>

#include "daemon/instream_decoder.h"
#include "fuzz/fuzz_seeds.h"

namespace {

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

struct Plain {
  std::vector<uint8_t> data;
  quarn::InstreamDecoder::State state = quarn::InstreamDecoder::State::kData;
};

// The chunks read all at once, the obvious way.
Plain ReadPlainly(const uint8_t* bytes, size_t size, uint64_t limit) {
  Plain plain;
  size_t at = 0;
  while (at + 4 <= size) {
    const uint64_t length = (uint64_t{bytes[at]} << 24) | (uint64_t{bytes[at + 1]} << 16) |
                            (uint64_t{bytes[at + 2]} << 8) | bytes[at + 3];
    at += 4;
    if (length == 0) {
      plain.state = quarn::InstreamDecoder::State::kFinished;
      return plain;
    }
    if (plain.data.size() + length > limit) {
      plain.state = quarn::InstreamDecoder::State::kTooLong;
      return plain;
    }
    const size_t take = static_cast<size_t>(std::min<uint64_t>(length, size - at));
    plain.data.insert(plain.data.end(), bytes + at, bytes + at + take);
    at += take;
    if (take < length) return plain;
  }
  return plain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = 1 + data[0] % 32;
  const uint64_t limit = 1 + (data[0] >> 5) * 300;
  const uint8_t* stream = data + 1;
  const size_t stream_size = size - 1;
  quarn::InstreamDecoder decoder(limit);
  std::vector<uint8_t> received;
  for (size_t at = 0;
       at < stream_size && decoder.state() == quarn::InstreamDecoder::State::kData;) {
    const size_t length = std::min(piece, stream_size - at);
    size_t used = 0;
    while (used < length && decoder.state() == quarn::InstreamDecoder::State::kData) {
      const quarn::InstreamDecoder::Step step = decoder.Feed({stream + at + used, length - used});
      Check(step.consumed > 0 && step.consumed <= length - used);
      Check(step.data.size() <= step.consumed);
      received.insert(received.end(), step.data.begin(), step.data.end());
      used += step.consumed;
    }
    at += used;
  }
  const Plain plain = ReadPlainly(stream, stream_size, limit);
  Check(received == plain.data);
  Check(decoder.state() == plain.state);
  Check(decoder.received() == received.size() && received.size() <= limit);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using namespace std::string_literals;
  return {"\x23\0\0\0\x05hello\0\0\0\x02" "ab\0\0\0\0"s, "\x01\xff\xff\xff\xff"s,
          "\xe0\0\0\x01\0"s + std::string(256, 'x') + "\0\0\0\0"s};
}

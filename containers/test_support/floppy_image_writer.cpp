#include "containers/test_support/floppy_image_writer.h"

#include <algorithm>
#include <string>

#include "containers/wrappers/floppy_formats.h"
#include "containers/wrappers/teledisk_lzhuf.h"

namespace quarn::testing {
namespace {

constexpr size_t kSector = 512;

void Put16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

std::span<const uint8_t> SectorOf(std::span<const uint8_t> raw, FloppyShape shape, uint32_t c,
                                  uint32_t h, uint32_t s) {
  return raw.subspan(((c * shape.heads + h) * shape.sectors + s) * kSector, kSector);
}

void TdHeader(std::vector<uint8_t>& out, char first, char second, uint32_t heads) {
  out = {static_cast<uint8_t>(first), static_cast<uint8_t>(second), 0, 0, 21, 0, 0, 0, 0,
         static_cast<uint8_t>(heads)};
  Put16(out, TeleDiskCrc(out));
}

// Bits put highest first.
class BitWriter {
 public:
  void Put(uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) {
      byte_ = static_cast<uint8_t>((byte_ << 1) | ((code >> i) & 1));
      if (++used_ == 8) Flush();
    }
  }
  std::vector<uint8_t> Finish() {
    if (used_ > 0) {
      byte_ = static_cast<uint8_t>(byte_ << (8 - used_));
      Flush();
    }
    return std::move(bytes_);
  }

 private:
  void Flush() {
    bytes_.push_back(byte_);
    byte_ = 0;
    used_ = 0;
  }
  std::vector<uint8_t> bytes_;
  uint8_t byte_ = 0;
  int used_ = 0;
};

}  // namespace

std::vector<uint8_t> ImdImage(std::span<const uint8_t> raw, FloppyShape shape) {
  const std::string line = "IMD 1.18: 01/01/1995 12:00:00\r\nquarn test\x1A";
  std::vector<uint8_t> out(line.begin(), line.end());
  for (uint32_t c = 0; c < shape.cylinders; ++c) {
    for (uint32_t h = 0; h < shape.heads; ++h) {
      out.insert(out.end(), {5, static_cast<uint8_t>(c), static_cast<uint8_t>(h),
                             static_cast<uint8_t>(shape.sectors), 2});
      for (uint32_t s = 0; s < shape.sectors; ++s) out.push_back(static_cast<uint8_t>(s + 1));
      for (uint32_t s = 0; s < shape.sectors; ++s) {
        const std::span<const uint8_t> data = SectorOf(raw, shape, c, h, s);
        if (std::all_of(data.begin(), data.end(), [&](uint8_t b) { return b == data[0]; })) {
          out.insert(out.end(), {2, data[0]});
        } else {
          out.push_back(1);
          out.insert(out.end(), data.begin(), data.end());
        }
      }
    }
  }
  return out;
}

std::vector<uint8_t> Td0Image(std::span<const uint8_t> raw, FloppyShape shape) {
  std::vector<uint8_t> out;
  TdHeader(out, 'T', 'D', shape.heads);
  for (uint32_t c = 0; c < shape.cylinders; ++c) {
    for (uint32_t h = 0; h < shape.heads; ++h) {
      std::vector<uint8_t> track = {static_cast<uint8_t>(shape.sectors), static_cast<uint8_t>(c),
                                    static_cast<uint8_t>(h)};
      track.push_back(static_cast<uint8_t>(TeleDiskCrc(track)));
      out.insert(out.end(), track.begin(), track.end());
      for (uint32_t s = 0; s < shape.sectors; ++s) {
        out.insert(out.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(h),
                               static_cast<uint8_t>(s + 1), 2, 0, 0});
        Put16(out, kSector + 1);
        out.push_back(0);
        const std::span<const uint8_t> data = SectorOf(raw, shape, c, h, s);
        out.insert(out.end(), data.begin(), data.end());
      }
    }
  }
  out.push_back(0xFF);
  return out;
}

std::vector<uint8_t> CqmImage(std::span<const uint8_t> raw, FloppyShape shape) {
  std::vector<uint8_t> out(133, 0);
  out[0] = 'C';
  out[1] = 'Q';
  out[2] = 0x14;
  out[0x03] = kSector & 0xFF;
  out[0x04] = kSector >> 8;
  out[0x10] = static_cast<uint8_t>(shape.sectors);
  out[0x12] = static_cast<uint8_t>(shape.heads);
  out[0x5A] = out[0x5B] = static_cast<uint8_t>(shape.cylinders);
  out[0x74] = 1;
  uint8_t sum = 0;
  for (uint8_t byte : out) sum = static_cast<uint8_t>(sum + byte);
  out[0x84] = static_cast<uint8_t>(-sum);
  const size_t length = size_t{shape.cylinders} * shape.heads * shape.sectors * kSector;
  for (size_t at = 0; at < length; at += kSector) {
    Put16(out, kSector);
    out.insert(out.end(), raw.begin() + static_cast<ptrdiff_t>(at),
               raw.begin() + static_cast<ptrdiff_t>(at + kSector));
  }
  return out;
}

std::vector<uint8_t> PackTeleDisk(std::span<const uint8_t> plain) {
  constexpr size_t kHeader = 12;
  constexpr size_t kLongest = 60;
  std::vector<uint8_t> out(plain.begin(), plain.begin() + kHeader);
  out[0] = 't';
  out[1] = 'd';
  const uint16_t crc = TeleDiskCrc(std::span(out).first(10));
  out[10] = static_cast<uint8_t>(crc);
  out[11] = static_cast<uint8_t>(crc >> 8);
  LzhufTree tree;
  BitWriter bits;
  int length = 0;
  for (size_t at = kHeader; at < plain.size();) {
    size_t run = 0;
    while (at > kHeader && at + run < plain.size() && run < kLongest &&
           plain[at + run] == plain[at - 1]) {
      ++run;
    }
    if (run >= 3) {
      // A match of length `run`, its distance 0 (the byte just before): the distance's high
      // six bits in three 0 bits, its low six bits all 0.
      const uint32_t code = tree.Encode(static_cast<int>(256 + run - 3), &length);
      bits.Put(code, length);
      bits.Put(0, 9);
      at += run;
      continue;
    }
    const uint32_t code = tree.Encode(plain[at], &length);
    bits.Put(code, length);
    ++at;
  }
  const std::vector<uint8_t> packed = bits.Finish();
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

}  // namespace quarn::testing

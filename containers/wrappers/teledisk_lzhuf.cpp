#include "containers/wrappers/teledisk_lzhuf.h"

#include <algorithm>
#include <array>

namespace quarn {
namespace {

constexpr size_t kWindow = 4096;
constexpr size_t kLongestMatch = 60;
constexpr int kShortestMatch = 3;
constexpr uint32_t kMostFrequent = 0x8000;

// The high 6 bits of a match's distance take 3 to 8 bits, shorter for nearer matches: how many
// of the 64 values take each length.
constexpr std::array<int, 6> kHighDistanceCounts = {1, 3, 8, 12, 24, 16};

struct DistanceTable {
  std::array<uint8_t, 256> high{};    // the high 6 bits, by the code's first 8 bits
  std::array<uint8_t, 256> length{};  // the code's length in bits
};

constexpr DistanceTable MakeDistanceTable() {
  DistanceTable table;
  int code = 0;
  int value = 0;
  for (int bits = 3; bits <= 8; ++bits) {
    for (int n = 0; n < kHighDistanceCounts[bits - 3]; ++n, ++value) {
      for (int k = 0; k < (1 << (8 - bits)); ++k, ++code) {
        table.high[code] = static_cast<uint8_t>(value);
        table.length[code] = static_cast<uint8_t>(bits);
      }
    }
  }
  return table;
}
constexpr DistanceTable kDistances = MakeDistanceTable();

// The packed bits, highest first; past the end they read as zeros and `Exhausted` tells.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  int Bit() {
    if (position_ >= bytes_.size() * 8) {
      ++overrun_;
      return 0;
    }
    const int bit = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1;
    ++position_;
    return bit;
  }
  int Bits(int count) {
    int value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
    return value;
  }
  // Whether a symbol begun ran past the end: the writer's last byte is padded, so a symbol
  // that needed bits beyond it is padding, not data.
  bool Exhausted() const { return overrun_ > 0; }
  bool AtEnd() const { return position_ >= bytes_.size() * 8; }

 private:
  std::span<const uint8_t> bytes_;
  size_t position_ = 0;
  size_t overrun_ = 0;
};

}  // namespace

LzhufTree::LzhufTree() {
  for (int i = 0; i < kSymbols; ++i) {
    freq_[i] = 1;
    son_[i] = i + kNodes;
    parent_[i + kNodes] = i;
  }
  for (int i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
    freq_[j] = freq_[i] + freq_[i + 1];
    son_[j] = i;
    parent_[i] = parent_[i + 1] = j;
  }
  freq_[kNodes] = 0xFFFF;
  parent_[kRoot] = 0;
}

uint32_t LzhufTree::Encode(int symbol, int* length) {
  uint32_t code = 0;
  int bits = 0;
  for (int node = parent_[symbol + kNodes]; node != kRoot; node = parent_[node]) {
    code |= static_cast<uint32_t>(node & 1) << bits;
    ++bits;
  }
  *length = bits;
  Update(symbol);
  return code;
}

// Halves every leaf's count and builds the inner nodes again, sorted by count.
void LzhufTree::Rebuild() {
  int leaves = 0;
  for (int i = 0; i < kNodes; ++i) {
    if (son_[i] >= kNodes) {
      freq_[leaves] = (freq_[i] + 1) / 2;
      son_[leaves] = son_[i];
      ++leaves;
    }
  }
  for (int i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    const uint32_t f = freq_[i] + freq_[i + 1];
    int k = j - 1;
    while (f < freq_[k]) --k;
    ++k;
    std::copy_backward(freq_ + k, freq_ + j, freq_ + j + 1);
    std::copy_backward(son_ + k, son_ + j, son_ + j + 1);
    freq_[k] = f;
    son_[k] = i;
  }
  for (int i = 0; i < kNodes; ++i) {
    const int k = son_[i];
    parent_[k] = i;
    if (k < kNodes) parent_[k + 1] = i;
  }
}

void LzhufTree::Update(int symbol) {
  if (freq_[kRoot] == kMostFrequent) Rebuild();
  int c = parent_[symbol + kNodes];
  do {
    const uint32_t k = ++freq_[c];
    int l = c + 1;
    if (k > freq_[l]) {
      while (k > freq_[++l]) {
      }
      --l;
      freq_[c] = freq_[l];
      freq_[l] = k;
      const int i = son_[c];
      parent_[i] = l;
      if (i < kNodes) parent_[i + 1] = l;
      const int j = son_[l];
      son_[l] = i;
      parent_[j] = c;
      if (j < kNodes) parent_[j + 1] = c;
      son_[c] = j;
      c = l;
    }
    c = parent_[c];
  } while (c != 0);
}

std::optional<std::vector<uint8_t>> UnpackTeleDisk(std::span<const uint8_t> packed, size_t limit) {
  LzhufTree tree;
  BitReader bits(packed);
  std::array<uint8_t, kWindow> window;
  window.fill(' ');
  size_t at = kWindow - kLongestMatch;
  std::vector<uint8_t> out;
  auto put = [&](uint8_t byte) {
    out.push_back(byte);
    window[at] = byte;
    at = (at + 1) % kWindow;
  };
  while (!bits.AtEnd()) {
    const int symbol = tree.Decode([&] { return bits.Bit(); });
    if (symbol < 256) {
      if (bits.Exhausted()) break;
      if (out.size() == limit) return std::nullopt;
      put(static_cast<uint8_t>(symbol));
      continue;
    }
    const int first = bits.Bits(8);
    const int rest = bits.Bits(kDistances.length[first] - 2);
    if (bits.Exhausted()) break;
    const size_t distance = (static_cast<size_t>(kDistances.high[first]) << 6) |
                            (((first << (kDistances.length[first] - 2)) | rest) & 0x3F);
    const size_t from = (at + kWindow - distance - 1) % kWindow;
    const size_t length = static_cast<size_t>(symbol - 256 + kShortestMatch);
    if (out.size() + length > limit) return std::nullopt;
    for (size_t k = 0; k < length; ++k) put(window[(from + k) % kWindow]);
  }
  return out;
}

}  // namespace quarn

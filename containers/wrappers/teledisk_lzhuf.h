#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quarn {

// The adaptive Huffman code of TeleDisk's "advanced compression" (LZSS over a 4 KiB window,
// its literals and match lengths coded by a tree that changes after every symbol). Decoder and
// writer step the same tree, so a code read is a code written.
class LzhufTree {
 public:
  // Literals 0-255, then match lengths from the shortest on.
  static constexpr int kSymbols = 256 - 2 + 60;

  LzhufTree();
  // The symbol whose code `next_bit` gives, bit after bit from the root; the tree is updated.
  template <typename NextBit>
  int Decode(NextBit&& next_bit) {
    int node = son_[kRoot];
    while (node < kNodes) node = son_[node + next_bit()];
    const int symbol = node - kNodes;
    Update(symbol);
    return symbol;
  }
  // The code of `symbol`, its first bit the highest of `*length` bits; the tree is updated.
  uint32_t Encode(int symbol, int* length);

 private:
  static constexpr int kNodes = kSymbols * 2 - 1;
  static constexpr int kRoot = kNodes - 1;
  void Update(int symbol);
  void Rebuild();

  uint32_t freq_[kNodes + 1];
  int parent_[kNodes + kSymbols];
  int son_[kNodes];
};

// The bytes a TeleDisk file's advanced compression packed into `packed` (all that follows its
// 12-byte header), at most `limit` of them. Nothing when more would come out than `limit`.
std::optional<std::vector<uint8_t>> UnpackTeleDisk(std::span<const uint8_t> packed, size_t limit);

}  // namespace quarn

#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "imported/quarnx/growing_array.h"

namespace quarn {

// QUARNX.DAT's strings as an import gathers them: each stored once, NUL-terminated, in the
// order first added, named by its offset. Beside the text it keeps only an index of four
// bytes a slot, so the millions of names of a real database cost little more than their
// text, and the few sources, repeated on every signature, nothing more.
class StringPool {
 public:
  // The offset of `text` (which holds no NUL), added when new. Offsets past 4 GiB do not
  // exist: the caller checks bytes().size() before adding.
  uint32_t Add(std::string_view text);
  // The string at `offset`, which Add gave.
  std::string_view At(uint32_t offset) const;
  std::span<const uint8_t> bytes() const { return bytes_.bytes(); }

 private:
  void Rehash(size_t slot_count);
  size_t SlotOf(std::string_view text) const;

  GrowingArray<char> bytes_;
  std::vector<uint32_t> slots_;  // a string's offset + 1; 0 marks a free slot
  size_t count_ = 0;
};

}  // namespace quarn

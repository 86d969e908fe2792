#include "imported/quarnx/string_pool.h"

#include <cstring>
#include <functional>

namespace quarn {
namespace {

constexpr size_t kFirstSlots = 1024;  // a power of two, as every slot count

size_t HashOf(std::string_view text) {
  return std::hash<std::string_view>()(text);
}

}  // namespace

std::string_view StringPool::At(uint32_t offset) const {
  return std::string_view(bytes_.begin() + offset);
}

// The slot holding `text`, or the free slot where it belongs.
size_t StringPool::SlotOf(std::string_view text) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = HashOf(text) & mask;; slot = (slot + 1) & mask) {
    if (slots_[slot] == 0 || At(slots_[slot] - 1) == text) return slot;
  }
}

uint32_t StringPool::Add(std::string_view text) {
  // At most three quarters full, so a free slot ends every probe.
  if (4 * (count_ + 1) > 3 * slots_.size()) {
    Rehash(slots_.empty() ? kFirstSlots : 2 * slots_.size());
  }
  const size_t slot = SlotOf(text);
  if (slots_[slot] != 0) return slots_[slot] - 1;
  const auto offset = static_cast<uint32_t>(bytes_.size());
  char* at = bytes_.Append(text.size() + 1, '\0');
  std::memcpy(at, text.data(), text.size());
  slots_[slot] = offset + 1;
  ++count_;
  return offset;
}

void StringPool::Rehash(size_t slot_count) {
  std::vector<uint32_t> old = std::move(slots_);
  slots_.assign(slot_count, 0);
  for (const uint32_t stored : old) {
    if (stored != 0) slots_[SlotOf(At(stored - 1))] = stored;
  }
}

}  // namespace quarn

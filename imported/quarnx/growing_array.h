#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

namespace quarn {

// An array of plain values grown with realloc, for the import's tables of millions of rows.
// For blocks this large the C library moves pages rather than bytes (glibc remaps them), so
// the array never holds two copies of itself, as std::vector's growth would for a moment:
// the peak memory of an import is the size of its tables, not twice the largest.
template <typename T>
class GrowingArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  GrowingArray() = default;
  ~GrowingArray() { std::free(data_); }
  GrowingArray(GrowingArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  GrowingArray& operator=(GrowingArray&& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }

  void push_back(const T& value) {
    if (size_ == capacity_) Reserve(size_ + 1);
    data_[size_++] = value;
  }
  // Appends `count` values, each `value`, and returns the first of them.
  T* Append(size_t count, const T& value) {
    Reserve(size_ + count);
    std::fill_n(data_ + size_, count, value);
    size_ += count;
    return data_ + size_ - count;
  }
  // Keeps the first `count` values.
  void Truncate(size_t count) { size_ = std::min(size_, count); }

  T& operator[](size_t index) { return data_[index]; }
  const T& operator[](size_t index) const { return data_[index]; }
  size_t size() const { return size_; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::span<const uint8_t> bytes() const {
    return {reinterpret_cast<const uint8_t*>(data_), size_ * sizeof(T)};
  }

 private:
  void Reserve(size_t wanted) {
    if (wanted <= capacity_) return;
    const size_t grown = std::max({wanted, capacity_ + capacity_ / 2, 4096 / sizeof(T) + 1});
    void* moved = std::realloc(data_, grown * sizeof(T));
    if (moved == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(moved);
    capacity_ = grown;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace quarn

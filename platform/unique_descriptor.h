#pragma once

#include <unistd.h>

#include <utility>

namespace quarn {

// Owns a POSIX descriptor and closes it on every path out, unless it is handed on.
class UniqueDescriptor {
 public:
  explicit UniqueDescriptor(int descriptor = -1) : descriptor_(descriptor) {}
  UniqueDescriptor(const UniqueDescriptor&) = delete;
  UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
  // Ownership moves; the one moved from holds nothing.
  UniqueDescriptor(UniqueDescriptor&& other) noexcept : descriptor_(other.release()) {}
  UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept {
    if (this != &other) {
      if (descriptor_ >= 0) close(descriptor_);
      descriptor_ = other.release();
    }
    return *this;
  }
  ~UniqueDescriptor() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  int get() const { return descriptor_; }
  // Gives the descriptor up to the caller, who closes it.
  int release() { return std::exchange(descriptor_, -1); }
  // Closes now, so that a failure to close (a delayed write error) can be reported.
  int Close() { return close(std::exchange(descriptor_, -1)); }

 private:
  int descriptor_;
};

}  // namespace quarn

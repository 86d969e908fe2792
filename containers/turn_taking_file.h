#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/file_reads.h"
#include "platform/read_only_file.h"

namespace quarn {

// A read-only handle with a position of its own on a file that several threads read at once:
// each read is the shared file's ReadAt, or else seeks the shared file and reads it under one
// lock that every handle made from the first shares, so that no thread moves another's
// position between its seek and its read.
// The shared file must not be read by anyone but these handles while they are in use.
class TurnTakingFile : public ReadOnlyFile {
 public:
  TurnTakingFile(std::shared_ptr<File> file, uint64_t size)
      : file_(std::move(file)), size_(size), turn_(std::make_shared<std::mutex>()) {}

  // Another handle on the same file, at position 0, taking turns with this one.
  std::shared_ptr<TurnTakingFile> Another() const {
    return std::shared_ptr<TurnTakingFile>(new TurnTakingFile(file_, size_, turn_));
  }

  uint32_t Read(void* buffer, uint32_t length) override {
    // A file that reads at an offset from any thread needs no turns.
    std::optional<uint32_t> got = file_->ReadAtOffset(position_, buffer, length);
    if (!got) {
      std::lock_guard<std::mutex> lock(*turn_);
      got = ReadFullyAt(*file_, position_, buffer, length);
    }
    position_ += *got;
    return *got;
  }
  std::optional<uint64_t> Size() override { return size_; }

 private:
  TurnTakingFile(std::shared_ptr<File> file, uint64_t size, std::shared_ptr<std::mutex> turn)
      : file_(std::move(file)), size_(size), turn_(std::move(turn)) {}

  std::shared_ptr<File> file_;
  uint64_t size_;
  std::shared_ptr<std::mutex> turn_;
};

}  // namespace quarn

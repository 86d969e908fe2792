#pragma once

// What the matcher's tests share: bytes as a platform File that tells how far it was read,
// and short builders for patterns and signatures.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "imported/body_pattern.h"
#include "platform/forwarding_file.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::testing {

// A read-only file over `bytes` that remembers the farthest byte any read reached.
class WatchedFile : public ForwardingFile {
 public:
  static std::unique_ptr<WatchedFile> Of(const std::vector<uint8_t>& bytes) {
    auto files = std::make_shared<MemoryFileSystem>();
    EXPECT_TRUE(files->AddFile("/file", bytes).ok());
    auto root = files->OpenFolder("/");
    auto opened = (*root)->OpenFile("file", OpenMode::kRead);
    EXPECT_TRUE(opened.ok());
    return std::unique_ptr<WatchedFile>(new WatchedFile(files, std::move(*opened)));
  }

  uint32_t Read(void* buffer, uint32_t length) override {
    const uint64_t at = Position();
    const uint32_t got = ForwardingFile::Read(buffer, length);
    if (got > 0) farthest_end_ = std::max(farthest_end_, at + got);
    return got;
  }
  uint64_t farthest_end() const { return farthest_end_; }

 private:
  WatchedFile(std::shared_ptr<MemoryFileSystem> files, std::unique_ptr<File> file)
      : ForwardingFile(*file), files_(std::move(files)), file_(std::move(file)) {}
  std::shared_ptr<MemoryFileSystem> files_;
  std::unique_ptr<File> file_;
  uint64_t farthest_end_ = 0;
};

inline PatternPart ByteOf(uint8_t value, uint8_t mask = 0xFF) {
  return {PatternPart::Kind::kByte, {value, mask}, 0, 0, {}};
}
inline PatternPart GapOf(uint32_t min, uint32_t max) {
  return {PatternPart::Kind::kJump, {}, min, max, {}};
}
inline PatternPart ChoiceOf(std::vector<std::vector<uint8_t>> strings) {
  PatternPart part{PatternPart::Kind::kChoice, {}, 0, 0, {}};
  for (const auto& string : strings) {
    part.choices.emplace_back();
    for (uint8_t value : string) part.choices.back().push_back({value, 0xFF});
  }
  return part;
}
// Whole bytes, one part each.
inline std::vector<PatternPart> WholeBytes(std::vector<uint8_t> values) {
  std::vector<PatternPart> parts;
  for (uint8_t value : values) parts.push_back(ByteOf(value));
  return parts;
}
inline BodyPattern PatternOf(std::vector<std::vector<PatternPart>> pieces) {
  BodyPattern pattern;
  for (auto& piece : pieces) pattern.parts.insert(pattern.parts.end(), piece.begin(), piece.end());
  return pattern;
}

}  // namespace quarn::testing

#pragma once

// What the container fuzz targets share: a check that stops the run where it fails, and the
// input as a file the openers read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/forwarding_file.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn::fuzz {

inline void CheckAt(bool condition, const char* file, int line) {
  if (condition) return;
  std::fprintf(stderr, "%s:%d: check failed\n", file, line);
  std::abort();
}

// The fuzz input as a read-only file of its own.
inline std::shared_ptr<File> InputFile(const uint8_t* data, size_t size) {
  MemoryFileSystem files;
  CheckAt(files.AddFile("/input", std::vector<uint8_t>(data, data + size)).ok(), __FILE__,
          __LINE__);
  auto root = files.OpenFolder("/");
  CheckAt(root.ok(), __FILE__, __LINE__);
  auto file = (*root)->OpenFile("input", OpenMode::kRead);
  CheckAt(file.ok(), __FILE__, __LINE__);
  return std::shared_ptr<File>(std::move(*file));
}

// A file that remembers the farthest byte a read reached: a read past a limit shows.
class WatchedInput : public ForwardingFile {
 public:
  explicit WatchedInput(File& file) : ForwardingFile(file) {}
  uint32_t Read(void* buffer, uint32_t length) override {
    const uint64_t at = Position();
    const uint32_t got = ForwardingFile::Read(buffer, length);
    if (got > 0) farthest_end = std::max(farthest_end, at + got);
    return got;
  }
  uint64_t farthest_end = 0;
};

}  // namespace quarn::fuzz

#define Check(condition) ::quarn::fuzz::CheckAt(condition, __FILE__, __LINE__)

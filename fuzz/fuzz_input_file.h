#pragma once

// What the container fuzz targets share: a check that stops the run where it fails, and the
// input as a file the openers read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/memory_file_system.h"

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

}  // namespace quarn::fuzz

#define Check(condition) ::quarn::fuzz::CheckAt(condition, __FILE__, __LINE__)

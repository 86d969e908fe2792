#pragma once

// For tests: bytes as a file a detector can read.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"

namespace quarn::testing {

// Places `bytes` at `/name` in `files`, replacing what was there, and opens it for reading;
// nullptr (and a failed test) when it cannot be opened.
inline std::unique_ptr<File> OpenBytes(MemoryFileSystem& files, const std::vector<uint8_t>& bytes,
                                       const std::string& name = "file") {
  EXPECT_TRUE(files.AddFile("/" + name, bytes).ok());
  Result<std::unique_ptr<Folder>> folder = files.OpenFolder("/");
  if (!folder) return nullptr;
  Result<std::unique_ptr<File>> file = (*folder)->OpenFile(name, OpenMode::kRead);
  EXPECT_TRUE(file.ok()) << file.message();
  return file ? std::move(*file) : nullptr;
}

}  // namespace quarn::testing

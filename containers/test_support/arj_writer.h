#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A writer of ARJ archives of stored files, for fixtures and the samples: the main header,
// one header for each file (method 0, its CRC-32), each header with the CRC-32 the format asks
// for, and the end mark. Names are written as given ("/" between folders, the flag that says
// so set), in code page 437 bytes. Deterministic: every header carries the same time.
namespace quarn::testing {

class ArjWriter {
 public:
  ArjWriter& Add(const std::string& name, std::vector<uint8_t> bytes);
  std::vector<uint8_t> Build() const;

 private:
  struct Entry {
    std::string name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Entry> entries_;
};

}  // namespace quarn::testing

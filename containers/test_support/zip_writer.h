#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quarn::testing {

// A ZIP archive of stored (uncompressed) entries, names as given ("/" between folders), for
// tests that need an archive without a packer at hand.
class ZipWriter {
 public:
  ZipWriter& Add(std::string name, std::vector<uint8_t> bytes);
  std::vector<uint8_t> Build() const;

 private:
  std::vector<std::pair<std::string, std::vector<uint8_t>>> entries_;
};

}  // namespace quarn::testing

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A writer of LZH archives for fixtures: stored files (-lh0-), folders (-lhd-) and entries of
// any method with packed bytes given as they are, under level 0, 1 or 2 headers, with the
// header checksums and data CRCs the format asks for. Deterministic: the same calls give the
// same bytes, and the offsets accessors say where Build() put each part, so a test may
// damage it.
namespace quarn::testing {

// CRC-16 as LZH archives keep it (reflected polynomial 0xA001, starting at 0).
uint16_t LzhCrc16(std::span<const uint8_t> bytes);

class LzhWriter {
 public:
  static constexpr uint8_t kOsMsDos = 'M';
  static constexpr uint8_t kOsUnix = 'U';
  // Fields every header level keeps at the same place.
  static constexpr size_t kMethodOffset = 2;
  static constexpr size_t kMethodLength = 5;
  static constexpr size_t kPackedSizeOffset = 7;
  static constexpr size_t kOriginalSizeOffset = 11;
  static constexpr size_t kLevelOffset = 20;
  // The time every entry carries: 1994-06-01 12:00:00 UTC as a Unix time (level 2), and the
  // same day and hour in DOS form (levels 0 and 1).
  static constexpr uint32_t kUnixTime = 770472000;

  // How the entries added from now on are written: header level 0, 1 or 2 (0 by default).
  LzhWriter& Level(int level);
  // Folder names in the path extended header (0xFF between them) rather than in the name
  // with "\" between them; levels 1 and 2 only, on by default for level 2.
  LzhWriter& PathHeader(bool on);
  // The system that made the entry, for levels 1 and 2 (level 0 has no field for it).
  LzhWriter& Os(uint8_t os);

  // `path` has "/" between folders; its bytes are stored as given (code page 437 or any).
  LzhWriter& AddFile(const std::string& path, const std::vector<uint8_t>& bytes);
  // A folder entry; `path` may end in "/".
  LzhWriter& AddFolder(const std::string& path);
  // An entry of `method` ("-lh5-") whose packed data is `packed` as given, with the sizes
  // and CRC the header is to claim.
  LzhWriter& AddPacked(const std::string& path, const std::string& method,
                       std::vector<uint8_t> packed, uint32_t original_size, uint16_t crc);
  // Leaves out the 0 byte that ends an archive.
  LzhWriter& WithoutEndMark();

  // The archive; every entry's header, then its packed data, then the end byte.
  std::vector<uint8_t> Build() const;
  // Where entry `index`'s header and packed data start in what Build() gives.
  size_t HeaderOffset(size_t index) const;
  size_t DataOffset(size_t index) const;

 private:
  struct Entry {
    std::string folder;  // "/" between folders, no trailing "/"
    std::string name;    // empty for a folder entry
    std::string method;
    std::vector<uint8_t> packed;
    uint32_t original_size = 0;
    uint16_t crc = 0;
    int level = 0;
    bool path_header = false;
    uint8_t os = kOsMsDos;
  };

  static std::vector<uint8_t> Header(const Entry& entry);
  LzhWriter& Add(Entry entry);

  std::vector<Entry> entries_;
  int level_ = 0;
  bool path_header_ = false;
  bool path_header_set_ = false;
  uint8_t os_ = kOsMsDos;
  bool end_mark_ = true;
};

}  // namespace quarn::testing

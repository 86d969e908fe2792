#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <string>
#include <utility>
#include <vector>

namespace quarn::testing {

// A .cvd/.cld as ClamAV ships one: a 512-byte "ClamAV-VDB:" header padded with blanks, then a
// tar archive of the record files, gzipped or not. Written by libarchive's own writer.
inline std::vector<uint8_t> ClamavDatabase(
    const std::vector<std::pair<std::string, std::string>>& members, bool gzipped) {
  struct archive* writer = archive_write_new();
  archive_write_set_format_ustar(writer);
  if (gzipped) archive_write_add_filter_gzip(writer);
  std::vector<char> buffer(8 << 20);
  size_t used = 0;
  archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
  for (const auto& [name, text] : members) {
    struct archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(text.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, text.data(), text.size());
    archive_entry_free(entry);
  }
  archive_write_close(writer);
  archive_write_free(writer);
  std::string header =
      "ClamAV-VDB:07 Dec 2026 10-00 "
      "+0000:27000:3:90:d41d8cd98f00b204e9800998ecf8427e::test:1796551200";
  header.resize(512, ' ');
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(used));
  return bytes;
}

}  // namespace quarn::testing

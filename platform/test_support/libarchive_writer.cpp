#include "platform/test_support/libarchive_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include "platform/libarchive_handles.h"

namespace quarn::testing {

std::vector<uint8_t> WriteWithLibarchive(
    int format, int filter, const std::vector<std::pair<std::string, std::string>>& entries,
    const std::string& options) {
  size_t total = 0;
  for (const auto& [name, bytes] : entries) total += name.size() + bytes.size() + 4096;
  std::vector<uint8_t> buffer(total + (1 << 20));
  size_t used = 0;
  const ArchiveWriteHandle handle(archive_write_new());
  struct archive* writer = handle.get();
  archive_write_set_format(writer, format);
  if (filter != ARCHIVE_FILTER_NONE) archive_write_add_filter(writer, filter);
  if (!options.empty()) archive_write_set_options(writer, options.c_str());
  archive_write_open_memory(writer, buffer.data(), buffer.size(), &used);
  for (const auto& [name, bytes] : entries) {
    const ArchiveEntryHandle owned(archive_entry_new());
    struct archive_entry* entry = owned.get();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_size(entry, static_cast<la_int64_t>(bytes.size()));
    archive_write_header(writer, entry);
    archive_write_data(writer, bytes.data(), bytes.size());
  }
  archive_write_close(writer);
  buffer.resize(used);
  return buffer;
}

}  // namespace quarn::testing

#include "imported/clamav_import.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "imported/clamav_records.h"
#include "platform/file_contents.h"

namespace quarn {
namespace {

constexpr size_t kDatabaseHeaderBytes = 512;
constexpr std::string_view kDatabaseMagic = "ClamAV-VDB:";
constexpr size_t kBlockBytes = 64 * 1024;
// A line longer than this is no record of any form: it is skipped whole.
constexpr size_t kLongestLine = 1 << 20;

bool IsDatabaseFile(const std::string& name) {
  const std::string form = FormName(name);
  return form == "cvd" || form == "cld";
}

// Splits a stream of blocks into lines, handing each to `take`; a line past kLongestLine is
// handed over cut, flagged.
class LineSplitter {
 public:
  template <typename Take>
  void Feed(std::string_view bytes, Take&& take) {
    while (!bytes.empty()) {
      const size_t end = bytes.find('\n');
      const std::string_view piece = bytes.substr(0, end);
      if (pending_.size() + piece.size() > kLongestLine) {
        overlong_ = true;
      } else {
        pending_.append(piece);
      }
      if (end == std::string_view::npos) return;
      Emit(take);
      bytes.remove_prefix(end + 1);
    }
  }
  template <typename Take>
  void Finish(Take&& take) {
    if (!pending_.empty() || overlong_) Emit(take);
  }

 private:
  template <typename Take>
  void Emit(Take&& take) {
    ++line_;
    take(std::string_view(pending_), line_, overlong_);
    pending_.clear();
    overlong_ = false;
  }
  std::string pending_;
  bool overlong_ = false;
  uint64_t line_ = 0;
};

// The database's tar archive, read through libarchive from just past the header.
struct TarSource {
  File* file;
  std::array<uint8_t, kBlockBytes> block;
};

la_ssize_t ReadTar(struct archive*, void* data, const void** out) {
  auto* source = static_cast<TarSource*>(data);
  *out = source->block.data();
  return source->file->Read(source->block.data(), static_cast<uint32_t>(source->block.size()));
}

}  // namespace

Status ClamavImport::AddSource(FileSystem& files, const std::string& path) {
  if (auto folder = files.OpenFolder(path)) {
    auto entries = (*folder)->List();
    if (!entries) return entries.status();
    std::vector<std::string> names;
    for (const FolderEntry& entry : *entries) {
      const bool known =
          IsDatabaseFile(entry.name) || FormOfMember(entry.name) != RecordForm::kNoSignatures;
      if (entry.kind == EntryKind::kFile && known) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (Status added = AddFile(**folder, name, name); !added) return added;
    }
    return Status::Ok();
  }
  const auto [folder_path, name] = SplitHostPath(path);
  auto folder = files.OpenFolder(folder_path);
  if (!folder) return folder.status();
  return AddFile(**folder, name, name);
}

Status ClamavImport::AddFile(Folder& folder, const std::string& name, const std::string& shown) {
  auto file = folder.OpenFile(name, OpenMode::kRead);
  if (!file) return file.status();
  const std::string path = folder.Path() + "/" + name;
  if (IsDatabaseFile(name)) {
    if (Status added = AddDatabase(**file, shown); !added) {
      return Status::Error(path + ": " + added.message());
    }
    return Status::Ok();
  }
  const std::string form = FormName(name);
  if (form == "cbc") {
    report_.CountSkipped(form, "form not imported");
    return Status::Ok();
  }
  LineSplitter lines;
  std::array<char, kBlockBytes> block;
  const RecordForm kind = FormOfMember(name);
  const auto take = [&](std::string_view line, uint64_t number, bool overlong) {
    TakeLine(kind, form, line, shown + ":" + std::to_string(number), overlong);
  };
  while (true) {
    const uint32_t got = (*file)->Read(block.data(), static_cast<uint32_t>(block.size()));
    if (got == 0) break;
    lines.Feed(std::string_view(block.data(), got), take);
  }
  lines.Finish(take);
  return Status::Ok();
}

Status ClamavImport::AddDatabase(File& file, const std::string& shown) {
  std::array<char, kDatabaseHeaderBytes> header{};
  if (file.Read(header.data(), header.size()) != header.size() ||
      std::string_view(header.data(), kDatabaseMagic.size()) != kDatabaseMagic) {
    return Status::Error("not a ClamAV database: no \"ClamAV-VDB:\" header");
  }
  TarSource source{&file, {}};
  struct archive* tar = archive_read_new();
  archive_read_support_filter_gzip(tar);
  archive_read_support_format_tar(tar);
  archive_read_set_callback_data(tar, &source);
  archive_read_set_read_callback(tar, &ReadTar);
  const auto damaged = [&](std::string_view what) {
    const char* cause = archive_error_string(tar);
    Status error = Status::Error("damaged " + std::string(what) + ": " +
                                 (cause != nullptr ? cause : "unreadable"));
    archive_read_free(tar);
    return error;
  };
  if (archive_read_open1(tar) != ARCHIVE_OK) return damaged("archive");
  struct archive_entry* entry = nullptr;
  while (true) {
    const int status = archive_read_next_header(tar, &entry);
    if (status == ARCHIVE_EOF) break;
    if (status < ARCHIVE_WARN) return damaged("archive");
    const char* stored = archive_entry_pathname(entry);
    const std::string member = stored != nullptr ? stored : "";
    const std::string form = FormName(member);
    const RecordForm kind = FormOfMember(member);
    if (kind == RecordForm::kNoSignatures || archive_entry_filetype(entry) != AE_IFREG) continue;
    if (form == "cbc") {
      report_.CountSkipped(form, "form not imported");
      continue;
    }
    LineSplitter lines;
    const auto take = [&](std::string_view line, uint64_t number, bool overlong) {
      TakeLine(kind, form, line, shown + ":" + member + ":" + std::to_string(number), overlong);
    };
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    while (true) {
      const int read = archive_read_data_block(tar, &block, &size, &offset);
      if (read == ARCHIVE_EOF) break;
      if (read < ARCHIVE_WARN) return damaged("member " + member);
      lines.Feed(std::string_view(static_cast<const char*>(block), size), take);
    }
    lines.Finish(take);
  }
  archive_read_free(tar);
  return Status::Ok();
}

void ClamavImport::TakeLine(RecordForm kind, const std::string& form, std::string_view line,
                            const std::string& where, bool overlong) {
  if (overlong) {
    report_.CountSkipped(form, "malformed");
    return;
  }
  RecordLine parsed = ParseRecordLine(kind, line, where);
  if (parsed.signature) {
    report_.CountImported(form);
    sink_.Take(std::move(*parsed.signature));
  } else if (!parsed.skipped.empty()) {
    report_.CountSkipped(form, parsed.skipped);
  }
}

}  // namespace quarn

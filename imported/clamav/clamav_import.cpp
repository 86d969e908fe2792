#include "imported/clamav/clamav_import.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <optional>

#include "imported/clamav/clamav_records.h"
#include "imported/clamav/database_body.h"
#include "platform/file_contents.h"
#include "platform/libarchive_handles.h"

namespace quarn {
namespace {

constexpr size_t kDatabaseHeaderBytes = 512;
constexpr std::string_view kDatabaseMagic = "ClamAV-VDB:";
// The header's colon-separated fields: magic, build time, version, signatures, level, the
// body's MD5, the digital signature, builder, build time in seconds.
constexpr size_t kHeaderVersionField = 2;
constexpr size_t kHeaderMd5Field = 5;
constexpr size_t kBlockBytes = 64 * 1024;
// A line longer than this is no record of any form: it is skipped whole.
constexpr size_t kLongestLine = 1 << 20;

bool IsDatabaseFile(const std::string& name) {
  const std::string form = FormName(name);
  return form == "cvd" || form == "cld";
}

bool IsWithdrawalFile(std::string_view name) {
  const std::string form = FormName(name);
  return form == "ign2" || form == "ign";
}

std::string LineMd5(std::string_view line) {
  static const char kDigits[] = "0123456789abcdef";
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(line.data(), line.size(), digest, &size, EVP_md5(), nullptr);
  std::string hex;
  for (unsigned int at = 0; at < size; ++at) {
    hex += kDigits[digest[at] >> 4];
    hex += kDigits[digest[at] & 15];
  }
  return hex;
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

// The header's field `index`, blanks at its end (the header's padding) cut.
std::string HeaderField(std::string_view header, size_t index) {
  for (size_t field = 0; field < index; ++field) {
    const size_t colon = header.find(':');
    if (colon == std::string_view::npos) return "";
    header.remove_prefix(colon + 1);
  }
  header = header.substr(0, header.find(':'));
  while (!header.empty() && (header.back() == ' ' || header.back() == '\0')) {
    header.remove_suffix(1);
  }
  return std::string(header);
}

// The version a .cvd/.cld's header names; nothing when it has no readable header.
std::optional<uint64_t> DatabaseVersion(Folder& folder, const std::string& name) {
  auto file = folder.OpenFile(name, OpenMode::kRead);
  std::array<char, kDatabaseHeaderBytes> header{};
  if (!file || (*file)->Read(header.data(), header.size()) != header.size()) return std::nullopt;
  const std::string_view text(header.data(), header.size());
  if (text.substr(0, kDatabaseMagic.size()) != kDatabaseMagic) return std::nullopt;
  const std::string version = HeaderField(text, kHeaderVersionField);
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(version.data(), version.data() + version.size(), value);
  if (version.empty() || error != std::errc() || end != version.data() + version.size()) {
    return std::nullopt;
  }
  return value;
}

// The database's tar archive, read through libarchive from just past the header.
la_ssize_t ReadTar(struct archive*, void* data, const void** out) {
  return static_cast<la_ssize_t>(static_cast<DatabaseBody*>(data)->Next(out));
}

}  // namespace

// freshclam leaves main.cvd beside the main.cld it keeps up to date from it: ClamAV reads the
// newer alone (the .cld when both name one version), or withdrawn signatures would stay and
// the rest be stored twice. A form whose header does not read is kept, to be refused with its
// cause.
void ClamavImport::PassOverOlderForms(Folder& folder, std::vector<std::string>& names) {
  std::vector<std::string> older;
  for (const std::string& name : names) {
    if (FormName(name) != "cvd") continue;
    const std::string stem = name.substr(0, name.size() - 3);
    const auto updated = std::find_if(names.begin(), names.end(), [&](const std::string& other) {
      return other.size() == name.size() && other.compare(0, stem.size(), stem) == 0 &&
             FormName(other) == "cld";
    });
    if (updated == names.end()) continue;
    const std::optional<uint64_t> packed = DatabaseVersion(folder, name);
    const std::optional<uint64_t> kept = DatabaseVersion(folder, *updated);
    if (!packed || !kept) continue;
    const bool cvd_newer = *packed > *kept;
    const std::string& dropped = cvd_newer ? *updated : name;
    older.push_back(dropped);
    if (!withdrawals_pass_) {
      report_.AddNote(dropped + ": passed over for " + (cvd_newer ? name : *updated) +
                      " (version " + std::to_string(cvd_newer ? *packed : *kept) + " beside " +
                      std::to_string(cvd_newer ? *kept : *packed) + ")");
    }
  }
  std::erase_if(names, [&](const std::string& name) {
    return std::find(older.begin(), older.end(), name) != older.end();
  });
}

Status ClamavImport::AddWithdrawals(FileSystem& files, const std::string& path) {
  withdrawals_pass_ = true;
  Status read = AddSource(files, path);
  withdrawals_pass_ = false;
  return read;
}

bool ClamavImport::Reads(std::string_view name) const {
  return IsWithdrawalFile(name) == withdrawals_pass_;
}

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
    PassOverOlderForms(**folder, names);
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
  if (!Reads(name)) return Status::Ok();
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
  // A .cld is a .cvd updated in place by its differences: its header's MD5 is the .cvd's, not
  // its own, and ClamAV checks it for .cvd files only.
  const std::string_view name(shown);
  const bool packed = FormName(name) == "cvd";
  const std::string expected_md5 =
      packed ? HeaderField(std::string_view(header.data(), header.size()), kHeaderMd5Field) : "";
  if (packed && expected_md5.size() != 32) {
    return Status::Error("damaged header: no MD5 of the body");
  }
  // ClamAV's key is built into its own library, not kept where another program finds it.
  if (packed && !withdrawals_pass_) {
    report_.AddNote(shown + ": digital signature not checked (no ClamAV public key at hand)");
  }
  // The gzip stream is unpacked here, not by libarchive, which checks neither its CRC nor its
  // length.
  DatabaseBody body(file);
  const ArchiveReadHandle handle(archive_read_new());
  struct archive* tar = handle.get();
  archive_read_support_format_tar(tar);
  archive_read_set_callback_data(tar, &body);
  archive_read_set_read_callback(tar, &ReadTar);
  const auto damaged = [&](std::string_view what) {
    const char* cause = archive_error_string(tar);
    Status error =
        Status::Error(!body.error().empty() ? body.error()
                                            : "damaged " + std::string(what) + ": " +
                                                  (cause != nullptr ? cause : "unreadable"));
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
    if (kind == RecordForm::kNoSignatures || archive_entry_filetype(entry) != AE_IFREG ||
        !Reads(member)) {
      continue;
    }
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
  return body.Finish(expected_md5);
}

void ClamavImport::TakeLine(RecordForm kind, const std::string& form, std::string_view line,
                            const std::string& where, bool overlong) {
  if (overlong) {
    report_.CountSkipped(form, "malformed");
    return;
  }
  if (withdrawals_pass_) {
    TakeWithdrawal(form, line);
    return;
  }
  RecordLine parsed = ParseRecordLine(kind, line, where);
  if (parsed.signature && IsWithdrawn(parsed.signature->name, line)) {
    report_.CountSkipped(form, "withdrawn");
  } else if (parsed.signature) {
    report_.CountImported(form);
    sink_.Take(std::move(*parsed.signature));
  } else if (!parsed.skipped.empty()) {
    report_.CountSkipped(form, parsed.skipped);
  }
}

}  // namespace quarn

namespace quarn {

// ".ign2": "Name" or "Name:MD5" (of the record's whole line, its line end cut); the older
// ".ign": "database:line:Name", the name alone counting.
void ClamavImport::TakeWithdrawal(const std::string& form, std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.empty() || line.front() == '#') return;
  std::vector<std::string_view> fields;
  for (size_t start = 0;;) {
    const size_t colon = line.find(':', start);
    fields.push_back(line.substr(start, colon - start));
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  const bool hashed = fields.size() == 2;
  const std::string_view name = fields.size() == 3 ? fields[2] : fields[0];
  if (fields.size() > 3 || name.empty() ||
      (hashed && (fields[1].size() != 32 ||
                  fields[1].find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))) {
    report_.CountSkipped(form, "malformed");
    return;
  }
  if (!hashed) {
    withdrawn_names_.emplace(name);
    return;
  }
  std::string md5(fields[1]);
  std::transform(md5.begin(), md5.end(), md5.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  withdrawn_lines_.emplace(std::string(name), std::move(md5));
}

bool ClamavImport::IsWithdrawn(const std::string& name, std::string_view line) const {
  if (withdrawn_names_.count(name) != 0) return true;
  const auto [first, last] = withdrawn_lines_.equal_range(name);
  if (first == last) return false;
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::string md5 = LineMd5(line);
  return std::any_of(first, last, [&](const auto& withdrawn) { return withdrawn.second == md5; });
}

}  // namespace quarn

#include "platform/mount_table.h"

#include <cerrno>
#include <charconv>
#include <fstream>

#include "platform/path_names.h"

namespace quarn {
namespace {

bool IsOctalDigit(char c) {
  return c >= '0' && c <= '7';
}

// The kernel writes space, tab, newline and backslash in paths as "\ooo"; any other backslash
// is taken as it stands.
std::string DecodeOctalEscapes(std::string_view field) {
  std::string decoded;
  decoded.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    // Three octal digits beginning with 0 to 3 fit in a byte.
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
      decoded += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                   (field[i + 3] - '0'));
      i += 3;
    } else {
      decoded += field[i];
    }
  }
  return decoded;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string_view::npos) end = line.size();
    if (end > start) fields.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return fields;
}

bool ParseUnsigned(std::string_view text, unsigned& number) {
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

bool ParseDeviceNumber(std::string_view text, MountEntry& entry) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  return ParseUnsigned(text.substr(0, colon), entry.major) &&
         ParseUnsigned(text.substr(colon + 1), entry.minor);
}

bool ParseLine(std::string_view line, MountEntry& entry) {
  constexpr size_t kId = 0, kParent = 1, kDevice = 2, kRoot = 3, kPoint = 4, kFirstOptional = 6;
  std::vector<std::string_view> fields = SplitFields(line);
  if (fields.size() < kFirstOptional) return false;
  unsigned id = 0, parent = 0;
  if (!ParseUnsigned(fields[kId], id) || !ParseUnsigned(fields[kParent], parent)) return false;
  if (!ParseDeviceNumber(fields[kDevice], entry)) return false;
  size_t separator = kFirstOptional;
  while (separator < fields.size() && fields[separator] != "-") ++separator;
  // The type and the source follow the separator; the super-block options may be missing.
  if (separator + 2 >= fields.size()) return false;
  entry.root = DecodeOctalEscapes(fields[kRoot]);
  entry.mount_point = DecodeOctalEscapes(fields[kPoint]);
  entry.fs_type = std::string(fields[separator + 1]);
  entry.source = DecodeOctalEscapes(fields[separator + 2]);
  return true;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    MountEntry entry;
    if (ParseLine(text.substr(start, end - start), entry)) entries.push_back(std::move(entry));
    start = end + 1;
  }
  return entries;
}

Result<std::string> ReadMountInfoText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Status::Error(PathMessage("cannot read", path, ErrnoText(errno)));
  // The kernel gives no size for the file, so it is read in pieces; reading past the limit
  // tells a file that ends exactly there from one whose last line would be cut.
  std::string text;
  char piece[16384];
  while (text.size() <= kMaxMountInfoBytes && file.read(piece, sizeof piece).gcount() > 0) {
    text.append(piece, static_cast<size_t>(file.gcount()));
  }
  if (file.bad()) return Status::Error(PathMessage("cannot read", path, ErrnoText(errno)));
  if (text.size() > kMaxMountInfoBytes) {
    size_t last_newline = text.rfind('\n', kMaxMountInfoBytes - 1);
    text.resize(last_newline == std::string::npos ? 0 : last_newline + 1);
  }
  return text;
}

}  // namespace quarn

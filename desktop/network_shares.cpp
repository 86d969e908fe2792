#include "desktop/network_shares.h"

#include <algorithm>
#include <array>
#include <optional>

#include "platform/mount_table.h"

namespace quarn::window {
namespace {

enum class SourceShape { kServerColonPath, kDoubleSlash, kUserAtHost };

std::optional<SourceShape> ShapeOf(std::string_view fs_type) {
  if (fs_type == "nfs" || fs_type == "nfs4") return SourceShape::kServerColonPath;
  if (fs_type == "cifs" || fs_type == "smb3" || fs_type == "smbfs")
    return SourceShape::kDoubleSlash;
  if (fs_type == "fuse.sshfs" || fs_type == "sshfs") return SourceShape::kUserAtHost;
  return std::nullopt;
}

std::string Backslashed(std::string_view path) {
  while (!path.empty() && (path.front() == '/' || path.front() == '\\')) path.remove_prefix(1);
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
  std::string text(path);
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

// "server:/path", "[v6::addr]:/path"
bool SplitHostAndPath(std::string_view source, NetworkShare& share) {
  size_t colon = std::string_view::npos;
  if (source.starts_with('[')) {
    const size_t close = source.find(']');
    if (close == std::string_view::npos || close + 1 >= source.size() || source[close + 1] != ':')
      return false;
    share.server = std::string(source.substr(1, close - 1));
    colon = close + 1;
  } else {
    colon = source.find(':');
    if (colon == std::string_view::npos) return false;
    share.server = std::string(source.substr(0, colon));
  }
  share.share = Backslashed(source.substr(colon + 1));
  return true;
}

bool ParseSource(SourceShape shape, std::string_view source, NetworkShare& share) {
  switch (shape) {
    case SourceShape::kDoubleSlash: {
      if (!(source.starts_with("//") || source.starts_with("\\\\"))) return false;
      source.remove_prefix(2);
      const size_t slash = source.find_first_of("/\\");
      if (slash == std::string_view::npos) return false;
      share.server = std::string(source.substr(0, slash));
      share.share = Backslashed(source.substr(slash + 1));
      break;
    }
    case SourceShape::kServerColonPath:
      if (!SplitHostAndPath(source, share)) return false;
      break;
    case SourceShape::kUserAtHost: {
      const size_t at = source.find('@');
      if (at != std::string_view::npos) source.remove_prefix(at + 1);
      if (!SplitHostAndPath(source, share)) return false;
      if (share.share.empty()) share.share.push_back('~');  // the user's home folder on the host
      break;
    }
  }
  return !share.server.empty() && !share.share.empty();
}

std::string DomainOf(std::string_view options) {
  constexpr std::array<std::string_view, 3> kDomainOptions = {"domain=", "dom=", "workgroup="};
  while (!options.empty()) {
    const size_t comma = options.find(',');
    const std::string_view option = options.substr(0, comma);
    for (std::string_view name : kDomainOptions) {
      if (option.starts_with(name)) return std::string(option.substr(name.size()));
    }
    if (comma == std::string_view::npos) break;
    options.remove_prefix(comma + 1);
  }
  return {};
}

// The super-block options: the field after the type and the source, which follow " - ".
std::string_view SuperOptionsOf(std::string_view line) {
  const size_t separator = line.find(" - ");
  if (separator == std::string_view::npos) return {};
  std::string_view rest = line.substr(separator + 3);
  for (int skip = 0; skip < 2; ++skip) {
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) return {};
    rest.remove_prefix(blank + 1);
  }
  return rest.substr(0, rest.find(' '));
}

}  // namespace

std::vector<NetworkShare> NetworkSharesFromMountInfo(std::string_view mountinfo) {
  std::vector<NetworkShare> shares;
  while (!mountinfo.empty()) {
    const size_t end = mountinfo.find('\n');
    const std::string_view line = mountinfo.substr(0, end);
    mountinfo.remove_prefix(end == std::string_view::npos ? mountinfo.size() : end + 1);
    // One line at a time, so the options read below belong to the entry parsed here.
    const std::vector<MountEntry> entries = ParseMountInfo(line);
    if (entries.size() != 1) continue;
    const std::optional<SourceShape> shape = ShapeOf(entries[0].fs_type);
    if (!shape) continue;
    NetworkShare share;
    if (!ParseSource(*shape, entries[0].source, share)) continue;
    share.domain = DomainOf(SuperOptionsOf(line));
    share.mount_point = entries[0].mount_point;
    shares.push_back(std::move(share));
  }
  return shares;
}

std::vector<NetworkShare> MountedNetworkShares() {
  Result<std::string> text = ReadMountInfoText();
  if (!text) return {};
  return NetworkSharesFromMountInfo(*text);
}

}  // namespace quarn::window
